#include "common/secretwipe.h"
#include "common/tunnelcontract.h"
#include "platform/exitstatus.h"
#include "platform/probeport.h"
#include "platform/servicecontrol.h"
#include "platform/servicehost.h"
#include "tools/devbackend/httpserver.h"

#include "tunnelfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString serviceName = tunnelcontract::serviceName(TunnelFixture::tunnelName);

} // namespace

// The tunnel program end to end: real helper and service processes under the POSIX service
// manager in a private state directory, the engine stub as the engine, the connectivity check
// answered on loopback through the stub's probe proxy.
class TestTunnelService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void installRunsAndStopRemoves();
    void secondInstallReplacesFirst();
    void failedInstalls_data();
    void failedInstalls();
    void stopOfUnknownTunnelSucceeds();
    void serviceModeOutsideManager();
    void cleanupModes_data();
    void cleanupModes();
    void selfHealing_data();
    void selfHealing();

private:
    int runProgram(const QStringList &arguments, const QStringList &extraEnvironment = {});

    HttpServer m_server;
    std::unique_ptr<TunnelFixture> m_fixture;
};

void TestTunnelService::initTestCase()
{
    m_server.setHandler([](const HttpRequest &request, const HttpResponderPtr &reply) {
        reply->send(request.path() == u"/generate_204"_s ? 204 : 200, QByteArray(), QByteArray());
    });
    QVERIFY(m_server.listen(QHostAddress::LocalHost));
}

void TestTunnelService::init()
{
    // This process asks the same service manager as the program (the fixture names it).
    m_fixture = std::make_unique<TunnelFixture>();
    QVERIFY(m_fixture->isValid());
    m_server.clearLog();
}

void TestTunnelService::cleanup()
{
    // Leave no service process behind, whatever the test did.
    runProgram({u"--cleanup-all"_s});
    m_fixture.reset();
}

int TestTunnelService::runProgram(const QStringList &arguments, const QStringList &extraEnvironment)
{
    QProcessEnvironment environment = m_fixture->environment();
    environment.insert(QLatin1String(TunnelFixture::checkUrlsVariable),
                       u"http://127.0.0.1:%1/generate_204"_s.arg(m_server.port()));
    environment.insert(u"SOLVIKVPN_STUB_NO_TUN"_s, u"1"_s);
    for (const QString &assignment : extraEnvironment) {
        environment.insert(assignment.section(u'=', 0, 0), assignment.section(u'=', 1));
    }
    return m_fixture->runProgram(arguments, environment);
}

void TestTunnelService::installRunsAndStopRemoves()
{
    QVERIFY(m_fixture->writeProfile(TunnelFixture::freePort()));
    const QStringList install{u"--install"_s, TunnelFixture::tunnelName, m_fixture->profilePath()};
    QCOMPARE(runProgram(install), 0);
    // The check page was fetched through the engine's probe proxy.
    QCOMPARE(m_server.requestCount(u"GET /generate_204"_s), 1);

    std::uint32_t error = 0;
    const platform::ServiceStatus running = TunnelFixture::serviceStatus(serviceName, error);
    QCOMPARE(error, 0u);
    QCOMPARE(running.state, platform::ServiceState::Running);
    QVERIFY(running.acceptsStop);

    // A stop the client did not ask for: the engine's words are left for the client, in the
    // folder only administrators can change, never in the user's data directory.
    {
        platform::ServiceManager manager(platform::ManagerAccess::Connect);
        platform::ServiceHandle service = manager.openService(
            serviceName.toStdString(), platform::ServiceStop | platform::ServiceQueryStatus);
        QCOMPARE(service.stop(), 0u);
        platform::ServiceStatus status;
        QTRY_VERIFY_WITH_TIMEOUT(
            service.query(status) == 0 && status.state == platform::ServiceState::Stopped, 20000);
    }
    QByteArray output = m_fixture->readErrorFile();
    QVERIFY(output.contains("running without the SolvikVPN adapter"));
    secretwipe::wipe(output);
    QCOMPARE(QDir(m_fixture->dataDirectory()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{QFileInfo(m_fixture->profilePath()).fileName()});

    // "--stop" removes the service and, as the client cannot, the error file.
    QCOMPARE(runProgram({u"--stop"_s, TunnelFixture::tunnelName}), 0);
    TunnelFixture::serviceStatus(serviceName, error);
    QCOMPARE(error, 1060u);
    QVERIFY(!QFile::exists(m_fixture->errorPath()));
    QVERIFY(QFile::exists(m_fixture->profilePath()));
}

void TestTunnelService::secondInstallReplacesFirst()
{
    QVERIFY(m_fixture->writeProfile(TunnelFixture::freePort()));
    const QStringList install{u"--install"_s, TunnelFixture::tunnelName, m_fixture->profilePath()};
    QCOMPARE(runProgram(install), 0);
    std::uint32_t error = 0;
    const std::uint32_t firstProcess = TunnelFixture::serviceStatus(serviceName, error).processId;
    QVERIFY(firstProcess != 0);

    // The client writes a new profile (new port) for every start.
    QVERIFY(m_fixture->writeProfile(TunnelFixture::freePort()));
    QCOMPARE(runProgram(install), 0);
    const platform::ServiceStatus second = TunnelFixture::serviceStatus(serviceName, error);
    QCOMPARE(error, 0u);
    QCOMPARE(second.state, platform::ServiceState::Running);
    QVERIFY(second.processId != 0);
    QVERIFY(second.processId != firstProcess);

    std::vector<platform::ServiceEntry> entries;
    platform::ServiceManager manager(platform::ManagerAccess::Enumerate);
    QCOMPARE(manager.enumerateServices(entries), 0u);
    QCOMPARE(entries.size(), std::size_t(1));
}

void TestTunnelService::failedInstalls_data()
{
    QTest::addColumn<int>("proxyPort"); // 0: a free port
    QTest::addColumn<bool>("withEngine");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QByteArray>("errorFileHolds"); // empty: no error file

    QTest::newRow("engine refuses its configuration")
        << 0 << true
        << QStringList{u"SOLVIKVPN_STUB_DIAGNOSTIC=start service: start inbound/tun[tun-in]: "
                       u"configure tun interface: operation not permitted"_s,
                       u"SOLVIKVPN_STUB_FAIL=run"_s}
        << 1062 << QByteArray("configure tun interface: operation not permitted");
    QTest::newRow("engine missing") << 0 << false << QStringList{} << 2 << QByteArray();
    QTest::newRow("proxy port 1023") << 1023 << true << QStringList{} << 13 << QByteArray();
    QTest::newRow("check page answers 200")
        << 0 << true
        << QStringList{QLatin1String(TunnelFixture::checkUrlsVariable) + u"=http://127.0.0.1:"_s +
                       QString::number(m_server.port()) + u"/portal"_s}
        << 1236 << QByteArray("running without the SolvikVPN adapter");
}

void TestTunnelService::failedInstalls()
{
    QFETCH(int, proxyPort);
    QFETCH(bool, withEngine);
    QFETCH(QStringList, environment);
    QFETCH(int, exitCode);
    QFETCH(QByteArray, errorFileHolds);

    if (!withEngine) {
        m_fixture.reset();
        m_fixture = std::make_unique<TunnelFixture>(false);
        QVERIFY(m_fixture->isValid());
    }
    QVERIFY(m_fixture->writeProfile(proxyPort ? quint16(proxyPort) : TunnelFixture::freePort()));
    // A leftover error file of an earlier attempt must not survive into this one.
    QVERIFY(QDir().mkpath(QFileInfo(m_fixture->errorPath()).absolutePath()));
    QFile stale(m_fixture->errorPath());
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("stale");
    stale.close();

    QCOMPARE(runProgram({u"--install"_s, TunnelFixture::tunnelName, m_fixture->profilePath()},
                        environment),
             exitCode);
    // A failed install leaves no service behind.
    std::uint32_t error = 0;
    TunnelFixture::serviceStatus(serviceName, error);
    QCOMPARE(error, 1060u);
    QByteArray output = m_fixture->readErrorFile();
    if (errorFileHolds.isEmpty()) {
        QVERIFY(!QFile::exists(m_fixture->errorPath()));
    } else {
        QVERIFY2(output.contains(errorFileHolds), output.constData());
    }
    secretwipe::wipe(output);
}

void TestTunnelService::stopOfUnknownTunnelSucceeds()
{
    QCOMPARE(runProgram({u"--stop"_s, u"tnel_ffffffffffffffffffff"_s}), 0);
}

void TestTunnelService::serviceModeOutsideManager()
{
    QVERIFY(m_fixture->writeProfile(TunnelFixture::freePort()));
    QCOMPARE(runProgram({u"--service"_s, TunnelFixture::tunnelName, m_fixture->profilePath()}),
             1063);
}

void TestTunnelService::cleanupModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("remaining");

    const QString hex = u"0123456789abcdef0123"_s;
    QTest::newRow("legacy") << u"--cleanup-legacy"_s
                            << QStringList{u"SolvikVPN$tnel_"_s + hex, u"Unrelated"_s};
    QTest::newRow("all") << u"--cleanup-all"_s << QStringList{u"Unrelated"_s};
}

void TestTunnelService::cleanupModes()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, remaining);

    const QString hex = u"0123456789abcdef0123"_s;
    {
        platform::ServiceManager manager(platform::ManagerAccess::CreateService);
        QVERIFY(manager.isOpen());
        for (const QString &name : {u"WireGuardTunnel$zelv_"_s + hex, u"PelgraVPN$tnel_"_s + hex,
                                    u"SolvikVPN$tnel_"_s + hex, u"Unrelated"_s}) {
            // Display names are unique across services, as on Windows.
            const platform::ServiceDefinition definition{name.toStdString(),
                                                         "Test " + name.toStdString(), "/bin/true",
                                                         platform::ServiceStartType::Demand};
            QCOMPARE(manager.createService(definition, platform::ServiceQueryStatus).error(), 0u);
        }
    }
    QCOMPARE(runProgram({mode}), 0);

    std::vector<platform::ServiceEntry> entries;
    platform::ServiceManager manager(platform::ManagerAccess::Enumerate);
    QCOMPARE(manager.enumerateServices(entries), 0u);
    QStringList names;
    for (const platform::ServiceEntry &entry : entries) {
        names.append(QString::fromStdString(entry.name));
    }
    names.sort();
    remaining.sort();
    QCOMPARE(names, remaining);
}

void TestTunnelService::selfHealing_data()
{
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<std::uint32_t>("control"); // 0: the engine is killed with SIGKILL
    QTest::addColumn<int>("controls");
    QTest::addColumn<bool>("proxySilent");
    QTest::addColumn<int>("engineRuns");

    const std::uint32_t resumed = platform::resumedControlCode;
    const std::uint32_t networkChanged = platform::networkChangedControlCode;
    QTest::newRow("killed engine runs again") << true << 0u << 0 << false << 2;
    QTest::newRow("without reconnecting the service ends") << false << 0u << 0 << false << 1;
    QTest::newRow("resumed: healthy engine left alone") << true << resumed << 1 << false << 1;
    QTest::newRow("network changed: silent proxy restarted")
        << true << networkChanged << 1 << true << 2;
    QTest::newRow("20 network changes in a second: one check")
        << true << networkChanged << 20 << false << 1;
}

void TestTunnelService::selfHealing()
{
    QFETCH(bool, reconnect);
    QFETCH(std::uint32_t, control);
    QFETCH(int, controls);
    QFETCH(bool, proxySilent);
    QFETCH(int, engineRuns);

    const quint16 port = TunnelFixture::freePort();
    QVERIFY(m_fixture->writeProfile(port));
    const QString runLog = m_fixture->applicationDirectory() + u"/runs.log"_s;
    QStringList install{u"--install"_s, TunnelFixture::tunnelName, m_fixture->profilePath()};
    QCOMPARE(runProgram(reconnect ? install : install << u"--no-reconnect"_s,
                        {u"SOLVIKVPN_STUB_RUN_LOG="_s + runLog,
                         u"SOLVIKVPN_STUB_PORT_SECONDS="_s + (proxySilent ? u"1"_s : u"600"_s)}),
             0);
    std::uint32_t error = 0;
    QTRY_VERIFY_WITH_TIMEOUT(!proxySilent || !platform::probeLoopbackPort(port, 100), 3000);
    const qsizetype accepted = TunnelFixture::logged(runLog, u"accept"_s).size();
    if (control == 0) {
        QCOMPARE(::kill(TunnelFixture::logged(runLog, u"run "_s).first().mid(4).toInt(), SIGKILL),
                 0);
    }
    platform::ServiceManager manager(platform::ManagerAccess::Connect);
    platform::ServiceHandle service =
        manager.openService(serviceName.toStdString(), platform::ServiceUserControl);
    for (int sent = 0; sent < controls; ++sent) {
        QCOMPARE(service.control(control), 0u);
        QTest::qWait(40);
    }
    if (!reconnect) {
        QTRY_COMPARE(TunnelFixture::serviceStatus(serviceName, error).state,
                     platform::ServiceState::Stopped);
        QCOMPARE(TunnelFixture::serviceStatus(serviceName, error).win32ExitCode, 0u);
    } else if (engineRuns == 1) {
        // Past the 2 s in which the service gathers a burst, and its one check.
        QTest::qWait(3000);
        QCOMPARE(TunnelFixture::logged(runLog, u"accept"_s).size(), accepted + 1);
    } else {
        bool reconnecting = false; // seen in the status record
        QVERIFY(QTest::qWaitFor(
            [&] {
                const std::optional<TunnelStatus> status = TunnelFixture::statusRecord();
                reconnecting =
                    reconnecting || (status && status->state == TunnelStatus::State::Reconnecting);
                return TunnelFixture::logged(runLog, u"run "_s).size() == 2;
            },
            control == 0 ? 2000 : 5000));
        QVERIFY(reconnecting);
        QTRY_VERIFY(TunnelFixture::statusRecord() == TunnelStatus());
        QVERIFY(proxySilent || platform::probeLoopbackPort(port, 1000));
        QCOMPARE(TunnelFixture::serviceStatus(serviceName, error).state,
                 platform::ServiceState::Running);
    }
    QCOMPARE(TunnelFixture::logged(runLog, u"run "_s).size(), engineRuns);
    QCOMPARE(TunnelFixture::statusRecord().has_value(), engineRuns == 2);
}

QTEST_GUILESS_MAIN(TestTunnelService)
#include "tst_tunnelservice.moc"
