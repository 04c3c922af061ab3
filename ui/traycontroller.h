#pragma once

#include "platform/traymenu.h"

#include <QCoreApplication>
#include <QIcon>
#include <QObject>
#include <QOperatingSystemVersion>
#include <QSystemTrayIcon>
#include <QTimer>

#include <functional>
#include <vector>

class QCloseEvent;
class QWidget;
class VpnController;
struct ThemePalette;

// The window's notification-area icon and what closing the window means. The VPN runs as a
// service, so closing the window is not quitting: with a tray the window only hides. Quit,
// chosen from the icon's menu, waits for a connect or disconnect under way and never stops the
// tunnel. The icon, its tool tip and its menu follow the connection; while the window is hidden or
// minimised, connecting, a failed connect, a tunnel brought back and an unexpected stop are told
// in notifications.
class TrayController : public QObject
{
    Q_OBJECT

public:
    // The desktop as far as this class uses it; tests replace what they cannot drive offscreen.
    struct Desktop
    {
        std::function<bool()> trayAvailable = &QSystemTrayIcon::isSystemTrayAvailable;
        std::function<void()> quitApplication = &QCoreApplication::quit;
        // Shows a notification; empty means the tray icon's message balloon.
        std::function<void(const QString &title, const QString &text)> notify;
        // Windows and macOS show the tray's texts as they are. Other desktops take notification
        // bodies as markup, and the toolkit's own tray there guesses markup in its tool tip.
        bool readsMarkup =
            QOperatingSystemVersion::currentType() != QOperatingSystemVersion::Windows &&
            QOperatingSystemVersion::currentType() != QOperatingSystemVersion::MacOS;
    };

    // The icon's menu commands; 0 is "nothing chosen".
    enum Command
    {
        OpenWindow = 1,
        QuickGuide = 2,
        Quit = 3,
        Connect = 4,
        Disconnect = 5
    };

    // Owned by `window`; follows `controller` for as long as both live.
    TrayController(QWidget &window, const VpnController &controller);

    // Replaces the desktop; the icon shows only while it has a tray, its tool tip as it reads it.
    void setDesktop(Desktop desktop);
    QSystemTrayIcon *trayIcon() const { return m_icon; }
    bool quitRequested() const { return m_quitRequested; }

    // The Quit command: quits now, or once the connect or disconnect under way has ended.
    void requestQuit();
    // Connecting from the menu needs a signed-in account.
    void setSignedIn(bool signedIn);
    // The menu as it would show now.
    std::vector<platform::TrayMenuEntry> menuEntries() const;
    // Carries out a command of the menu.
    void runCommand(int command);
    bool showsConnectedIcon() const { return m_connectedIconShown; }
    // The window icon with a badge in the palette's accent.
    static QIcon connectedIcon(const QIcon &icon, const ThemePalette &palette);
    // The window's close: hides, warns, asks, or lets it close, and accepts or ignores `event`.
    void handleClose(QCloseEvent *event);
    // Shows, restores and raises the window.
    void showWindow();

signals:
    // For the window's message area.
    void messageRaised(const QString &text);
    void quickGuideRequested();
    // "Connect" or "Disconnect" from the menu.
    void connectRequested();
    void disconnectRequested();

private:
    void activated(QSystemTrayIcon::ActivationReason reason);
    void showMenu();
    void controllerChanged();
    void updateIcon();
    // Sets the tool tip to the plain `text` as the desktop will show it.
    void setToolTip(const QString &text);
    // Where the tunnel leads: the connected server's country, else its address.
    QString connectedPlace() const;
    // Only while nobody is looking at the window, and only when notifications are on.
    void notify(const QString &text);
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
    bool m_signedIn = false;
    bool m_wasRunning = false;
    bool m_wasReconnecting = false;
    // A connect started and has not ended yet: its outcome is news.
    bool m_connectUnderWay = false;
    bool m_connectedIconShown = false;
};
