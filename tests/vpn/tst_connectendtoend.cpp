#include "api/backendcatalogue.h"
#include "api/replyrules.h"
#include "common/protectedstore.h"
#include "common/tunnelcontract.h"
#include "platform/servicecontrol.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "tools/devbackend/httpserver.h"
#include "vpn/vpncontroller.h"
#include "vpn/windowsvless.h"

#include "tunnelfixture.h"
#include "vpntestbed.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int tunnelTimeoutMs = 60000;
constexpr int quietPollMs = 3600 * 1000;

const QString connectedStatus = u"Connected \u00b7 VLESS + REALITY"_s;
const QString failedStatus = u"Connection failed"_s;

// The engine stub's behaviours a row may choose; every one is reset after each test.
const QList<QByteArray> stubVariables{"SOLVIKVPN_STUB_DIAGNOSTIC", "SOLVIKVPN_STUB_FAIL",
                                      "SOLVIKVPN_STUB_RUN_LOG"};

enum class ServiceState
{
    Absent,
    Stopped,
    Running
};

ServiceState serviceState(const QString &tunnelName)
{
    std::uint32_t error = 0;
    const platform::ServiceStatus status =
        TunnelFixture::serviceStatus(tunnelcontract::serviceName(tunnelName), error);
    if (error != 0)
        return ServiceState::Absent;
    return status.state == platform::ServiceState::Running ? ServiceState::Running
                                                           : ServiceState::Stopped;
}

// A throw-away installation (the tunnel program beside the engine stub) whose services are all
// removed again when it goes, whatever the test did, so no engine process outlives the suite.
class SweptInstallation
{
public:
    SweptInstallation()
    {
        if (m_fixture.isValid())
            qputenv("SOLVIKVPN_SERVICE_ROOT", QFile::encodeName(m_fixture.serviceRoot()));
    }
    ~SweptInstallation()
    {
        QProcess program;
        program.setProcessEnvironment(m_fixture.environment());
        program.start(m_fixture.programPath(), {u"--cleanup-all"_s});
        if (!program.waitForFinished(tunnelTimeoutMs))
            qWarning("the tunnel program's clean-up did not finish");
        qunsetenv("SOLVIKVPN_SERVICE_ROOT");
    }
    SweptInstallation(const SweptInstallation &) = delete;
    SweptInstallation &operator=(const SweptInstallation &) = delete;

    const TunnelFixture &fixture() const { return m_fixture; }

private:
    TunnelFixture m_fixture;
};

// The window's wiring of the real adapter and a controller, with every report it shows recorded.
struct Client
{
    Client(VpnTestBed &bed, const QString &applicationDirectory)
        : controller(bed.api, adapter)
    {
        adapter.setApplicationDirectory(applicationDirectory);
        controller.setHostNameSource([] { return u"end-to-end"_s; });
        // Status polls would add lines between the steps the tests compare.
        controller.setPollInterval(quietPollMs);
        QObject::connect(&controller, &VpnController::serverChangeRequired, &controller,
                         [this](const QString &id) { controller.switchServer(id); });
        QObject::connect(&controller, &VpnController::status, &controller,
                         [this](const QString &text) { statuses << text; });
        QObject::connect(&controller, &VpnController::error, &controller,
                         [this](const QString &text) { errors << text; });
        QObject::connect(&controller, &VpnController::startFailed, &controller,
                         [this](const QString &text) { startFailures << text; });
        controller.setAccount(bed.apiUrl(), bed.session.userId(), bed.session.deviceId());
        statuses.clear();
    }

    // Settled: no backend step, adapter operation or stop in flight.
    bool idle() const
    {
        return !controller.connecting() && !controller.busy() && !controller.disconnecting();
    }

    WindowsVless adapter;
    VpnController controller;
    QStringList statuses;
    QStringList errors;
    QStringList startFailures;
};

} // namespace

// The controller, the real adapter, the real tunnel program with the engine stub and the
// development backend, all on loopback: the helper runs directly as this (root) process would be
// elevated, the services live under a private POSIX service-manager root, and the connectivity
// check is answered by a local page through the stub's probe proxy.
class ConnectEndToEndTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void connectThenDisconnect();
    void switchServerWhileConnected();
    void restartedClient_data();
    void restartedClient();
    void startFailures_data();
    void startFailures();
    void killedEngineHeals();

private:
    bool connectTo(Client &client, const QString &serverId);
    QString serverId(int index);
    QJsonArray backendProfiles();
    void useCheckPage(const QString &path);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<VpnTestBed> m_bed;
    HttpServer m_checkPage;
    std::unique_ptr<SweptInstallation> m_installation;
};

void ConnectEndToEndTest::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    // A fixed identity, so the restarted client can be given the same settings and data.
    QCoreApplication::setOrganizationName(u"SolvikVPNTests"_s);
    QCoreApplication::setApplicationName(u"ConnectEndToEnd"_s);
    QCoreApplication::setApplicationVersion(u"0.8.0"_s);
    // Connects on this machine's own network: the block stays off here.
    settings::setBlockIfVpnDrops(false);
    qputenv("SOLVIKVPN_ELEVATION", "direct");
    // The stub would otherwise create a real "SolvikVPN" interface on this root machine.
    qputenv("SOLVIKVPN_STUB_NO_TUN", "1");
    m_checkPage.setHandler([](const HttpRequest &request, const HttpResponderPtr &reply) {
        reply->send(request.path() == u"/generate_204"_s ? 204 : 500, QByteArray(), QByteArray());
    });
    QVERIFY(m_checkPage.listen(QHostAddress::LocalHost));
    m_bed = std::make_unique<VpnTestBed>();
    QVERIFY(m_bed->signIn());
}

void ConnectEndToEndTest::init()
{
    m_installation = std::make_unique<SweptInstallation>();
    QVERIFY(m_installation->fixture().isValid());
    useCheckPage(u"/generate_204"_s);
    m_checkPage.clearLog();
}

void ConnectEndToEndTest::cleanup()
{
    m_installation.reset();
    for (const QByteArray &variable : stubVariables)
        qunsetenv(variable.constData());
}

void ConnectEndToEndTest::useCheckPage(const QString &path)
{
    qputenv(TunnelFixture::checkUrlsVariable,
            u"http://127.0.0.1:%1%2"_s.arg(m_checkPage.port()).arg(path).toUtf8());
}

bool ConnectEndToEndTest::connectTo(Client &client, const QString &serverId)
{
    client.controller.connectVpn(serverId);
    return QTest::qWaitFor([&client] { return client.idle(); }, tunnelTimeoutMs) &&
           client.controller.running();
}

QString ConnectEndToEndTest::serverId(int index)
{
    return api::jsonText(m_bed->server(index).value(u"id"_s));
}

QJsonArray ConnectEndToEndTest::backendProfiles()
{
    const std::optional<ApiResult> reply =
        sendAndWait(m_bed->api, "GET", backend::vpnProfilesPage(1), {}, true);
    return reply && reply->successful() ? api::pageItems(reply->body) : QJsonArray();
}

void ConnectEndToEndTest::connectThenDisconnect()
{
    Client client(*m_bed, m_installation->fixture().applicationDirectory());
    const QString server = serverId(0);

    QVERIFY(connectTo(client, server));
    QCOMPARE(client.statuses, (QStringList{u"Connecting\u2026"_s, connectedStatus}));
    QCOMPARE(client.errors, QStringList());
    QCOMPARE(client.startFailures, QStringList());
    QCOMPARE(client.controller.currentServerId(), server);
    const QString tunnel = client.controller.managedTunnel();
    QCOMPARE(tunnel, client.controller.profile().tunnelName());
    QCOMPARE(settings::managedVlessTunnel(), tunnel);
    QCOMPARE(serviceState(tunnel), ServiceState::Running);
    // The helper proved the tunnel through the engine's probe proxy exactly once.
    QCOMPARE(m_checkPage.requestCount(u"GET /generate_204"_s), 1);
    QVERIFY(client.controller.connectedSince().isValid());
    QCOMPARE(settings::connectionStartedAt(), client.controller.connectedSince());

    client.statuses.clear();
    client.controller.disconnectVpn();
    QVERIFY(QTest::qWaitFor([&client] { return client.idle(); }, tunnelTimeoutMs));
    QCOMPARE(client.statuses, (QStringList{u"Disconnecting\u2026"_s, u"Not connected"_s}));
    QCOMPARE(client.errors, QStringList());
    QVERIFY(!client.controller.running());
    QCOMPARE(serviceState(tunnel), ServiceState::Absent);
    QVERIFY(!client.controller.connectedSince().isValid());
    QVERIFY(!settings::connectionStartedAt().isValid());
    QVERIFY(
        !QFile::exists(tunnelcontract::tunnelProfilePath(protectedstore::dataDirectory(), tunnel)));
    // The profile outlives the tunnel, ready for the next connect.
    QCOMPARE(client.controller.currentServerId(), server);
}

void ConnectEndToEndTest::switchServerWhileConnected()
{
    Client client(*m_bed, m_installation->fixture().applicationDirectory());
    const QString first = serverId(1);
    const QString second = serverId(2);
    QVERIFY(connectTo(client, first));
    const QString oldProfileId = client.controller.profile().id();
    const QString oldTunnel = client.controller.managedTunnel();
    const QDateTime firstStart = client.controller.connectedSince();

    client.statuses.clear();
    QVERIFY(connectTo(client, second));
    QCOMPARE(client.statuses,
             (QStringList{u"Switching servers\u2026"_s, u"Connecting\u2026"_s, connectedStatus}));
    QCOMPARE(client.errors, QStringList());
    QCOMPARE(client.startFailures, QStringList());
    QCOMPARE(client.controller.currentServerId(), second);

    const QString newTunnel = client.controller.managedTunnel();
    QVERIFY(newTunnel != oldTunnel);
    QCOMPARE(serviceState(newTunnel), ServiceState::Running);
    QCOMPARE(serviceState(oldTunnel), ServiceState::Absent);
    QCOMPARE(settings::managedVlessTunnel(), newTunnel);
    // A new connection, so a new start time.
    QVERIFY(client.controller.connectedSince() >= firstStart);
    QCOMPARE(settings::connectionStartedAt(), client.controller.connectedSince());

    QStringList serversOnBackend;
    for (const QJsonValue &item : backendProfiles()) {
        const QJsonObject record = item.toObject();
        QVERIFY2(api::jsonText(record.value(u"id"_s)) != oldProfileId,
                 "the replaced profile is still on the backend");
        serversOnBackend << api::jsonText(record.value(u"serverId"_s));
    }
    QCOMPARE(serversOnBackend, QStringList{second});
}

void ConnectEndToEndTest::restartedClient_data()
{
    QTest::addColumn<bool>("stopBehindClientsBack");
    QTest::newRow("tunnel still running keeps its start") << false;
    QTest::newRow("tunnel gone meanwhile forgets its start") << true;
}

void ConnectEndToEndTest::restartedClient()
{
    QFETCH(bool, stopBehindClientsBack);
    const TunnelFixture &fixture = m_installation->fixture();
    QDateTime startedAt;
    QString tunnel;
    {
        Client client(*m_bed, fixture.applicationDirectory());
        QVERIFY(connectTo(client, serverId(0)));
        startedAt = client.controller.connectedSince();
        tunnel = client.controller.managedTunnel();
    }
    // Quitting the client leaves the tunnel running.
    QCOMPARE(serviceState(tunnel), ServiceState::Running);
    if (stopBehindClientsBack) {
        QProcess stop;
        stop.setProcessEnvironment(fixture.environment());
        stop.start(fixture.programPath(), {u"--stop"_s, tunnel});
        QVERIFY(stop.waitForFinished(tunnelTimeoutMs));
        QCOMPARE(stop.exitCode(), 0);
    }

    QProcess host;
    host.setProcessEnvironment(fixture.environment());
    host.start(QCoreApplication::applicationDirPath() + u"/solvikvpn-controllerhost"_s,
               {QCoreApplication::organizationName(), QCoreApplication::applicationName()});
    QVERIFY(host.waitForFinished(tunnelTimeoutMs));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
    const QString line = QString::fromUtf8(host.readAllStandardOutput()).trimmed();

    if (stopBehindClientsBack) {
        QCOMPARE(line, u"stopped"_s);
        QVERIFY(!settings::connectionStartedAt().isValid());
    } else {
        QCOMPARE(line, u"running "_s + startedAt.toString(Qt::ISODateWithMs));
        QCOMPARE(settings::connectionStartedAt(), startedAt);
        // Recognising the tunnel never restarts or stops it.
        QCOMPARE(serviceState(tunnel), ServiceState::Running);
    }
    QCOMPARE(settings::managedVlessTunnel(), tunnel);
}

void ConnectEndToEndTest::startFailures_data()
{
    QTest::addColumn<QByteArray>("diagnostic");
    QTest::addColumn<QByteArray>("failingCommand");
    QTest::addColumn<QString>("checkPage");
    QTest::addColumn<int>("checkRequests");
    QTest::addColumn<QString>("message");

    QTest::newRow("engine check refuses the profile")
        << QByteArray("connection: open connection to 203.0.113.7:443 using outbound/vless[proxy]: "
                      "reality verification failed")
        << QByteArray("check") << u"/generate_204"_s << 0
        << u"Could not establish a secure connection to this server. Try another server or "
           u"contact support."_s;
    QTest::newRow("engine fails inside the service")
        << QByteArray("start service: start inbound/tun[tun-in]: configure tun interface: "
                      "operation not permitted")
        << QByteArray("run") << u"/generate_204"_s << 0
        << u"The VPN network adapter could not start. Restart Windows and retry; reinstall "
           u"Solvik VPN if the problem continues."_s;
    QTest::newRow("connectivity check fails")
        << QByteArray() << QByteArray() << u"/unreachable"_s << 1
        << u"The VPN server did not pass the connection check. Check its VLESS/REALITY settings "
           u"or choose another server."_s;
}

void ConnectEndToEndTest::startFailures()
{
    QFETCH(QByteArray, diagnostic);
    QFETCH(QByteArray, failingCommand);
    QFETCH(QString, checkPage);
    QFETCH(int, checkRequests);
    QFETCH(QString, message);
    if (!diagnostic.isEmpty()) {
        qputenv("SOLVIKVPN_STUB_DIAGNOSTIC", diagnostic);
        qputenv("SOLVIKVPN_STUB_FAIL", failingCommand);
    }
    useCheckPage(checkPage);

    Client client(*m_bed, m_installation->fixture().applicationDirectory());
    QVERIFY(!connectTo(client, serverId(3)));
    QCOMPARE(client.startFailures, QStringList{message});
    QCOMPARE(client.errors, QStringList());
    QCOMPARE(client.statuses.constLast(), failedStatus);
    QCOMPARE(m_checkPage.requestCount(), checkRequests);
    const QString tunnel = client.controller.managedTunnel();
    QCOMPARE(serviceState(tunnel), ServiceState::Absent);
    QVERIFY(!client.controller.connectedSince().isValid());
    QVERIFY(!settings::connectionStartedAt().isValid());
    // The tunnel profile file stays for the retry the message promises.
    QVERIFY(
        QFile::exists(tunnelcontract::tunnelProfilePath(protectedstore::dataDirectory(), tunnel)));
}

void ConnectEndToEndTest::killedEngineHeals()
{
    const QString runLog = m_installation->fixture().applicationDirectory() + u"/runs.log"_s;
    qputenv("SOLVIKVPN_STUB_RUN_LOG", QFile::encodeName(runLog));
    Client client(*m_bed, m_installation->fixture().applicationDirectory());
    QVERIFY(connectTo(client, serverId(0)));
    const QDateTime startedAt = client.controller.connectedSince();
    // Polled often enough to see the service's restart, which takes about a second.
    client.controller.setPollInterval(50);
    client.statuses.clear();

    const QStringList runs = TunnelFixture::logged(runLog, u"run "_s);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(::kill(runs.first().mid(4).toInt(), SIGKILL), 0);
    QVERIFY(QTest::qWaitFor([&] { return TunnelFixture::logged(runLog, u"run "_s).size() == 2; },
                            2000));
    const QString reconnecting = u"Reconnecting\u2026 (attempt 1)"_s;
    QTRY_VERIFY_WITH_TIMEOUT(client.statuses.contains(reconnecting) &&
                                 client.statuses.constLast() == connectedStatus,
                             10000);

    // A poll may still have found the tunnel up before the service noticed.
    QStringList seen = client.statuses.mid(client.statuses.indexOf(reconnecting));
    seen.removeDuplicates();
    QCOMPARE(seen, (QStringList{reconnecting, connectedStatus}));
    QCOMPARE(client.errors, QStringList());
    QCOMPARE(client.controller.connectedSince(), startedAt);
    // The connect's check and the service's own after the restart.
    QCOMPARE(m_checkPage.requestCount(u"GET /generate_204"_s), 2);
    QCOMPARE(serviceState(client.controller.managedTunnel()), ServiceState::Running);
}

QTEST_GUILESS_MAIN(ConnectEndToEndTest)
#include "tst_connectendtoend.moc"
