#include "app/systemtray.h"

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>

namespace corvane::app {

SystemTray::SystemTray(QObject* parent) : QSystemTrayIcon(parent), trayMenu(std::make_unique<QMenu>())
{
    showAction = new QAction(QStringLiteral("软件设置"), this);
    quitAction = new QAction(QStringLiteral("退出程序"), this);
    trayMenu->addAction(showAction);
    trayMenu->addAction(quitAction);
    setContextMenu(trayMenu.get());
    setIcon(QIcon(QStringLiteral(":/images/qrt.ico")));
    setToolTip(QStringLiteral("Corvane"));
    setVisible(true);
    connect(showAction, &QAction::triggered, this, &SystemTray::ShowUi, Qt::UniqueConnection);
    connect(quitAction, &QAction::triggered, this, &SystemTray::UiQuit, Qt::UniqueConnection);
}

SystemTray::~SystemTray() = default;

void SystemTray::UiQuit()
{
    if (quitHandler)
        quitHandler();
    else
        QCoreApplication::quit();
}

void SystemTray::ShowUi()
{
    emit showWidget();
}

} // namespace corvane::app
