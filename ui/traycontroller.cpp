#include "ui/traycontroller.h"

#include "platform/traymenu.h"
#include "vpn/vpncontroller.h"

#include <QAction>
#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QMessageBox>
#include <QWidget>

#include <optional>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// The icon's menu commands; 0 is "nothing chosen".
enum Command
{
    OpenWindow = 1,
    QuickGuide = 2,
    Quit = 3
};

std::vector<platform::TrayMenuEntry> menuEntries()
{
    return {{OpenWindow, "Open Solvik VPN"},
            {QuickGuide, "Quick guide"},
            platform::TrayMenuEntry::separator(),
            {Quit, "Quit"}};
}

// The same menu drawn by the toolkit, where the system has none of its own.
int chooseFromToolkitMenu(QWidget &window, const std::vector<platform::TrayMenuEntry> &entries)
{
    QMenu menu(&window);
    for (const platform::TrayMenuEntry &entry : entries) {
        if (entry.isSeparator()) {
            menu.addSeparator();
        } else {
            menu.addAction(QString::fromStdString(entry.text))->setData(entry.command);
        }
    }
    const QAction *chosen = menu.exec(QCursor::pos());
    return chosen ? chosen->data().toInt() : 0;
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
    m_icon->setToolTip(u"Solvik VPN"_s);
    connect(m_icon, &QSystemTrayIcon::activated, this, &TrayController::activated);
    m_quitTimer.setSingleShot(true);
    m_quitTimer.setInterval(0);
    connect(&m_quitTimer, &QTimer::timeout, this, &TrayController::requestQuit);
    connect(&controller, &VpnController::changed, this, &TrayController::controllerChanged);
    setDesktop(Desktop());
}

void TrayController::setDesktop(Desktop desktop)
{
    m_desktop = std::move(desktop);
    m_icon->setVisible(m_desktop.trayAvailable());
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
