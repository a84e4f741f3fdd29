// The notification-area icon: brings the window back and offers the quit command. It matters
// most when the program starts with "-autorun" and the window stays hidden.
#pragma once

#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QAction;
class QMenu;

namespace corvane::app {

class SystemTray : public QSystemTrayIcon
{
    Q_OBJECT

public:
    explicit SystemTray(QObject* parent = nullptr);
    ~SystemTray() override;

    // What "退出程序" does instead of quitting at once (the window asks first during a run).
    void setQuitHandler(std::function<void()> handler) { quitHandler = std::move(handler); }

signals:
    void showWidget();

private slots:
    void UiQuit();
    void ShowUi();

private:
    // A menu cannot have a tray icon as its parent; the tray owns it instead.
    std::unique_ptr<QMenu> trayMenu;
    QAction* showAction = nullptr;
    QAction* quitAction = nullptr;
    std::function<void()> quitHandler;
};

} // namespace corvane::app
