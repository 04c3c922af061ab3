#include "ui/mainwindow.h"

#include "api/apiaddress.h"
#include "locations/geolocator.h"
#include "settings/settingskeys.h"
#include "ui/clientservices.h"
#include "ui/guidedtour.h"
#include "ui/pages/accountpage.h"
#include "ui/pages/connectionpage.h"
#include "ui/pages/settingspage.h"
#include "ui/pages/signinpage.h"
#include "ui/previewsamples.h"
#include "ui/productlinks.h"
#include "ui/theme/icontint.h"
#include "ui/theme/stylesheet.h"
#include "ui/theme/themepalette.h"
#include "ui/traycontroller.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/navbutton.h"
#include "ui/widgets/worldmap.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <utility>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addLabel;
using widgetfactory::addRailButton;

namespace {

constexpr QSize windowSize{1180, 780};
constexpr QSize minimumWindowSize{850, 600};
constexpr int railIconSize = 22;
constexpr int latencySweepIntervalMs = 30000;

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
    setWindowIcon(QIcon(u":/app/solvikvpn.ico"_s));
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
    m_connectionPage = new ConnectionPage(*m_services);
    m_accountPage = new AccountPage(*m_services);
    m_settingsPage = new SettingsPage;
    m_stack->addWidget(m_signInPage);
    m_stack->addWidget(m_connectionPage);
    m_stack->addWidget(m_accountPage);
    m_stack->addWidget(m_settingsPage);
    m_guidedTour = new GuidedTour(*this, this);

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

    m_sweepTimer = new QTimer(this);
    m_sweepTimer->setInterval(latencySweepIntervalMs);
    connect(m_sweepTimer, &QTimer::timeout, m_services.get(), &ClientServices::startPeriodicSweep);
    m_sweepTimer->start();

    m_tray = new TrayController(*this, m_services->controller());
    connect(m_tray, &TrayController::messageRaised, this, &MainWindow::showError);
    connect(m_tray, &TrayController::quickGuideRequested, this, &MainWindow::showWelcomeGuide);
    connect(m_tray, &TrayController::connectRequested, m_connectionPage,
            &ConnectionPage::connectClicked);
    connect(m_tray, &TrayController::disconnectRequested, &m_services->controller(),
            &VpnController::disconnectVpn);
    connect(&m_services->catalogue(), &ServerCatalogue::loaded, this, &MainWindow::catalogueLoaded);

    showPage(SignIn);
    m_connectionPage->updateConnectionUi();
    applyTheme();
    syncNavigation(SignIn);
    // Through a running tunnel the lookup would find the VPN's exit: it waits for the first
    // report that no tunnel of ours runs.
    const auto lookUpOwnLocation = [this] {
        m_ownLocationRequested = true;
        m_services->geolocator().loadOwnLocation();
    };
    if (m_services->controller().managedTunnel().isEmpty()) {
        lookUpOwnLocation();
    } else {
        connect(&m_services->adapter(), &TunnelAdapter::stateChanged, this,
                [this, lookUpOwnLocation](const ConnectionState &state) {
                    // An unreadable service state says nothing about the tunnel.
                    if (!m_ownLocationRequested &&
                        state.phase == ConnectionState::Phase::NotConnected) {
                        lookUpOwnLocation();
                    }
                });
    }
    if (api::isAllowedApiUrl(api.baseUrl(), configuration.production)) {
        QTimer::singleShot(0, this, [this] {
            m_restoringSession = true;
            m_services->session().restore();
            // Without stored tokens nothing is on its way.
            m_restoringSession = m_services->api().hasTokens() && !m_previewMode;
        });
    }
}

MainWindow::~MainWindow() = default;

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_tray->handleClose(event);
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

    const auto railButton = [&](const QString &tab, const QString &icon, int iconSize,
                                const QString &name, std::function<void()> onClick) {
        QPushButton *button =
            addRailButton(QString(), layout, this, std::move(onClick), u"railButton"_s);
        if (!tab.isEmpty()) {
            button->setProperty("solvikvpnNavTab", tab);
        }
        icontint::setIcon(button, icon, iconSize, palette);
        button->setIconSize(QSize(iconSize, iconSize));
        button->setFixedSize(44, 44);
        button->setToolTip(name);
        button->setAccessibleName(name);
        return static_cast<NavButton *>(button);
    };
    m_connectionButton = railButton(u"connection"_s, u"globe"_s, railIconSize, u"Connection"_s,
                                    [this] { openPage(Connection); });
    m_accountButton = railButton(u"account"_s, u"user-round"_s, railIconSize, u"My account"_s,
                                 [this] { openPage(Account); });
    layout->addStretch();
    NavButton *website = railButton(QString(), u"external-link"_s, 21, u"Open website"_s,
                                    [this] { m_services->openUrl(productlinks::website()); });
    website->setToolTip(productlinks::websiteHost());
    m_settingsButton = railButton(u"settings"_s, u"settings-2"_s, railIconSize, u"Settings"_s,
                                  [this] { openPage(Settings); });
}

void MainWindow::controllerChanged()
{
    m_connectionPage->updateConnectionUi();
    m_accountButton->setEnabled(m_services->session().authenticated());
    m_tray->setSignedIn(m_services->session().authenticated());
    m_signInPage->updateDisconnectPrevious();
}

void MainWindow::catalogueLoaded()
{
    if (!m_firstCatalogueOfSession) {
        return;
    }
    m_firstCatalogueOfSession = false;
    const QString remembered = settings::lastServerId();
    if (m_services->catalogue().contains(remembered)) {
        m_connectionPage->selectServer(remembered);
    }
    const VpnController &controller = m_services->controller();
    // A tunnel that runs already, this account's or an earlier one's, is left as it is.
    if (std::exchange(m_connectAfterFirstCatalogue, false) && !controller.running() &&
        !controller.connecting() && !controller.busy()) {
        m_connectionPage->connectClicked();
    }
}

void MainWindow::connectServices()
{
    connect(m_stack, &QStackedWidget::currentChanged, this, &MainWindow::syncNavigation);
    VpnController &controller = m_services->controller();
    connect(&controller, &VpnController::changed, this, &MainWindow::controllerChanged);
    connect(&controller, &VpnController::status, m_connectionPage->statusLabel(), &QLabel::setText);
    connect(m_connectionPage, &ConnectionPage::errorRaised, this, &MainWindow::showError);
    connect(&controller, &VpnController::error, this, &MainWindow::showError);
    connect(&controller, &VpnController::startFailed, this, &MainWindow::showError);
    connect(&controller, &VpnController::serverChangeRequired, &controller,
            &VpnController::switchServer);
    Session &session = m_services->session();
    connect(&session, &Session::changed, this, &MainWindow::handleSession);
    connect(&session, &Session::profile, this, [this](const QJsonObject &profile) {
        m_accountPage->emailLabel()->setText(profile.value(u"email"_s).toString());
    });
    connectAccountPage();
    connect(&session, &Session::error, this, [this](const QString &text) {
        m_signInPage->setFormEnabled(true);
        showError(text);
    });
    connect(m_signInPage, &SignInPage::clearMessagesRequested, this, &MainWindow::clearMessages);
    connect(m_signInPage, &SignInPage::tourRequested, m_guidedTour, &GuidedTour::showWelcomeGuide);
    connect(m_signInPage, &SignInPage::quickGuideDismissed, m_guidedTour, &GuidedTour::finishTour);
    connect(m_settingsPage, &SettingsPage::appearanceChanged, this, &MainWindow::applyTheme);
    connect(&m_services->geolocator(), &Geolocator::ownLocationFound, this,
            [this](const ServerLocation &location) {
                m_signInPage->worldMap()->setOwnLocation(location);
                m_connectionPage->worldMap()->setOwnLocation(location);
            });
}

NavButton *MainWindow::navigationButton(int page) const
{
    switch (page) {
    case Connection:
        return m_connectionButton;
    case Account:
        return m_accountButton;
    case Settings:
        return m_settingsButton;
    default:
        return nullptr;
    }
}

void MainWindow::showSampleAccount(const PreviewAccount &account)
{
    m_previewMode = true;
    m_services->api().setOffline(true);
    m_services->session().beginPreview(account.userId, account.deviceId);
    m_accountPage->emailLabel()->setText(account.email);
    m_accountPage->showSample(account.access, account.offers, account.devices);
    m_services->catalogue().loadRecords(account.servers);
    m_connectionPage->selectServer(account.selectedServerId);
}

void MainWindow::maybeOfferTour()
{
    m_guidedTour->maybeOfferTour();
}

void MainWindow::showWelcomeGuide()
{
    m_guidedTour->showWelcomeGuide();
}
