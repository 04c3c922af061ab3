#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>

class QCloseEvent;
class QWidget;
class VpnController;

// The window's notification-area icon and what closing the window means. The VPN runs as a
// service, so closing the window is not quitting: with a tray the window only hides. Quit,
// chosen from the icon's menu, waits for a connect or disconnect under way and never stops the
// tunnel.
class TrayController : public QObject
{
    Q_OBJECT

public:
    // The desktop as far as this class uses it; tests replace what they cannot drive offscreen.
    struct Desktop
    {
        std::function<bool()> trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
        std::function<void()> quitApplication = &QCoreApplication::quit;
    };

    // Owned by `window`; follows `controller` for as long as both live.
    TrayController(QWidget &window, const VpnController &controller);

    // Replaces the desktop; the icon shows only while it has a tray.
    void setDesktop(Desktop desktop);
    QSystemTrayIcon *trayIcon() const { return m_icon; }
    bool quitRequested() const { return m_quitRequested; }

    // The Quit command: quits now, or once the connect or disconnect under way has ended.
    void requestQuit();
    // The window's close: hides, warns, asks, or lets it close, and accepts or ignores `event`.
    void handleClose(QCloseEvent *event);

signals:
    // For the window's message area.
    void messageRaised(const QString &text);
    void quickGuideRequested();

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    void showMenu();
    void runCommand(int command);
    void showWindow();
    void controllerChanged();
    void quit();
    // Connecting or disconnecting, the adapter's operation included.
    bool busy() const;

    QWidget &m_window;
    const VpnController &m_controller;
    Desktop m_desktop;
    QSystemTrayIcon *m_icon;
    // Zero delay: a Quit from the menu runs after the menu's modal loop, a completed wait after
    // the controller's report.
    QTimer m_quitTimer;
    bool m_quitRequested = false;
};
