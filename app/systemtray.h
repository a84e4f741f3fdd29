// The notification-area icon: brings the window back and offers the quit command. It matters
// most when the program starts with "-autorun" and the window stays hidden.
#pragma once

#include <QSystemTrayIcon>

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
};

} // namespace corvane::app
