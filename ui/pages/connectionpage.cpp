#include "ui/pages/connectionpage.h"

#include "common/tunnelprofile.h"
#include "locations/servercatalogue.h"
#include "locations/serverlocation.h"
#include "settings/settingskeys.h"
#include "ui/accountrules.h"
#include "ui/clientservices.h"
#include "ui/connectionrules.h"
#include "ui/theme/icontint.h"
#include "ui/theme/themepalette.h"
#include "ui/widgetfactory.h"
#include "ui/widgets/contentcard.h"
#include "ui/widgets/refreshbutton.h"
#include "ui/widgets/servertree.h"
#include "ui/widgets/trafficwidget.h"
#include "ui/widgets/worldmap.h"
#include "vpn/connectionstate.h"

#include <QAction>
#include <QDateTime>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidgetItem>
#include <QVBoxLayout>

using namespace Qt::Literals::StringLiterals;
using widgetfactory::addButton;
using widgetfactory::addLabel;
using widgetfactory::setMessage;

namespace {

constexpr int connectButtonWidth = 164;
constexpr int connectedTimeGap = 3;

// Tinted for the stored theme now, and again by the window whenever the theme changes.
void setIcon(QObject *target, const QString &name, int size)
{
    icontint::setIcon(target, name, size, ThemePalette::fromSettings());
}

} // namespace

ConnectionPage::ConnectionPage(ClientServices &services, QWidget *parent)
    : QWidget(parent)
    , m_services(services)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeSidebar());
    layout->addWidget(makeMainArea(), 1);
    m_connectedTimer.setInterval(1000);
    connect(&m_connectedTimer, &QTimer::timeout, this, &ConnectionPage::updateConnectedTime);

    ServerCatalogue &catalogue = m_services.catalogue();
    connect(&catalogue, &ServerCatalogue::loadStarted, this, [this] {
        m_refreshButton->setSpinning(true);
        m_locationCount->setText(u"\u2026"_s);
    });
    connect(&catalogue, &ServerCatalogue::loaded, this, &ConnectionPage::catalogueLoaded);
    connect(&catalogue, &ServerCatalogue::loadFailed, this, &ConnectionPage::catalogueFailed);
    connect(&m_services.geolocator(), &Geolocator::serversChanged, this,
            &ConnectionPage::serversLocated);
    connect(&m_services.latencyProbe(), &LatencyProbe::latenciesChanged, this,
            &ConnectionPage::refreshLatencyDisplay);
    connect(&m_services.controller(), &VpnController::status, m_connectionStatus, &QLabel::setText);
}

QWidget *ConnectionPage::makeSidebar()
{
    auto *sidebar = new QWidget;
    m_sidebar = sidebar;
    sidebar->setObjectName(u"sidebar"_s);
    sidebar->setAttribute(Qt::WA_StyledBackground);
    sidebar->setFixedWidth(304);
    auto *layout = new QVBoxLayout(sidebar);
    layout->setContentsMargins(20, 30, 20, 24);
    layout->setSpacing(16);
    addLabel(u"SOLVIK VPN"_s, layout, u"brand"_s);
    layout->addSpacing(12);

    auto *heading = new QHBoxLayout;
    addLabel(u"Locations"_s, heading, u"section"_s);
    heading->addStretch();
    m_locationCount = addLabel(u"0"_s, heading, u"muted"_s);
    m_locationCount->setAlignment(Qt::AlignCenter);
    m_locationCount->setFixedSize(28, 28);
    m_locationCount->setAccessibleName(u"Number of locations"_s);
    layout->addLayout(heading);

    m_quickConnect = addButton(
        u"Quick connect"_s, layout, this, [this] { quickConnect(); }, u"quick"_s);
    setIcon(m_quickConnect, u"zap"_s, 18);
    m_quickConnect->setIconSize(QSize(18, 18));
    m_quickConnect->setToolTip(u"Connect to a random available server"_s);
    m_quickConnect->setFixedHeight(52);

    auto *searchField = new QFrame;
    searchField->setObjectName(u"searchField"_s);
    searchField->setFixedHeight(44);
    auto *search = new QHBoxLayout(searchField);
    search->setContentsMargins(12, 0, 10, 0);
    search->setSpacing(10);
    QLabel *searchIcon = addLabel(QString(), search, QString());
    searchIcon->setFixedSize(18, 18);
    setIcon(searchIcon, u"search"_s, 18);
    m_serverSearch = new QLineEdit;
    m_serverSearch->setObjectName(u"serverSearch"_s);
    m_serverSearch->setPlaceholderText(u"Search locations"_s);
    m_serverSearch->setAccessibleName(u"Search locations"_s);
    m_serverSearch->setClearButtonEnabled(true);
    // The toolkit's grey disc, drawn in the window's own icon style instead.
    if (auto *clear = m_serverSearch->findChild<QAction *>(u"_q_qlineeditclearaction"_s)) {
        setIcon(clear, u"x"_s, 16);
    }
    m_serverSearch->setTextMargins(0, 0, 0, 0);
    m_serverSearch->setFixedHeight(42);
    search->addWidget(m_serverSearch, 1);
    search->setAlignment(searchIcon, Qt::AlignVCenter);
    search->setAlignment(m_serverSearch, Qt::AlignVCenter);
    connect(m_serverSearch, &QLineEdit::textChanged, this, &ConnectionPage::filterLocations);
    layout->addWidget(searchField);

    auto *listHeading = new QHBoxLayout;
    addLabel(u"ALL LOCATIONS"_s, listHeading, u"micro"_s);
    listHeading->addStretch();
    m_refreshButton = new RefreshButton;
    setIcon(m_refreshButton, u"refresh-cw"_s, 17);
    m_refreshButton->setIconSize(QSize(17, 17));
    m_refreshButton->setFixedSize(28, 28);
    m_refreshButton->setToolTip(u"Refresh servers"_s);
    m_refreshButton->setAccessibleName(u"Refresh servers"_s);
    connect(m_refreshButton, &QPushButton::clicked, this, &ConnectionPage::loadServers);
    listHeading->addWidget(m_refreshButton);
    layout->addLayout(listHeading);

    m_tree = new ServerTree;
    m_tree->setObjectName(u"tourLocations"_s);
    m_tree->setAccessibleName(u"Locations"_s);
    m_tree->setHeaderHidden(true);
    m_tree->setRootIsDecorated(false);
    m_tree->setIndentation(0);
    m_tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tree->setMouseTracking(true);
    const auto chooseRow = [this](QTreeWidgetItem *item) {
        if (item && item->data(0, ServerTree::KindRole).toInt() == ServerTree::ServerRow) {
            chooseServer(item->data(0, ServerTree::ServerIdRole).toString());
        }
    };
    connect(m_tree, &QTreeWidget::itemClicked, this, chooseRow);
    connect(m_tree, &QTreeWidget::itemActivated, this, chooseRow);
    layout->addWidget(m_tree, 1);

    auto *planPanel = new QFrame;
    planPanel->setObjectName(u"planPanel"_s);
    auto *plan = new QVBoxLayout(planPanel);
    plan->setContentsMargins(8, 16, 8, 0);
    plan->setSpacing(8);
    addLabel(u"Your plan"_s, plan, u"muted"_s);
    m_planTime = addLabel(accountrules::pendingPlanCard().summary, plan, u"planTime"_s);
    layout->addWidget(planPanel);
    return sidebar;
}

void ConnectionPage::setPlanSummary(const QString &text)
{
    m_planTime->setText(text);
}

QWidget *ConnectionPage::makeMainArea()
{
    auto *area = new QWidget;
    auto *grid = new QGridLayout(area);
    grid->setContentsMargins(0, 0, 0, 0);
    m_worldMap = new WorldMap;
    connect(m_worldMap, &WorldMap::serverClicked, this, &ConnectionPage::chooseServer);
    grid->addWidget(m_worldMap, 0, 0);

    auto *overlay = new QVBoxLayout;
    overlay->setContentsMargins(32, 30, 32, 40);
    overlay->setSpacing(14);
    auto *headingRow = new QHBoxLayout;
    headingRow->setSpacing(24);
    auto *heading = new QVBoxLayout;
    heading->setSpacing(8);
    addLabel(u"Connections"_s, heading, u"title"_s)->setWordWrap(false);
    addLabel(u"Choose a location to get started."_s, heading, u"muted"_s)->setWordWrap(false);
    headingRow->addLayout(heading, 1);
    overlay->addLayout(headingRow);
    overlay->addStretch();

    m_trafficChart = new TrafficWidget;
    const auto centred = [overlay](QWidget *widget) {
        auto *row = new QHBoxLayout;
        row->addStretch(1);
        row->addWidget(widget, 100);
        row->addStretch(1);
        overlay->addLayout(row);
    };
    centred(m_trafficChart);
    centred(makeCard());
    grid->addLayout(overlay, 0, 0);
    return area;
}

ContentCard *ConnectionPage::makeCard()
{
    m_card = new ContentCard;
    m_card->setObjectName(u"connectionCard"_s);
    m_card->setMinimumWidth(0);
    m_card->setMaximumWidth(620);
    auto *layout = new QVBoxLayout(m_card);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(10);
    m_connectionError = addLabel(QString(), layout, u"error"_s);
    m_connectionError->hide();
    // The page may be built after the controller reported its first state.
    m_connectionStatus = addLabel(m_services.controller().state().statusText(), layout, u"muted"_s);
    m_connectionStatus->setWordWrap(false);

    auto *row = new QHBoxLayout;
    row->setSpacing(24);
    auto *titles = new QVBoxLayout;
    titles->setSpacing(5);
    m_locationTitle = addLabel(u"Quick connect"_s, titles, u"section"_s);
    m_locationSubtitle = addLabel(u"Automatic server selection"_s, titles, u"muted"_s);
    row->addLayout(titles, 1);
    m_disconnectButton = addButton(
        u"Disconnect"_s, row, this, [this] { m_services.controller().disconnectVpn(); },
        u"secondary"_s);
    m_disconnectButton->setFixedHeight(44);
    m_disconnectButton->hide();
    m_connectButton = addButton(
        u"Connect"_s, row, this, [this] { connectClicked(); }, u"primary"_s);
    setIcon(m_connectButton, u"power"_s, 18);
    m_connectButton->setIconSize(QSize(18, 18));
    m_connectButton->setFixedSize(connectButtonWidth, 44);
    m_connectButton->setToolTip(u"Windows will ask for permission to manage the VPN service"_s);
    layout->addLayout(row);
    m_locationHint = addLabel(u"Choose a location or let us pick a server"_s, layout, u"micro"_s);

    // Under the button, outside the layout: the card keeps its height when it appears.
    m_connectedTime = new QLabel(m_card);
    m_connectedTime->setObjectName(u"micro"_s);
    m_connectedTime->setTextFormat(Qt::PlainText);
    m_connectedTime->setAlignment(Qt::AlignCenter);
    m_connectedTime->setFixedSize(connectButtonWidth, 16);
    m_connectedTime->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_connectedTime->hide();
    m_card->installEventFilter(this);
    return m_card;
}

bool ConnectionPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_card &&
        (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest)) {
        QTimer::singleShot(0, this, &ConnectionPage::placeConnectedTime);
    }
    return QWidget::eventFilter(watched, event);
}

void ConnectionPage::setAppearance(bool light, const QColor &accent)
{
    m_tree->setAppearance(light, accent);
    m_worldMap->setAppearance(light, accent);
    m_trafficChart->setAppearance(light, accent);
}

connectionrules::CardState ConnectionPage::cardState() const
{
    const VpnController &controller = m_services.controller();
    return {m_services.session().authenticated(),
            controller.connecting(),
            controller.busy(),
            controller.running(),
            controller.disconnecting(),
            controller.currentServerId(),
            controller.blocked()};
}

void ConnectionPage::selectServer(const QString &id)
{
    m_selectedServerId = id;
    const api::ServerRecord *record = m_services.catalogue().record(id);
    if (!record) {
        m_selectedServerId.clear();
        m_locationTitle->setText(u"Quick connect"_s);
        m_locationSubtitle->setText(u"Automatic server selection"_s);
        m_locationHint->setText(u"Choose a location or let us pick a server"_s);
        m_tree->clearSelection();
    } else {
        const connectionrules::LocationTexts texts =
            connectionrules::locationTexts(serverLocation(*record), serverAddress(*record));
        m_locationTitle->setText(texts.title);
        m_locationSubtitle->setText(texts.subtitle);
        m_locationHint->setText(texts.hint);
        if (QTreeWidgetItem *row = serverRow(id)) {
            m_tree->setGroupExpanded(row->parent(), true, false);
            m_tree->setCurrentItem(row);
        }
    }
    m_worldMap->setSelectedServer(m_selectedServerId);
    updateConnectionUi();
}

void ConnectionPage::chooseServer(const QString &id)
{
    selectServer(id);
    if (!m_selectedServerId.isEmpty()) {
        settings::setLastServerId(m_selectedServerId);
    }
}

void ConnectionPage::connectClicked()
{
    const connectionrules::CardState state = cardState();
    switch (connectionrules::connectAction(state, m_selectedServerId)) {
    case connectionrules::ConnectAction::Disconnect:
        m_services.controller().disconnectVpn();
        break;
    case connectionrules::ConnectAction::QuickConnect:
        quickConnect();
        break;
    case connectionrules::ConnectAction::Connect:
        showConnectionError(QString());
        m_services.controller().connectVpn(m_selectedServerId);
        break;
    }
}

void ConnectionPage::showConnectionError(const QString &text, bool survivesStop)
{
    m_errorSurvivesStop = survivesStop;
    setMessage(m_connectionError, text);
}

void ConnectionPage::updateConnectionUi()
{
    const connectionrules::CardState state = cardState();
    m_trafficChart->setActive(state.running);
    if (state.connecting || state.busy || state.running) {
        if (!m_errorSurvivesStop) {
            setMessage(m_connectionError, QString());
        }
    } else {
        // The stop the message explains is over; the next state change may replace it.
        m_errorSurvivesStop = false;
    }
    updateConnectedTime();
    m_connectButton->setEnabled(connectionrules::connectButtonEnabled(state));
    m_connectButton->setText(connectionrules::connectButtonText(state, m_selectedServerId));
    m_disconnectButton->setVisible(
        connectionrules::separateDisconnectShown(state, m_selectedServerId));
    m_tree->setConnectedServer(state.running && !state.disconnecting ? state.currentServerId
                                                                     : QString());
    m_worldMap->setConnectionState((state.connecting || state.busy) && !state.disconnecting,
                                   state.running, m_services.controller().currentEndpoint());
    refreshLatencyDisplay();
}

void ConnectionPage::updateConnectedTime()
{
    const VpnController &controller = m_services.controller();
    const QDateTime since = controller.connectedSince();
    if (!controller.running() || !since.isValid()) {
        m_connectedTimer.stop();
        m_connectedTime->clear();
        m_connectedTime->hide();
        return;
    }
    if (!m_connectedTimer.isActive()) {
        m_connectedTimer.start();
    }
    showConnectedTime(
        connectionrules::connectedTimeText(since.secsTo(QDateTime::currentDateTimeUtc())));
}

void ConnectionPage::showConnectedTime(const QString &text)
{
    m_connectedTime->setText(text);
    placeConnectedTime();
    m_connectedTime->show();
}

void ConnectionPage::placeConnectedTime()
{
    const QPoint buttonTopLeft = m_connectButton->mapTo(m_card, QPoint(0, 0));
    m_connectedTime->move(buttonTopLeft.x(),
                          buttonTopLeft.y() + m_connectButton->height() + connectedTimeGap);
}

void ConnectionPage::showSampleConnection(const QString &serverId, const QString &elapsed)
{
    m_connectionStatus->setText(ConnectionState{ConnectionState::Phase::Connected}.statusText());
    m_connectButton->setText(u"Disconnect"_s);
    m_tree->setConnectedServer(serverId);
    const api::ServerRecord *record = m_services.catalogue().record(serverId);
    m_worldMap->setConnectionState(false, true, record ? record->endpoint : QString());
    m_trafficChart->showPreview();
    showConnectedTime(elapsed);
}
