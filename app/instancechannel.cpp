#include "app/instancechannel.h"

#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace corvane::app {
namespace {

const QByteArray kQuestion = "give-way\n";
const QByteArray kBusy = "busy\n";
const QByteArray kIdle = "idle\n";

} // namespace

QString instanceChannelName()
{
    return QStringLiteral("Corvane-%1").arg(::getuid());
}

InstanceChannel::InstanceChannel(QString name, std::function<bool()> isBusy, QObject* parent)
    : QObject(parent), m_name(std::move(name)), m_isBusy(std::move(isBusy)), m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::answer);
}

InstanceChannel::~InstanceChannel() = default;

bool InstanceChannel::listen()
{
    QLocalServer::removeServer(m_name);
    return m_server->listen(m_name);
}

void InstanceChannel::answer()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            if (socket->readLine() != kQuestion) {
                socket->disconnectFromServer();
                return;
            }
            const bool busy = m_isBusy && m_isBusy();
            socket->write(busy ? kBusy : kIdle);
            socket->flush();
            socket->disconnectFromServer();
            if (busy)
                emit showRequested();
            else
                emit quitRequested();
        });
    }
}

InstanceChannel::Reply InstanceChannel::askToGiveWay(const QString& name, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(timeoutMs))
        return Reply::NoInstance;
    socket.write(kQuestion);
    socket.flush();
    QByteArray reply;
    while (!reply.endsWith('\n') && socket.waitForReadyRead(timeoutMs))
        reply += socket.readAll();
    reply += socket.readAll();
    return reply == kIdle ? Reply::Idle : Reply::Busy;
}

} // namespace corvane::app
