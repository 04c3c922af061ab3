#include "locations/serverlocation.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "ui/mainwindow.h"
#include "ui/pages/connectionpage.h"
#include "ui/theme/themepalette.h"
#include "ui/traycontroller.h"
#include "windowfixture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <QTextDocument>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Notice
{
    QString title;
    QString text;
};

} // namespace

// What the tray shows and offers for each state of the connection, the notifications told while
// the window is out of sight, and the choices a session remembers: the last location and the
// connect at start.
class TestTrayState : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }
    void cleanup();
    void followsTheConnection();
    void quickConnectsWithoutSelection();
    void notifications_data();
    void notifications();
    void showsBackendTextLiterally();
    void remembersTheLocation();
    void connectsAtStart_data();
    void connectsAtStart();

private:
    bool start();
    // Closes the window and opens a new one, which restores the stored session.
    bool restart(std::unique_ptr<FakeTunnelAdapter> adapter);
    bool waitForCatalogue();
    TrayController &tray() { return m_fixture->window->tray(); }
    VpnController &controller() { return m_fixture->window->services().controller(); }
    FakeTunnelAdapter &adapter() { return *m_fixture->adapter; }
    QString firstServer() const;
    bool menuOffers(TrayController::Command command, bool enabled);

    TestHome m_home;
    std::unique_ptr<WindowFixture> m_fixture;
    QList<Notice> m_notices;
};

void TestTrayState::cleanup()
{
    m_fixture.reset();
    m_notices.clear();
}

bool TestTrayState::start()
{
    m_fixture = std::make_unique<WindowFixture>();
    if (!m_fixture->isValid()) {
        return false;
    }
    tray().setDesktop({[] { return true; }, [] {},
                       [this](const QString &title, const QString &text) {
                           m_notices.append({title, text});
                       },
                       true});
    return m_fixture->signIn() && waitForCatalogue();
}

bool TestTrayState::waitForCatalogue()
{
    const ServerCatalogue &catalogue = m_fixture->window->services().catalogue();
    return QTest::qWaitFor([&] { return !catalogue.servers().isEmpty() && !catalogue.isLoading(); },
                           10000);
}

bool TestTrayState::restart(std::unique_ptr<FakeTunnelAdapter> replacement)
{
    m_fixture->window.reset();
    m_fixture->adapter = replacement.get();
    m_fixture->window =
        std::make_unique<MainWindow>(std::move(replacement), ClientServices::Lookups::Disabled);
    m_fixture->window->show();
    return QTest::qWaitForWindowExposed(m_fixture->window.get()) &&
           QTest::qWaitFor(
               [this] { return m_fixture->window->services().session().authenticated(); }, 10000) &&
           waitForCatalogue();
}

QString TestTrayState::firstServer() const
{
    return m_fixture->window->services().catalogue().servers().first().id;
}

bool TestTrayState::menuOffers(TrayController::Command command, bool enabled)
{
    for (const platform::TrayMenuEntry &entry : tray().menuEntries()) {
        if (entry.command == command) {
            return entry.enabled == enabled;
        }
    }
    return false;
}

void TestTrayState::followsTheConnection()
{
    m_fixture = std::make_unique<WindowFixture>();
    QVERIFY(m_fixture->isValid());
    // Signed out there is nothing to connect.
    QVERIFY(menuOffers(TrayController::Connect, false));
    QVERIFY(m_fixture->signIn() && waitForCatalogue());
    QSystemTrayIcon *icon = tray().trayIcon();
    QCOMPARE(icon->toolTip(), u"Solvik VPN \u00b7 Not connected"_s);
    QVERIFY(!tray().showsConnectedIcon());
    QVERIFY(menuOffers(TrayController::Connect, true));
    // The order of the menu: the connection command sits above the separator before Quit.
    const auto entries = tray().menuEntries();
    QCOMPARE(entries.size(), size_t(5));
    QCOMPARE(entries.at(2).command, int(TrayController::Connect));
    QVERIFY(entries.at(3).isSeparator());
    QCOMPARE(entries.at(4).command, int(TrayController::Quit));

    const QString chosen = firstServer();
    m_fixture->window->connectionPage()->chooseServer(chosen);
    tray().runCommand(TrayController::Connect);
    QVERIFY(QTest::qWaitFor([this] { return adapter().isBusy(); }, 10000));
    QCOMPARE(icon->toolTip(), u"Solvik VPN \u00b7 Connecting\u2026"_s);
    QVERIFY(menuOffers(TrayController::Connect, false));
    // A stale menu's Connect does nothing while a connect runs.
    tray().runCommand(TrayController::Connect);

    adapter().finishStart();
    QVERIFY(QTest::qWaitFor([this] { return controller().running(); }, 10000));
    QCOMPARE(controller().currentServerId(), chosen);
    const api::ServerRecord *record = m_fixture->window->services().catalogue().record(chosen);
    QCOMPARE(icon->toolTip(),
             u"Solvik VPN \u00b7 Connected to %1"_s.arg(serverLocation(*record).country));
    QVERIFY(tray().showsConnectedIcon());
    QVERIFY(menuOffers(TrayController::Disconnect, true));
    // The badge, bottom right, in the accent colour.
    const QImage badged = icon->icon().pixmap(32, 32).toImage();
    const QColor accent = ThemePalette::fromSettings().accent;
    const QColor badge = badged.pixelColor(25, 25);
    QVERIFY2(qAbs(badge.red() - accent.red()) < 8 && qAbs(badge.green() - accent.green()) < 8 &&
                 qAbs(badge.blue() - accent.blue()) < 8,
             qPrintable(badge.name()));

    tray().runCommand(TrayController::Disconnect);
    QCOMPARE(icon->toolTip(), u"Solvik VPN \u00b7 Disconnecting\u2026"_s);
    QVERIFY(menuOffers(TrayController::Connect, false));
    adapter().finishStop();
    QVERIFY(
        QTest::qWaitFor([this] { return !controller().running() && !adapter().isBusy(); }, 10000));
    QCOMPARE(icon->toolTip(), u"Solvik VPN \u00b7 Not connected"_s);
    QVERIFY(!tray().showsConnectedIcon());
    QCOMPARE(adapter().calls.filter(u"start"_s).size(), 1);
}

void TestTrayState::quickConnectsWithoutSelection()
{
    QVERIFY(start());
    QVERIFY(m_fixture->window->connectionPage()->selectedServerId().isEmpty());
    adapter().completion = FakeTunnelAdapter::Completion::Succeed;
    tray().runCommand(TrayController::Connect);
    QVERIFY(QTest::qWaitFor([this] { return controller().running(); }, 10000));
    QVERIFY(m_fixture->window->services().catalogue().contains(controller().currentServerId()));
}

void TestTrayState::notifications_data()
{
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("expected");

    const QString stopped =
        u"The VPN tunnel stopped unexpectedly. Reconnect or choose another server."_s;
    const QString failed = u"The VPN engine could not start."_s;
    QTest::newRow("connected, visible") << false << true << u"connect"_s << QString();
    QTest::newRow("connected, hidden") << true << true << u"connect"_s << u"Connected to"_s;
    QTest::newRow("connected, switched off") << true << false << u"connect"_s << QString();
    QTest::newRow("stopped, hidden") << true << true << u"stop"_s << stopped;
    QTest::newRow("stopped, visible") << false << true << u"stop"_s << QString();
    QTest::newRow("failed, hidden") << true << true << u"fail"_s << failed;
    QTest::newRow("failed, visible") << false << true << u"fail"_s << QString();
    QTest::newRow("asked to stop, hidden") << true << true << u"disconnect"_s << QString();
}

void TestTrayState::notifications()
{
    QFETCH(bool, hidden);
    QFETCH(bool, enabled);
    QFETCH(QString, event);
    QFETCH(QString, expected);

    QVERIFY(start());
    settings::setShowNotifications(enabled);
    const bool connectFirst = event == u"stop"_s || event == u"disconnect"_s;
    if (connectFirst) {
        adapter().completion = FakeTunnelAdapter::Completion::Succeed;
        tray().runCommand(TrayController::Connect);
        QVERIFY(QTest::qWaitFor([this] { return controller().running(); }, 10000));
        m_notices.clear();
    }
    if (hidden) {
        m_fixture->window->hide();
    }
    if (event == u"connect"_s || event == u"fail"_s) {
        adapter().completion = event == u"fail"_s ? FakeTunnelAdapter::Completion::Fail
                                                  : FakeTunnelAdapter::Completion::Succeed;
        tray().runCommand(TrayController::Connect);
        QVERIFY(QTest::qWaitFor(
            [this] { return !controller().connecting() && !adapter().isBusy(); }, 10000));
    } else if (event == u"stop"_s) {
        adapter().report(ConnectionState::Phase::NotConnected);
    } else {
        tray().runCommand(TrayController::Disconnect);
        QVERIFY(QTest::qWaitFor([this] { return !controller().running(); }, 10000));
    }
    QTest::qWait(20);
    if (expected.isEmpty()) {
        QCOMPARE(m_notices.size(), 0);
        return;
    }
    QCOMPARE(m_notices.size(), 1);
    QCOMPARE(m_notices.first().title, u"Solvik VPN"_s);
    QVERIFY2(m_notices.first().text.startsWith(expected), qPrintable(m_notices.first().text));
}

void TestTrayState::showsBackendTextLiterally()
{
    QVERIFY(start());
    const QString place = u"<b>x</b> & <img src=y>"_s;
    QList<api::ServerRecord> servers = controller().servers();
    servers.first().geoLocation = api::GeoLocation{{}, place, {}, {}, {}};
    controller().setServers(servers);
    m_fixture->window->connectionPage()->chooseServer(firstServer());
    m_fixture->window->hide();
    adapter().completion = FakeTunnelAdapter::Completion::Succeed;
    tray().runCommand(TrayController::Connect);
    QVERIFY(QTest::qWaitFor([this] { return controller().running(); }, 10000));
    // As a notification service renders its body, and the toolkit's tray guesses its tool tip.
    QTextDocument body;
    body.setHtml(m_notices.value(0).text);
    QCOMPARE(body.toPlainText(), u"Connected to "_s + place);
    const QString tip = tray().trayIcon()->toolTip();
    QVERIFY(!Qt::mightBeRichText(tip));
    QCOMPARE(QString(tip).remove(QChar(0x2060)), u"Solvik VPN \u00b7 Connected to "_s + place);
}

void TestTrayState::remembersTheLocation()
{
    QVERIFY(start());
    const QString chosen = firstServer();
    m_fixture->window->connectionPage()->chooseServer(chosen);
    QCOMPARE(settings::lastServerId(), chosen);

    QVERIFY(restart(std::make_unique<FakeTunnelAdapter>()));
    QCOMPARE(m_fixture->window->connectionPage()->selectedServerId(), chosen);

    // A location the catalogue no longer has is passed over.
    settings::setLastServerId(u"gone-for-good"_s);
    QVERIFY(restart(std::make_unique<FakeTunnelAdapter>()));
    QVERIFY(m_fixture->window->connectionPage()->selectedServerId().isEmpty());

    m_fixture->window->connectionPage()->chooseServer(chosen);
    m_fixture->window->logout();
    QVERIFY(QTest::qWaitFor(
        [this] { return !m_fixture->window->services().session().authenticated(); }, 10000));
    QVERIFY(settings::lastServerId().isEmpty());
}

void TestTrayState::connectsAtStart_data()
{
    QTest::addColumn<bool>("connectOnStart");
    QTest::addColumn<bool>("earlierTunnel");
    QTest::addColumn<int>("starts");
    QTest::newRow("on") << true << false << 1;
    QTest::newRow("off") << false << false << 0;
    QTest::newRow("an earlier tunnel runs") << true << true << 0;
}

void TestTrayState::connectsAtStart()
{
    QFETCH(bool, connectOnStart);
    QFETCH(bool, earlierTunnel);
    QFETCH(int, starts);

    QVERIFY(start());
    // Signing in by hand never connects on its own.
    QCOMPARE(adapter().calls.filter(u"start"_s).size(), 0);
    const QString chosen = firstServer();
    m_fixture->window->connectionPage()->chooseServer(chosen);
    settings::setConnectOnStart(connectOnStart);
    auto replacement = std::make_unique<FakeTunnelAdapter>();
    replacement->completion = FakeTunnelAdapter::Completion::Succeed;
    if (earlierTunnel) {
        settings::setManagedVlessTunnel(u"SolvikVPN-earlier"_s);
        replacement->refreshPhase = ConnectionState::Phase::Connected;
    }
    QVERIFY(restart(std::move(replacement)));
    // The connect, if any, starts with the load that has just ended.
    QCOMPARE(controller().connecting(), starts > 0);
    if (starts > 0) {
        QVERIFY(QTest::qWaitFor([this] { return controller().running(); }, 10000));
        QCOMPARE(adapter().calls.filter(u"start "_s).size(), 1);
        QCOMPARE(controller().currentServerId(), chosen);
        // A reload later in the session does not connect again.
        m_fixture->window->connectionPage()->loadServers();
        QVERIFY(waitForCatalogue());
        QCOMPARE(adapter().calls.filter(u"start "_s).size(), 1);
    } else {
        QTest::qWait(200);
        QCOMPARE(adapter().calls.filter(u"start "_s).size(), 0);
    }
}

QTEST_MAIN(TestTrayState)
#include "tst_traystate.moc"
