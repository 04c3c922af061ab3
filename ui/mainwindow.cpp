#include "ui/mainwindow.h"

#include "api/apiaddress.h"
#include "locations/geolocator.h"
#include "locations/latencyprobe.h"
#include "settings/settingskeys.h"
#include "ui/clientservices.h"
#include "ui/guidedtour.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/settingspage.h"
#include "ui/pages/signinpage.h"
#include "ui/previewsamples.h"
#include "ui/problemreport.h"
#include "ui/productlinks.h"
#include "ui/theme/icontint.h"
#include "ui/theme/stylesheet.h"
#include "ui/theme/themepalette.h"
#include "ui/traycontroller.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/appearancecombo.h"
#include "ui/widgets/contentcard.h"
#include "ui/widgets/navbutton.h"
#include "ui/widgets/servertree.h"
#include "ui/widgets/toggleswitch.h"
#include "ui/widgets/trafficwidget.h"
#include "ui/widgets/worldmap.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QShowEvent>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

#include <utility>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addButton;
using widgetfactory::addLabel;

namespace {

constexpr QSize windowSize{1180, 780};
constexpr QSize minimumWindowSize{850, 600};
constexpr int railIconSize = 22;
// A shown window that gets no frame (started minimised) still gets its tray icon and pages.
constexpr int undrawnBuildDelayMs = 500;

} // namespace

MainWindow::MainWindow(std::unique_ptr<TunnelAdapter> adapter, ClientServices::Lookups lookups,
                       QWidget *parent)
    : QMainWindow(parent)
    , m_services(std::make_unique<ClientServices>(std::move(adapter), lookups))
    , m_styleTemplate(stylesheet::tokenTemplate())
{
    setWindowTitle(u"Solvik VPN"_s);
    // The layout is designed for one size: the window may shrink but never grows past it.
    setWindowFlag(Qt::WindowMaximizeButtonHint, false);
    setMinimumSize(minimumWindowSize);
    setMaximumSize(windowSize);
    resize(windowSize);
    applyTheme();

    auto *shell = new QWidget;
    shell->setObjectName(u"shell"_s);
    auto *shellLayout = new QHBoxLayout(shell);
    shellLayout->setContentsMargins(0, 0, 0, 0);
    shellLayout->setSpacing(0);
    setCentralWidget(shell);
    buildRail();
    shellLayout->addWidget(m_rail);
    m_stack = new QStackedWidget;
    shellLayout->addWidget(m_stack, 1);

    m_signInPage = new SignInPage(*m_services);
    m_stack->addWidget(m_signInPage);
    m_guidedTour = new GuidedTour(*this, m_services->session(), this);

    m_navIndicator = new QFrame(m_rail);
    m_navIndicator->setObjectName(u"navIndicator"_s);
    m_navIndicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_navIndicator->hide();
    m_navIndicator->lower();

    connectServices();

    const api::ApiConfiguration configuration = api::loadApiConfiguration();
    ApiClient &api = m_services->api();
    api.setBaseUrl(QUrl(configuration.baseUrl));
    api.setProduction(configuration.production);
    connect(&m_services->catalogue(), &ServerCatalogue::loaded, this, &MainWindow::catalogueLoaded);

    showPage(SignIn);
    applyTheme();
    syncNavigation(SignIn);
    if (api::isAllowedApiUrl(api.baseUrl(), configuration.production)) {
        QTimer::singleShot(0, this, [this] {
            m_restoringSession = true;
            m_services->session().restore();
            // Without stored tokens nothing is on its way.
            m_restoringSession = m_services->api().hasTokens() && !m_previewMode;
        });
    }
    // A shown window builds the rest once its first frame is on screen (see eventFilter()); a
    // hidden one, or one that is never drawn, as soon as the client runs.
    QTimer::singleShot(0, this, [this] {
        QTimer::singleShot(isVisible() ? undrawnBuildDelayMs : 0, this, &MainWindow::buildPages);
    });
}

void MainWindow::buildPages()
{
    if (m_connectionPage) {
        return;
    }
    m_connectionPage = new ConnectionPage(*m_services);
    m_accountPage = new AccountPage(*m_services);
    m_settingsPage = new SettingsPage;
    m_settingsPage->setSystemChangesAllowed(m_systemChangesAllowed);
    m_stack->addWidget(m_connectionPage);
    m_stack->addWidget(m_accountPage);
    m_stack->addWidget(m_settingsPage);
    // Their icons are tinted as they are made; the theme gives them the rest.
    themePages(ThemePalette::fromSettings());
    setWindowIcon(QIcon(u":/app/solvikvpn.ico"_s));
    m_tray = new TrayController(*this, m_services->controller());
    connect(m_tray, &TrayController::messageRaised, this, &MainWindow::showError);
    connect(m_tray, &TrayController::quickGuideRequested, this, &MainWindow::showWelcomeGuide);
    connect(m_tray, &TrayController::connectRequested, m_connectionPage,
            &ConnectionPage::connectClicked);
    connect(m_tray, &TrayController::disconnectRequested, &m_services->controller(),
            &VpnController::disconnectVpn);
    connectPages();
    syncPagesWithController();
    m_services->lookUpOwnLocation();
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_connectionPage && windowHandle()) {
        windowHandle()->installEventFilter(this);
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // The window paints its first frame while handling this event: what is queued now comes after.
    if (watched == windowHandle() && event->type() == QEvent::Expose) {
        windowHandle()->removeEventFilter(this);
        QMetaObject::invokeMethod(this, &MainWindow::buildPages, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

ConnectionPage *MainWindow::connectionPage()
{
    buildPages();
    return m_connectionPage;
}

AccountPage *MainWindow::accountPage()
{
    buildPages();
    return m_accountPage;
}

SettingsPage *MainWindow::settingsPage()
{
    buildPages();
    return m_settingsPage;
}

TrayController &MainWindow::tray()
{
    buildPages();
    return *m_tray;
}

void MainWindow::setSystemChangesAllowed(bool allowed)
{
    m_systemChangesAllowed = allowed;
    if (m_settingsPage) {
        m_settingsPage->setSystemChangesAllowed(allowed);
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::closeEvent(QCloseEvent *event)
{
    tray().handleClose(event);
}

void MainWindow::buildRail()
{
    m_rail = new QFrame;
    m_rail->setObjectName(u"rail"_s);
    m_rail->setFixedWidth(76);
    auto *layout = new QVBoxLayout(m_rail);
    layout->setContentsMargins(16, 24, 16, 24);
    layout->setSpacing(16);

    const ThemePalette palette = ThemePalette::fromSettings();
    QLabel *logo = addLabel(QString(), layout, u"logo"_s);
    logo->setFixedSize(44, 44);
    icontint::setIcon(logo, u"brand-logo"_s, 25, palette);
    logo->setAlignment(Qt::AlignCenter);
    layout->setAlignment(logo, Qt::AlignHCenter);
    layout->addSpacing(24);

    const auto railButton = [&](const QString &icon, int iconSize, const QString &name,
                                std::function<void()> onClick) {
        auto *button = new NavButton;
        addButton(button, layout, this, std::move(onClick), u"railButton"_s);
        icontint::setIcon(button, icon, iconSize, palette);
        button->setIconSize(QSize(iconSize, iconSize));
        button->setFixedSize(44, 44);
        button->setToolTip(name);
        button->setAccessibleName(name);
        return button;
    };
    m_connectionButton =
        railButton(u"globe"_s, railIconSize, u"Connection"_s, [this] { openPage(Connection); });
    m_accountButton =
        railButton(u"user-round"_s, railIconSize, u"My account"_s, [this] { openPage(Account); });
    layout->addStretch();
    NavButton *website = railButton(u"external-link"_s, 21, u"Open website"_s,
                                    [this] { m_services->openUrl(productlinks::website()); });
    website->setToolTip(productlinks::websiteHost());
    m_settingsButton =
        railButton(u"settings-2"_s, railIconSize, u"Settings"_s, [this] { openPage(Settings); });
}

void MainWindow::controllerChanged()
{
    // Pages built later catch up as they are built.
    if (m_connectionPage) {
        syncPagesWithController();
    }
    m_accountButton->setEnabled(m_services->session().authenticated());
    m_signInPage->updateDisconnectPrevious();
}

void MainWindow::syncPagesWithController()
{
    m_connectionPage->updateConnectionUi();
    m_tray->setSignedIn(m_services->session().authenticated());
}

void MainWindow::catalogueLoaded()
{
    if (!m_firstCatalogueOfSession) {
        return;
    }
    m_firstCatalogueOfSession = false;
    const QString remembered = settings::lastServerId();
    if (m_services->catalogue().contains(remembered)) {
        connectionPage()->selectServer(remembered);
    }
    const VpnController &controller = m_services->controller();
    // A tunnel that runs already, this account's or an earlier one's, is left as it is.
    if (std::exchange(m_connectAfterFirstCatalogue, false) && !controller.running() &&
        !controller.connecting() && !controller.busy()) {
        connectionPage()->connectClicked();
    }
}

void MainWindow::connectServices()
{
    connect(m_stack, &QStackedWidget::currentChanged, this,
            [this](int index) { syncNavigation(Page(index)); });
    VpnController &controller = m_services->controller();
    connect(&controller, &VpnController::changed, this, &MainWindow::controllerChanged);
    connect(&controller, &VpnController::error, this, &MainWindow::showError);
    connect(&controller, &VpnController::startFailed, this, &MainWindow::showError);
    connect(&controller, &VpnController::serverChangeRequired, &controller,
            &VpnController::switchServer);
    Session &session = m_services->session();
    connect(&session, &Session::changed, this, &MainWindow::handleSession);
    connect(&session, &Session::profile, this, [this](const QJsonObject &profile) {
        accountPage()->emailLabel()->setText(api::profileEmail(profile));
    });
    connect(&session, &Session::error, this, [this](const QString &text) {
        m_signInPage->setFormEnabled(true);
        showError(text);
    });
    connect(m_signInPage, &SignInPage::clearMessagesRequested, this, &MainWindow::clearMessages);
    connect(m_signInPage, &SignInPage::tourRequested, m_guidedTour, &GuidedTour::showWelcomeGuide);
    connect(m_signInPage, &SignInPage::quickGuideDismissed, m_guidedTour, &GuidedTour::finishTour);
}

void MainWindow::connectPages()
{
    connect(m_connectionPage, &ConnectionPage::errorRaised, this, &MainWindow::showError);
    connect(m_connectionPage, &ConnectionPage::errorWithdrawn, this, &MainWindow::withdrawError);
    connectAccountPage();
    connect(m_settingsPage, &SettingsPage::appearanceChanged, this, &MainWindow::applyTheme);
    connect(m_settingsPage, &SettingsPage::problemReportRequested, this,
            &MainWindow::saveProblemReport);
    logSettingChanges();
    connect(&m_services->geolocator(), &Geolocator::ownLocationFound, this,
            [this](const ServerLocation &location) {
                m_signInPage->worldMap()->setOwnLocation(location);
                m_connectionPage->worldMap()->setOwnLocation(location);
            });
}

NavButton *MainWindow::navigationButton(Page page) const
{
    switch (page) {
    case Connection:
        return m_connectionButton;
    case Account:
        return m_accountButton;
    case Settings:
        return m_settingsButton;
    case SignIn:
        break;
    }
    return nullptr;
}

QWidget *MainWindow::landmark(Landmark landmark)
{
    switch (landmark) {
    case Landmark::SignInForm:
        return m_signInPage->authForm();
    case Landmark::EmailField:
        return m_signInPage->emailEdit();
    case Landmark::QuickGuideCard:
        return m_signInPage->quickGuideCard();
    case Landmark::LocationTree:
        return connectionPage()->tree();
    case Landmark::QuickConnectButton:
        return connectionPage()->quickConnectButton();
    case Landmark::ConnectButton:
        return connectionPage()->connectButton();
    case Landmark::AccountTab:
        return m_accountButton;
    case Landmark::SettingsTab:
        return m_settingsButton;
    case Landmark::LocationSidebar:
        return connectionPage()->sidebar();
    case Landmark::TrafficChart:
        return connectionPage()->trafficChart();
    case Landmark::WorldMap:
        return connectionPage()->worldMap();
    case Landmark::ConnectionCard:
        return connectionPage()->connectionCard();
    case Landmark::SubscriptionCard:
        return accountPage()->subscriptionCard();
    case Landmark::DevicesCard:
        return accountPage()->devicesCard();
    case Landmark::ThemeChooser:
        return settingsPage()->themeChooser();
    case Landmark::AppearanceCard:
        return settingsPage()->appearanceCard();
    }
    return nullptr;
}

void MainWindow::showSampleAccount(const PreviewAccount &account)
{
    m_previewMode = true;
    m_services->api().setOffline(true);
    m_services->session().beginPreview(account.userId, account.deviceId);
    accountPage()->emailLabel()->setText(account.email);
    accountPage()->showSample(account.access, account.offers, account.devices);
    m_services->catalogue().loadRecords(account.servers);
    // Measured-looking latencies, so the rows show figures rather than a measurement under way.
    const QList<api::ServerRecord> &servers = m_services->catalogue().servers();
    for (qsizetype index = 0; index < servers.size(); ++index) {
        m_services->latencyProbe().setLatency(servers.at(index).id, 24 + 7 * int(index));
    }
    connectionPage()->selectServer(account.selectedServerId);
}

void MainWindow::showSampleConnection(const QString &serverId, const QString &elapsed,
                                      const ServerLocation &ownLocation)
{
    connectionPage()->worldMap()->setOwnLocation(ownLocation);
    connectionPage()->showSampleConnection(serverId, elapsed);
}

void MainWindow::maybeOfferTour()
{
    m_guidedTour->maybeOfferTour();
}

void MainWindow::showWelcomeGuide()
{
    m_guidedTour->showWelcomeGuide();
}

void MainWindow::saveProblemReport(const QString &path)
{
    QString error;
    const bool saved =
        problemreport::save(path, m_services->controller().state().statusText(), &error);
    widgetfactory::setMessage(settingsPage()->messageLabel(), saved ? QString() : error);
}

// The log names a changed preference by its key.
void MainWindow::logSettingChanges()
{
    ClientLog &log = m_services->clientLog();
    connect(m_settingsPage, &SettingsPage::appearanceChanged, this, [&log] {
        log.settingChanged(settings::keys::theme, settings::theme());
        log.settingChanged(settings::keys::accent, settings::accent());
    });
    const std::pair<QLatin1StringView, ToggleSwitch *> switches[] = {
        {settings::keys::connectOnStart, m_settingsPage->connectOnStartSwitch()},
        {settings::keys::reconnectAutomatically, m_settingsPage->reconnectSwitch()},
        {settings::keys::blockIfVpnDrops, m_settingsPage->blockSwitch()},
        {settings::keys::allowLocalNetwork, m_settingsPage->localNetworkSwitch()},
        {settings::keys::startAtLogin, m_settingsPage->startAtLoginSwitch()},
        {settings::keys::showNotifications, m_settingsPage->notificationsSwitch()},
    };
    for (const auto &[key, toggle] : switches) {
        connect(toggle, &QAbstractButton::toggled, this,
                [&log, key](bool on) { log.settingChanged(key, on ? u"on"_s : u"off"_s); });
    }
}
