#include "common/protectedstore.h"
#include "common/tunnelcontract.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "tools/devbackend/httpserver.h"
#include "vpn/windowsvless.h"

#include "adaptersignalrecorder.h"
#include "tunnelfixture.h"

#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

// The adapter against the real tunnel program and the engine stub: the helper runs directly
// (no elevation prompt), the service under the POSIX service manager in a private state
// directory, and the connectivity check is answered on loopback through the stub's probe proxy.
class TestWindowsVlessEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void connectRefreshDisconnect();
    void failedHealthCheckIsReported();

private:
    void useCheckPage(const QString &path);
    void startTunnel(WindowsVless &adapter) const;

    TestHome m_home;
    HttpServer m_server;
    std::unique_ptr<TunnelFixture> m_fixture;
};

void TestWindowsVlessEndToEnd::initTestCase()
{
    QVERIFY(m_home.isValid());
    // Connects on this machine's own network: the block stays off here.
    settings::setBlockIfVpnDrops(false);
    m_server.setHandler([](const HttpRequest &request, const HttpResponderPtr &reply) {
        reply->send(request.path() == u"/generate_204"_s ? 204 : 500, QByteArray(), QByteArray());
    });
    QVERIFY(m_server.listen(QHostAddress::LocalHost));
    qputenv("SOLVIKVPN_ELEVATION", "direct");
    qputenv("SOLVIKVPN_STUB_NO_TUN", "1");
}

void TestWindowsVlessEndToEnd::init()
{
    m_fixture = std::make_unique<TunnelFixture>();
    QVERIFY(m_fixture->isValid());
    // The helper inherits this process's environment, so both ask the same service manager.
    qputenv("SOLVIKVPN_SERVICE_ROOT", QFile::encodeName(m_fixture->serviceRoot()));
    useCheckPage(u"/generate_204"_s);
    m_server.clearLog();
}

void TestWindowsVlessEndToEnd::cleanup()
{
    // Leave no service process behind, whatever the test did.
    QProcess program;
    program.setProcessEnvironment(m_fixture->environment());
    program.start(m_fixture->programPath(), {u"--cleanup-all"_s});
    QVERIFY(program.waitForFinished(60000));
    qunsetenv("SOLVIKVPN_SERVICE_ROOT");
    m_fixture.reset();
}

void TestWindowsVlessEndToEnd::useCheckPage(const QString &path)
{
    qputenv(TunnelFixture::checkUrlsVariable,
            u"http://127.0.0.1:%1%2"_s.arg(m_server.port()).arg(path).toUtf8());
}

void TestWindowsVlessEndToEnd::startTunnel(WindowsVless &adapter) const
{
    adapter.setApplicationDirectory(m_fixture->applicationDirectory());
    adapter.start(TunnelFixture::tunnelName,
                  *parseTunnelProfile(QJsonObject{{u"uri"_s, TunnelFixture::profileLink}}));
}

void TestWindowsVlessEndToEnd::connectRefreshDisconnect()
{
    WindowsVless adapter;
    AdapterSignalRecorder recorder(adapter);
    startTunnel(adapter);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 60000);
    QCOMPARE(recorder.events,
             (QStringList{u"busy"_s, u"idle"_s, u"state: Connected \u00b7 VLESS + REALITY"_s}));
    // The helper proved the tunnel through the engine's probe proxy.
    QCOMPARE(m_server.requestCount(u"GET /generate_204"_s), 1);

    recorder.events.clear();
    adapter.refresh(TunnelFixture::tunnelName);
    QCOMPARE(recorder.events, QStringList{u"state: Connected \u00b7 VLESS + REALITY"_s});

    recorder.events.clear();
    adapter.stop(TunnelFixture::tunnelName);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 60000);
    QCOMPARE(recorder.events, (QStringList{u"busy"_s, u"idle"_s, u"state: Not connected"_s}));
    const QString profilePath = tunnelcontract::tunnelProfilePath(protectedstore::dataDirectory(),
                                                                  TunnelFixture::tunnelName);
    QVERIFY(!QFile::exists(profilePath));

    recorder.events.clear();
    adapter.refresh(TunnelFixture::tunnelName);
    QCOMPARE(recorder.events, QStringList{u"state: Not connected"_s});
}

void TestWindowsVlessEndToEnd::failedHealthCheckIsReported()
{
    useCheckPage(u"/unreachable"_s);
    WindowsVless adapter;
    AdapterSignalRecorder recorder(adapter);
    startTunnel(adapter);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 60000);
    // 1236 crosses the 8-bit POSIX exit status and still selects its own sentence.
    QCOMPARE(recorder.events,
             (QStringList{u"busy"_s, u"idle"_s,
                          u"failed: The VPN server did not pass the connection check. Check its "
                          u"VLESS/REALITY settings or choose another server."_s}));

    // The helper removed the service again.
    recorder.events.clear();
    adapter.refresh(TunnelFixture::tunnelName);
    QCOMPARE(recorder.events, QStringList{u"state: Not connected"_s});
}

QTEST_GUILESS_MAIN(TestWindowsVlessEndToEnd)
#include "tst_windowsvless_endtoend.moc"
