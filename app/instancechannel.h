// How copies of the window program meet: each listens on a local socket with a per-user name.
// A copy that starts asks the one already there to give way. One that runs a job never does: it
// shows its window and the new copy leaves; an idle one quits, as the single-copy rule asks.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

namespace corvane::app {

// The socket name of the current user's copies.
QString instanceChannelName();

class InstanceChannel : public QObject
{
    Q_OBJECT

public:
    // `isBusy` tells whether a job is running now; asked on this object's thread.
    InstanceChannel(QString name, std::function<bool()> isBusy, QObject* parent = nullptr);
    ~InstanceChannel() override;

    // Takes the name over (a stale socket of a copy that died is removed first).
    bool listen();

    enum class Reply
    {
        NoInstance, // nobody listens: no other copy runs
        Busy,       // a copy runs a job: it shows its window, the new copy must leave
        Idle        // a copy was idle and quits now
    };
    // Asks the copy listening on `name` to give way; blocks up to `timeoutMs`. A copy that
    // accepts the question but does not answer in time counts as busy: it must not be ended.
    static Reply askToGiveWay(const QString& name, int timeoutMs = 5000);

signals:
    // A new copy started while a job runs.
    void showRequested();
    // A new copy started while this one was idle.
    void quitRequested();

private:
    void answer();

    QString m_name;
    std::function<bool()> m_isBusy;
    QLocalServer* m_server = nullptr;
};

} // namespace corvane::app
