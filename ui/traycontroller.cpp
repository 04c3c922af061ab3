#include "ui/traycontroller.h"

#include "locations/servercatalogue.h"
#include "locations/serverlocation.h"
#include "settings/settingskeys.h"
#include "ui/theme/themepalette.h"
#include "vpn/vpncontroller.h"

#include <QAction>
#include <QCloseEvent>
#include <QCursor>
#include <QJsonObject>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

QString connectedTo(const QString &place)
{
    return u"Connected to %1"_s.arg(place);
}

// The same menu drawn by the toolkit, where the system has none of its own.
int chooseFromToolkitMenu(QWidget &window, const std::vector<platform::TrayMenuEntry> &entries)
{
    QMenu menu(&window);
    for (const platform::TrayMenuEntry &entry : entries) {
        if (entry.isSeparator()) {
            menu.addSeparator();
        } else {
            QAction *action = menu.addAction(QString::fromStdString(entry.text));
            action->setData(entry.command);
            action->setEnabled(entry.enabled);
        }
    }
    const QAction *chosen = menu.exec(QCursor::pos());
    return chosen ? chosen->data().toInt() : 0;
}

// A word joiner after each "<" and "&": invisible, yet no markup reader takes what follows for a
// tag or an entity. Escaping would not do for the tool tip: the desktop's own tray shows it as
// plain text, entities and all, while the toolkit's tray guesses markup from the first "<" or
// "&lt;".
QString inertToMarkup(QString text)
{
    return text.replace(u'<', u"<\u2060"_s).replace(u'&', u"&\u2060"_s);
}

bool confirmClose(QWidget &window)
{
    return QMessageBox::question(&window, u"Close Solvik VPN?"_s,
                                 u"The VPN service will keep running after you close this "
                                 u"window. Close anyway?"_s,
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

} // namespace

TrayController::TrayController(QWidget &window, const VpnController &controller)
    : QObject(&window)
    , m_window(window)
    , m_controller(controller)
    , m_icon(new QSystemTrayIcon(window.windowIcon(), this))
{
    connect(m_icon, &QSystemTrayIcon::activated, this, &TrayController::activated);
    m_quitTimer.setSingleShot(true);
    m_quitTimer.setInterval(0);
    connect(&m_quitTimer, &QTimer::timeout, this, &TrayController::requestQuit);
    connect(&controller, &VpnController::changed, this, &TrayController::controllerChanged);
    connect(&controller, &VpnController::startFailed, this, &TrayController::notify);
    connect(&controller, &VpnController::connectFailed, this, &TrayController::notify);
    connect(&controller, &VpnController::stoppedUnexpectedly, this, &TrayController::notify);
    setDesktop(Desktop());
}

void TrayController::setDesktop(Desktop desktop)
{
    m_desktop = std::move(desktop);
    m_icon->setVisible(m_desktop.trayAvailable());
    updateIcon();
}

void TrayController::setSignedIn(bool signedIn)
{
    m_signedIn = signedIn;
}

std::vector<platform::TrayMenuEntry> TrayController::menuEntries() const
{
    const bool connected = m_controller.running() && !m_controller.disconnecting();
    const bool blocked = m_controller.blocked();
    platform::TrayMenuEntry connection{connected ? Disconnect : Connect, connected ? "Disconnect"
                                                                         : blocked ? "Reconnect"
                                                                                   : "Connect"};
    connection.enabled = m_signedIn && !busy();
    std::vector<platform::TrayMenuEntry> entries{
        {OpenWindow, "Open Solvik VPN"}, {QuickGuide, "Quick guide"}, connection};
    // Held back after a drop: both ways out of the block are at hand.
    if (blocked) {
        platform::TrayMenuEntry disconnect{Disconnect, "Disconnect"};
        disconnect.enabled = connection.enabled;
        entries.push_back(disconnect);
    }
    entries.push_back(platform::TrayMenuEntry::separator());
    entries.push_back({Quit, "Quit"});
    return entries;
}

QIcon TrayController::connectedIcon(const QIcon &icon, const ThemePalette &palette)
{
    QIcon badged;
    for (const int size : {16, 20, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        icon.paint(&painter, pixmap.rect());
        // Bottom right, ringed in the dark of the rail so it stands out on any taskbar.
        const double diameter = size * 0.5;
        const QRectF badge(size - diameter, size - diameter, diameter, diameter);
        painter.setPen(QPen(palette.badgeRing, std::max(1.0, size / 16.0)));
        painter.setBrush(palette.accent);
        painter.drawEllipse(badge.adjusted(0.5, 0.5, -0.5, -0.5));
        painter.end();
        badged.addPixmap(pixmap);
    }
    return badged;
}

void TrayController::requestQuit()
{
    m_quitRequested = true;
    if (!busy()) {
        quit();
    }
}

void TrayController::handleClose(QCloseEvent *event)
{
    if (m_quitRequested) {
        if (busy()) {
            event->ignore();
        } else {
            event->accept();
            quit();
        }
        return;
    }
    if (m_desktop.trayAvailable()) {
        // Still reachable from the tray.
        m_window.hide();
        event->ignore();
    } else if (busy()) {
        emit messageRaised(u"Please wait for the connection operation to finish."_s);
        event->ignore();
    } else if (m_controller.running() && !confirmClose(m_window)) {
        event->ignore();
    } else {
        event->accept();
    }
}

void TrayController::activated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Trigger:
    case QSystemTrayIcon::DoubleClick:
        showWindow();
        break;
    case QSystemTrayIcon::Context:
        showMenu();
        break;
    default:
        break;
    }
}

void TrayController::showMenu()
{
    const std::vector<platform::TrayMenuEntry> entries = menuEntries();
    // A menu that cannot be built does nothing, like a menu closed without a choice.
    const std::optional<int> chosen =
        platform::hasNativeTrayMenu()
            ? platform::showTrayMenu(static_cast<std::intptr_t>(m_window.winId()), entries)
            : chooseFromToolkitMenu(m_window, entries);
    runCommand(chosen.value_or(0));
}

void TrayController::runCommand(int command)
{
    switch (command) {
    case OpenWindow:
        showWindow();
        break;
    case QuickGuide:
        showWindow();
        emit quickGuideRequested();
        break;
    case Quit:
        m_quitTimer.start();
        break;
    case Connect:
    case Disconnect: {
        // The menu was built a moment ago; the state may have moved on since.
        const auto current = menuEntries();
        const auto entry = std::find_if(
            current.cbegin(), current.cend(),
            [command](const platform::TrayMenuEntry &e) { return e.command == command; });
        if (entry != current.cend() && entry->enabled) {
            if (command == Connect) {
                emit connectRequested();
            } else {
                emit disconnectRequested();
            }
        }
        break;
    }
    default:
        break;
    }
}

void TrayController::showWindow()
{
    m_window.showNormal();
    m_window.raise();
    m_window.activateWindow();
}

void TrayController::controllerChanged()
{
    if (m_quitRequested && !busy()) {
        m_quitTimer.start();
    }
    const bool running = m_controller.running();
    if (m_controller.connecting()) {
        m_connectUnderWay = true;
    }
    if (running && !m_wasRunning && m_connectUnderWay) {
        notify(connectedTo(connectedPlace()));
    }
    if (running || !(m_controller.connecting() || m_controller.busy())) {
        m_connectUnderWay = false;
    }
    // Once per return; a service that gave up is told by the controller's unexpected stop.
    const ConnectionState::Phase phase = m_controller.state().phase;
    if (m_wasReconnecting && phase == ConnectionState::Phase::Connected) {
        notify(u"Reconnected"_s);
    }
    m_wasReconnecting = phase == ConnectionState::Phase::Reconnecting;
    m_wasRunning = running;
    updateIcon();
}

void TrayController::updateIcon()
{
    using Phase = ConnectionState::Phase;
    // A tunnel being brought back carries no traffic: no badge, and the status line's text.
    ConnectionState shown = m_controller.state();
    const bool connected = m_controller.running() && !m_controller.disconnecting() &&
                           shown.phase != Phase::Reconnecting;
    // An operation under way wins over the tunnel, and an unreadable state reads as not connected.
    if (m_controller.disconnecting()) {
        shown.phase = Phase::Disconnecting;
    } else if (m_controller.connecting() || (m_controller.busy() && !m_controller.running())) {
        shown.phase = Phase::Connecting;
    } else if (shown.phase != Phase::Reconnecting && shown.phase != Phase::Blocked) {
        shown.phase = connected ? Phase::Connected : Phase::NotConnected;
    }
    setToolTip(u"Solvik VPN \u00b7 "_s + (shown.phase == Phase::Connected
                                              ? connectedTo(connectedPlace())
                                              : shown.statusText()));
    if (connected != m_connectedIconShown || m_icon->icon().isNull()) {
        m_connectedIconShown = connected;
        m_icon->setIcon(connected
                            ? connectedIcon(m_window.windowIcon(), ThemePalette::fromSettings())
                            : m_window.windowIcon());
    }
}

void TrayController::setToolTip(const QString &text)
{
    const QString shown = m_desktop.readsMarkup ? inertToMarkup(text) : text;
    if (m_icon->toolTip() != shown) {
        m_icon->setToolTip(shown);
    }
}

QString TrayController::connectedPlace() const
{
    const QString id = m_controller.state().serverId;
    for (const api::ServerRecord &record : m_controller.servers()) {
        if (record.id != id) {
            continue;
        }
        const ServerLocation location = serverLocation(record);
        return location.known ? location.country : serverAddress(record);
    }
    return hostOfEndpoint(m_controller.currentEndpoint());
}

void TrayController::notify(const QString &text)
{
    if ((m_window.isVisible() && !m_window.isMinimized()) || !settings::showNotifications()) {
        return;
    }
    // The place comes from the backend, and no message is meant as markup.
    const QString shown = m_desktop.readsMarkup ? text.toHtmlEscaped() : text;
    if (m_desktop.notify) {
        m_desktop.notify(u"Solvik VPN"_s, shown);
    } else {
        m_icon->showMessage(u"Solvik VPN"_s, shown, m_icon->icon());
    }
}

void TrayController::quit()
{
    // No stale icon may stay behind in the notification area.
    m_icon->hide();
    m_desktop.quitApplication();
}

bool TrayController::busy() const
{
    return m_controller.connecting() || m_controller.busy() || m_controller.disconnecting();
}
