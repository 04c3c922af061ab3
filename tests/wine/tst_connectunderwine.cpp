#include "api/replyrules.h"
#include "common/protectedstore.h"
#include "common/tunnelcontract.h"
#include "platform/servicecontrol.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "vpn/vpncontroller.h"
#include "vpn/windowsvless.h"

#include "vpntestbed.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int tunnelTimeoutMs = 90000;
constexpr int quietPollMs = 3600 * 1000;
// A stopped service is deleted once its process has ended, which waits up to 10 s for the service
// thread to finish.
constexpr int deletionTimeoutMs = 30000;

const QString connectedStatus = u"Connected \u00b7 VLESS + REALITY"_s;
const QString checkRoute = u"GET /generate_204"_s;
constexpr char trustFoldersVariable[] = "SOLVIKVPN_TRUST_FOLDERS";
constexpr char checkUrlsVariable[] = "SOLVIKVPN_CONNECTIVITY_CHECK_URLS";

// What the tunnel program and the engine stub load from beside themselves.
const QStringList runtimeLibraries{u"Qt6Core.dll"_s, u"Qt6Network.dll"_s, u"libgcc_s_seh-1.dll"_s,
                                   u"libstdc++-6.dll"_s, u"libwinpthread-1.dll"_s};

enum class ServiceState
{
    Absent,
    Stopped,
    Running
};

// As the client's adapter asks Wine's service manager.
ServiceState serviceState(const QString &tunnelName)
{
    platform::ServiceManager manager(platform::ManagerAccess::Connect);
    platform::ServiceHandle service = manager.openService(
        tunnelcontract::serviceName(tunnelName).toStdString(), platform::ServiceQueryStatus);
    platform::ServiceStatus status;
    if (!service.isOpen() || service.query(status) != 0)
        return ServiceState::Absent;
    return status.state == platform::ServiceState::Running ? ServiceState::Running
                                                           : ServiceState::Stopped;
}

// The product's tunnel services Wine's service manager still lists.
QStringList tunnelServices()
{
    std::vector<platform::ServiceEntry> entries;
    platform::ServiceManager manager(platform::ManagerAccess::Enumerate);
    manager.enumerateServices(entries);
    QStringList names;
    for (const platform::ServiceEntry &entry : entries) {
        const QString name = QString::fromStdString(entry.name);
        if (name.startsWith(u"SolvikVPN$tnel_"_s))
            names << name;
    }
    return names;
}

bool copyWithLibraries(const QString &from, const QString &to)
{
    const QString built = QCoreApplication::applicationDirPath();
    if (!QFile::copy(built + u'/' + from, to))
        return false;
    const QString folder = QFileInfo(to).absolutePath();
    return std::all_of(runtimeLibraries.cbegin(), runtimeLibraries.cend(),
                       [&](const QString &library) {
                           return QFile::copy(built + u'/' + library, folder + u'/' + library);
                       });
}

// A throw-away installation in Wine's drive C: the tunnel program with its libraries, and the
// engine stub as core/sing-box.exe with its own, since the service finds no others. The package's
// lane names the folder its package installed instead. Every tunnel service of the product is
// removed when it is made and when it goes, whatever the test did.
class WineInstallation
{
public:
    WineInstallation()
        : m_directory(qEnvironmentVariable("SOLVIKVPN_INSTALLED_PROGRAMS"))
    {
        if (m_directory.isEmpty()) {
            m_directory = m_root.path();
            m_valid = m_root.isValid() && QDir(m_root.path()).mkpath(u"core"_s) &&
                      copyWithLibraries(u"solvikvpn-tunnel.exe"_s, programPath()) &&
                      copyWithLibraries(u"sing-box.exe"_s, m_root.filePath(u"core/sing-box.exe"_s));
        } else {
            m_valid = QFile::exists(programPath());
        }
        m_valid = m_valid && sweep();
    }
    ~WineInstallation()
    {
        if (!sweep())
            qWarning("the tunnel program's clean-up failed");
    }
    WineInstallation(const WineInstallation &) = delete;
    WineInstallation &operator=(const WineInstallation &) = delete;

    bool isValid() const { return m_valid; }
    QString directory() const { return m_directory; }
    QString programPath() const { return m_directory + u"/solvikvpn-tunnel.exe"_s; }

private:
    // The clean-up may find a service that is still marked for deletion (1072, as Windows
    // reports it while the service's process ends); what counts is that none is left after it.
    bool sweep() const
    {
        QProcess program;
        program.start(programPath(), {u"--cleanup-all"_s});
        return program.waitForFinished(tunnelTimeoutMs) &&
               program.exitStatus() == QProcess::NormalExit &&
               QTest::qWaitFor([] { return tunnelServices().isEmpty(); }, deletionTimeoutMs);
    }

    QTemporaryDir m_root;
    QString m_directory;
    bool m_valid = false;
};

} // namespace

// The connect of the native end-to-end test with the Windows programs under Wine: the client's
// adapter and controller in this process against the development backend, the tunnel program
// started as Windows starts it ("runas", which Wine grants at once) and its service a real
// service of Wine's service manager running the engine stub. The connectivity check asks the
// backend's GET /generate_204 through the stub's probe proxy. Ctrl-Break does not reach the
// engine's process group under Wine, so the stop ends the engine by termination after its grace.
class ConnectUnderWineTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void connectThenDisconnect();
    void untrustedFolderIsRefused();
    void killedEngineHeals();
    void blockWithoutFilteringEngine();

private:
    bool connectTo(VpnController &controller, const QString &serverId);
    std::unique_ptr<VpnController> makeController(QStringList &statuses, QStringList &failures);

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<VpnTestBed> m_bed;
    std::unique_ptr<WineInstallation> m_installation;
    WindowsVless m_adapter;
};

void ConnectUnderWineTest::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    QCoreApplication::setOrganizationName(u"SolvikVPNTests"_s);
    QCoreApplication::setApplicationName(u"ConnectUnderWine"_s);
    // Wine has no filtering engine: the block is the subject of one case only.
    settings::setBlockIfVpnDrops(false);
    m_bed = std::make_unique<VpnTestBed>();
    QVERIFY(m_bed->signIn());
    qputenv(checkUrlsVariable,
            u"http://127.0.0.1:%1/generate_204"_s.arg(m_bed->backend.port()).toUtf8());
}

void ConnectUnderWineTest::init()
{
    // Wine keeps no access lists, so no folder there is the administrators' alone.
    qputenv(trustFoldersVariable, "1");
    m_installation = std::make_unique<WineInstallation>();
    QVERIFY(m_installation->isValid());
    m_adapter.setApplicationDirectory(m_installation->directory());
}

void ConnectUnderWineTest::cleanup()
{
    m_installation.reset();
    qunsetenv(trustFoldersVariable);
}

std::unique_ptr<VpnController> ConnectUnderWineTest::makeController(QStringList &statuses,
                                                                    QStringList &failures)
{
    auto controller = std::make_unique<VpnController>(m_bed->api, m_adapter);
    controller->setHostNameSource([] { return u"under-wine"_s; });
    controller->setPollInterval(quietPollMs);
    QObject::connect(controller.get(), &VpnController::status, controller.get(),
                     [&statuses](const QString &text) { statuses << text; });
    QObject::connect(controller.get(), &VpnController::startFailed, controller.get(),
                     [&failures](const QString &text) { failures << text; });
    QObject::connect(controller.get(), &VpnController::error, controller.get(),
                     [&failures](const QString &text) { failures << text; });
    controller->setAccount(m_bed->apiUrl(), m_bed->session.userId(), m_bed->session.deviceId());
    statuses.clear();
    return controller;
}

bool ConnectUnderWineTest::connectTo(VpnController &controller, const QString &serverId)
{
    controller.connectVpn(serverId);
    return QTest::qWaitFor(
               [&controller] {
                   return !controller.connecting() && !controller.busy() &&
                          !controller.disconnecting();
               },
               tunnelTimeoutMs) &&
           controller.running();
}

void ConnectUnderWineTest::connectThenDisconnect()
{
    QStringList statuses;
    QStringList failures;
    const std::unique_ptr<VpnController> controller = makeController(statuses, failures);
    const QString server = api::jsonText(m_bed->server(0).value(u"id"_s));
    const int checksBefore = m_bed->backend.requestCount(checkRoute);

    QVERIFY2(connectTo(*controller, server), qPrintable((statuses + failures).join(u" | "_s)));
    QCOMPARE(statuses, (QStringList{u"Connecting\u2026"_s, connectedStatus}));
    QCOMPARE(failures, QStringList());
    const QString tunnel = controller->managedTunnel();
    QCOMPARE(serviceState(tunnel), ServiceState::Running);
    // The helper proved the tunnel through the stub's probe proxy, which reached the backend.
    QCOMPARE(m_bed->backend.requestCount(checkRoute), checksBefore + 1);

    statuses.clear();
    controller->disconnectVpn();
    QVERIFY(
        QTest::qWaitFor([&controller] { return !controller->disconnecting(); }, tunnelTimeoutMs));
    QCOMPARE(statuses, (QStringList{u"Disconnecting\u2026"_s, u"Not connected"_s}));
    QCOMPARE(failures, QStringList());
    QVERIFY(!controller->running());
    QVERIFY(serviceState(tunnel) != ServiceState::Running);
    QTRY_COMPARE_WITH_TIMEOUT(serviceState(tunnel), ServiceState::Absent, deletionTimeoutMs);
    QVERIFY(
        !QFile::exists(tunnelcontract::tunnelProfilePath(protectedstore::dataDirectory(), tunnel)));
}

void ConnectUnderWineTest::untrustedFolderIsRefused()
{
    // Without the switch the privileged helper judges the installation as on Windows: a folder
    // under the user's profile is not the administrators' alone.
    qunsetenv(trustFoldersVariable);
    QStringList statuses;
    QStringList failures;
    const std::unique_ptr<VpnController> controller = makeController(statuses, failures);
    const int checksBefore = m_bed->backend.requestCount(checkRoute);

    // The server of the other test: its profile, kept for the next connect, is used again.
    QVERIFY(!connectTo(*controller, api::jsonText(m_bed->server(0).value(u"id"_s))));
    QCOMPARE(failures, QStringList{u"Solvik VPN must be installed in a folder that only "
                                   u"administrators can change, such as Program Files."_s});
    QCOMPARE(statuses.constLast(), u"Connection failed"_s);
    QCOMPARE(tunnelServices(), QStringList());
    QCOMPARE(m_bed->backend.requestCount(checkRoute), checksBefore);
}

void ConnectUnderWineTest::killedEngineHeals()
{
    // Wine's service manager hands a service none of this process's environment: the service's
    // own check after a restart, and its status record, need the switches from beside it.
    QFile switches(m_installation->directory() + u"/test-switches.txt"_s);
    QVERIFY(switches.open(QIODevice::WriteOnly) &&
            switches.write(QByteArray(trustFoldersVariable) + "=1\n" + checkUrlsVariable + '=' +
                           qgetenv(checkUrlsVariable)) > 0);
    switches.close();
    QStringList statuses;
    QStringList failures;
    const std::unique_ptr<VpnController> controller = makeController(statuses, failures);
    QVERIFY(connectTo(*controller, api::jsonText(m_bed->server(0).value(u"id"_s))));
    const QDateTime startedAt = controller->connectedSince();
    const int checksBefore = m_bed->backend.requestCount(checkRoute);
    controller->setPollInterval(50);
    statuses.clear();

    QProcess kill;
    kill.start(u"taskkill"_s, {u"/F"_s, u"/IM"_s, u"sing-box.exe"_s});
    QVERIFY(kill.waitForFinished(tunnelTimeoutMs));
    QCOMPARE(kill.exitCode(), 0);
    const QString reconnecting = u"Reconnecting\u2026 (attempt 1)"_s;
    QTRY_VERIFY2_WITH_TIMEOUT(statuses.contains(reconnecting) &&
                                  statuses.constLast() == connectedStatus,
                              qPrintable((statuses + failures).join(u" | "_s)), tunnelTimeoutMs);
    QStringList seen = statuses.mid(statuses.indexOf(reconnecting));
    seen.removeDuplicates();
    QCOMPARE(seen, (QStringList{reconnecting, connectedStatus}));
    QCOMPARE(failures, QStringList());
    QCOMPARE(controller->connectedSince(), startedAt);
    QCOMPARE(m_bed->backend.requestCount(checkRoute), checksBefore + 1);
    QCOMPARE(serviceState(controller->managedTunnel()), ServiceState::Running);

    // The service wrote its files in the folder it now trusts; the stop takes them away.
    const QString tunnel = controller->managedTunnel();
    controller->disconnectVpn();
    QVERIFY(
        QTest::qWaitFor([&controller] { return !controller->disconnecting(); }, tunnelTimeoutMs));
    QVERIFY(!QFile::exists(tunnelcontract::tunnelErrorPath(tunnel)));
}

// Wine has no Base Filtering Engine: with the block on, the connect is refused before any engine
// runs, and with the recording firewall standing in, it connects and the stop lifts the block.
void ConnectUnderWineTest::blockWithoutFilteringEngine()
{
    settings::setBlockIfVpnDrops(true);
    const auto blockOff = qScopeGuard([] { settings::setBlockIfVpnDrops(false); });
    QStringList statuses;
    QStringList failures;
    const std::unique_ptr<VpnController> controller = makeController(statuses, failures);
    const QString server = api::jsonText(m_bed->server(0).value(u"id"_s));
    QVERIFY(!connectTo(*controller, server));
    QCOMPARE(failures.size(), 1);
    QVERIFY2(
        failures.first().startsWith(u"The VPN was not connected: Solvik VPN could not block"_s),
        qPrintable(failures.first()));
    QTRY_COMPARE_WITH_TIMEOUT(tunnelServices(), QStringList(), deletionTimeoutMs);

    const QString recording = m_installation->directory() + u"/firewall.log"_s;
    QFile switches(m_installation->directory() + u"/test-switches.txt"_s);
    QVERIFY(switches.open(QIODevice::WriteOnly) &&
            switches.write("SOLVIKVPN_RECORD_FIREWALL=" +
                           QDir::toNativeSeparators(recording).toUtf8()) > 0);
    switches.close();
    failures.clear();
    QVERIFY2(connectTo(*controller, server), qPrintable(failures.join(u" | "_s)));
    controller->disconnectVpn();
    QVERIFY(
        QTest::qWaitFor([&controller] { return !controller->disconnecting(); }, tunnelTimeoutMs));
    QFile log(recording);
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = log.readAll().split('\n');
    QVERIFY2(lines.first().startsWith("apply ") &&
                 lines.first().contains("sing-box.exe|SolvikVPN|0"),
             lines.first().constData());
    QCOMPARE(lines.at(lines.size() - 2), QByteArray("remove"));
}

QTEST_GUILESS_MAIN(ConnectUnderWineTest)
#include "tst_connectunderwine.moc"
