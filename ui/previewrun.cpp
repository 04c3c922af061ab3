#include "ui/previewrun.h"

#include "locations/serverlocation.h"
#include "ui/clientservices.h"
#include "ui/guidedtour.h"
#include "ui/mainwindow.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/settingspage.h"
#include "ui/pages/signinpage.h"
#include "ui/previewsamples.h"
#include "ui/traycontroller.h"
#include "ui/websitecapture.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/appearancecombo.h"
#include "ui/widgets/navbutton.h"
#include "ui/widgets/servertree.h"
#include "ui/widgets/trafficwidget.h"
#include "ui/widgets/worldmap.h"
#include "vpn/connectionstate.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString tourStepPrefix = u"--preview-tour-step="_s;

QTreeWidgetItem *group(const ServerTree &tree, const QString &name)
{
    for (int index = 0; index < tree.topLevelItemCount(); ++index) {
        QTreeWidgetItem *item = tree.topLevelItem(index);
        if (item->text(0) == name) {
            return item;
        }
    }
    return nullptr;
}

} // namespace

PreviewRun::PreviewRun(MainWindow &window, const QStringList &arguments,
                       const QString &captureDirectory, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_arguments(arguments)
    , m_captureDirectory(captureDirectory)
{}

int PreviewRun::tourStep(const QStringList &arguments)
{
    int step = 1;
    for (const QString &argument : arguments) {
        if (!argument.startsWith(tourStepPrefix)) {
            continue;
        }
        bool number = false;
        const int value = argument.mid(tourStepPrefix.size()).toInt(&number);
        step = number && value >= 1 && value <= GuidedTour::stepCount() ? value : 1;
    }
    return step;
}

void PreviewRun::start()
{
    PreviewAccount account = PreviewAccount::smoke(QDateTime::currentDateTimeUtc());
    if (has(u"--preview-free"_s)) {
        account.access = PreviewAccount::freeAccess();
    }
    m_window.showSampleAccount(account);
    ConnectionPage *page = m_window.connectionPage();

    if (has(u"--preview-latency"_s)) {
        showSampleLatencies();
        page->selectServer(u"preview-de"_s);
    }
    if (has(u"--preview-connection-error"_s)) {
        widgetfactory::setMessage(
            page->messageLabel(),
            u"The server failed REALITY verification. Its public key, server name or short ID "
            u"may not match the VPN gateway. Contact support or choose another server."_s);
        if (has(u"--preview-compact"_s)) {
            m_window.resize(850, 600);
        }
    }
    if (has(u"--preview-flags"_s)) {
        ServerTree *tree = page->tree();
        for (int index = 0; index < tree->topLevelItemCount(); ++index) {
            tree->setGroupExpanded(tree->topLevelItem(index), true, false);
        }
    }
    if (has(u"--preview-guided-tour"_s)) {
        if (has(u"--preview-tour-moved"_s)) {
            m_window.move(530, 260);
        }
        m_window.guidedTour().startAt(tourStep(m_arguments) - 1);
        after(700, [this] { capture(&m_window, u"/guided-tour-preview.png"_s); });
    }
    if (has(u"--preview-connecting"_s)) {
        page->worldMap()->setConnectionState(true, false, QString());
        const QString connecting = ConnectionState{ConnectionState::Phase::Connecting}.statusText();
        page->statusLabel()->setText(connecting + u" \u00b7 preview"_s);
        page->connectButton()->setText(connecting);
    }
    if (has(u"--preview-connected-dot"_s)) {
        page->tree()->setConnectedServer(u"preview-de"_s);
    }
    if (has(u"--preview-traffic"_s)) {
        page->trafficChart()->showPreview();
    }
    if (has(u"--preview-tray-quit"_s)) {
        m_window.hide();
        after(100, [this] { m_window.tray().requestQuit(); });
    }
    if (has(u"--preview-settings-popup"_s)) {
        m_window.showPage(MainWindow::Settings);
        AppearanceCombo *chooser = m_window.settingsPage()->themeChooser();
        after(400, [chooser] { chooser->showPopup(); });
        after(950, [this, chooser] { capture(chooser->popupWindow(), u"/smoke-dropdown.png"_s); });
    }
    if (has(u"--preview-other"_s)) {
        page->selectServer(u"preview-other"_s);
        page->searchField()->setText(u"Other"_s);
        expandGroup(u"Other locations"_s, true);
    }
    if (has(u"--preview-hover"_s)) {
        after(600, [this] { hoverLocations(); });
    }
    if (has(u"--preview-expand"_s)) {
        expandGroup(u"Netherlands"_s, false);
        after(650, [page] {
            ServerTree *tree = page->tree();
            if (QTreeWidgetItem *netherlands = group(*tree, u"Netherlands"_s)) {
                tree->setGroupExpanded(netherlands, false, false);
                tree->setGroupExpanded(netherlands, true, true);
            }
        });
        after(750, [this] { capture(&m_window, u"/expansion-mid.png"_s); });
    }
    if (has(u"--preview-account"_s)) {
        m_window.showPage(MainWindow::Account);
        after(1000, [this] { capture(&m_window, u"/account-preview.png"_s); });
    }
    if (has(u"--preview-login-error"_s)) {
        m_window.showPage(MainWindow::SignIn);
        SignInPage *signIn = m_window.signInPage();
        signIn->setFormEnabled(true);
        signIn->emailEdit()->setText(account.email);
        signIn->passwordEdit()->setText(u"sample-password"_s);
        widgetfactory::setMessage(signIn->messageLabel(), u"Incorrect email or password."_s);
    }
    if (has(u"--preview-transition"_s)) {
        m_window.showPage(MainWindow::SignIn);
        after(650, [this] { m_window.showPage(MainWindow::Connection); });
        after(780, [this] { capture(&m_window, u"/transition-mid.png"_s); });
    }
    if (has(u"--preview-navigation"_s)) {
        after(250, [this] { m_window.navigationButton(MainWindow::Account)->click(); });
        after(550, [this] { m_window.navigationButton(MainWindow::Settings)->click(); });
        after(900, [this] { capture(&m_window, u"/navigation-mid.png"_s); });
    }
}

void PreviewRun::after(int milliseconds, std::function<void()> action)
{
    QTimer::singleShot(milliseconds, this, std::move(action));
}

void PreviewRun::capture(QWidget *widget, const QString &name)
{
    if (!WebsiteCapture::savePicture(widget->grab(), m_captureDirectory + name)) {
        m_capturesSaved = false;
    }
}

void PreviewRun::showSampleLatencies()
{
    ClientServices &services = m_window.services();
    const QList<api::ServerRecord> servers = services.catalogue().servers();
    for (int index = 0; index < servers.size(); ++index) {
        const QString &id = servers.at(index).id;
        services.catalogue().setResolvedAddress(id, u"203.0.113.%1"_s.arg(10 + index));
    }
    // Rows name servers by their resolved addresses.
    m_window.connectionPage()->rebuildLocations();
    const ServerLocation kyiv{u"UA"_s, u"Ukraine"_s, u"Kyiv"_s, 30.52, 50.45, true, true};
    m_window.signInPage()->worldMap()->setOwnLocation(kyiv);
    m_window.connectionPage()->worldMap()->setOwnLocation(kyiv);
}

void PreviewRun::expandGroup(const QString &name, bool makeCurrent)
{
    ServerTree *tree = m_window.connectionPage()->tree();
    if (QTreeWidgetItem *item = group(*tree, name)) {
        tree->setGroupExpanded(item, true, false);
        if (makeCurrent) {
            tree->setCurrentItem(item);
        }
    }
}

void PreviewRun::hoverLocations()
{
    ServerTree *tree = m_window.connectionPage()->tree();
    tree->clearSelection();
    QWidget *viewport = tree->viewport();
    const QPointF centre = QRectF(viewport->rect()).center();
    QMouseEvent move(QEvent::MouseMove, centre, viewport->mapToGlobal(centre), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(viewport, &move);
}
