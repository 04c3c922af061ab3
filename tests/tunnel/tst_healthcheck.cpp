#include "tunnel/healthcheck.h"

#include "common/engineconfiguration.h"
#include "common/secretwipe.h"
#include "common/tunnelcontract.h"
#include "platform/probeport.h"
#include "tools/devbackend/httpserver.h"

#include "tunnelfixture.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

class TestHealthCheck : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void checkUrlsOverride_data();
    void checkUrlsOverride();
    void pages_data();
    void pages();
    void unusableProfileFails_data();
    void unusableProfileFails();

private:
    QString pageUrl(const QString &page) const;
    // The profile as the helper read it: the probe proxy's port and password.
    static tunnelcontract::TunnelProfileFile probe(quint16 port, const QString &password);

    std::unique_ptr<TunnelFixture> m_fixture;
    HttpServer m_server;
    QProcess m_engine;
    quint16 m_proxyPort = 0;
    quint16 m_closedPort = 0;
};

void TestHealthCheck::initTestCase()
{
    m_fixture = std::make_unique<TunnelFixture>();
    QVERIFY(m_fixture->isValid());
    m_server.setHandler([](const HttpRequest &request, const HttpResponderPtr &reply) {
        const QString path = request.path();
        if (path == u"/204"_s) {
            reply->send(204, QByteArray(), QByteArray());
        } else if (path == u"/200"_s) {
            reply->send(200, "<html>captive portal</html>", "text/html");
        } else if (path == u"/302"_s) {
            // Points at a passing page: following it would wrongly pass the check.
            reply->setStatus(302);
            reply->setHeader("Location", "/204");
            reply->send();
        } else {
            reply->send(404, QByteArray(), QByteArray());
        }
    });
    QVERIFY(m_server.listen(QHostAddress::LocalHost));
    m_closedPort = TunnelFixture::freePort();

    // The engine stub's probe proxy, configured exactly as the service would configure it.
    m_proxyPort = TunnelFixture::freePort();
    QVERIFY(m_fixture->writeProfile(m_proxyPort));
    const std::optional<TunnelProfile> profile =
        parseTunnelProfile(QJsonObject{{u"uri"_s, TunnelFixture::profileLink}});
    QVERIFY(profile);
    QByteArray configuration = buildEngineConfiguration(
        *profile, m_proxyPort, QLatin1String(engineProbeProxyUser), TunnelFixture::proxyPassword);
    QProcessEnvironment environment = m_fixture->environment();
    environment.insert(u"SOLVIKVPN_STUB_NO_TUN"_s, u"1"_s);
    m_engine.setProcessEnvironment(environment);
    m_engine.start(m_fixture->applicationDirectory() + u"/core/sing-box"_s,
                   {u"run"_s, u"-c"_s, u"stdin"_s, u"--disable-color"_s});
    QVERIFY(m_engine.waitForStarted());
    m_engine.write(configuration);
    m_engine.closeWriteChannel();
    secretwipe::wipe(configuration);
    QTRY_VERIFY_WITH_TIMEOUT(platform::probeLoopbackPort(m_proxyPort, 100), 10000);
}

void TestHealthCheck::cleanupTestCase()
{
    m_engine.kill();
    m_engine.waitForFinished();
}

void TestHealthCheck::cleanup()
{
    qunsetenv(TunnelFixture::checkUrlsVariable);
    m_server.clearLog();
}

QString TestHealthCheck::pageUrl(const QString &page) const
{
    if (page == u"refused"_s) {
        return u"http://127.0.0.1:%1/204"_s.arg(m_closedPort);
    }
    return u"http://127.0.0.1:%1/%2"_s.arg(m_server.port()).arg(page);
}

tunnelcontract::TunnelProfileFile TestHealthCheck::probe(quint16 port, const QString &password)
{
    tunnelcontract::TunnelProfileFile file;
    file.proxyPort = port;
    file.proxyPassword = password;
    return file;
}

void TestHealthCheck::checkUrlsOverride_data()
{
    QTest::addColumn<QByteArray>("value"); // "unset" leaves the variable out
    QTest::addColumn<QStringList>("urls");

    QTest::newRow("unset: the built-in pages") << QByteArray("unset") << QStringList{};
    QTest::newRow("two loopback pages")
        << QByteArray("http://127.0.0.1:9/a  https://[::1]:8443/b")
        << QStringList{u"http://127.0.0.1:9/a"_s, u"https://[::1]:8443/b"_s};
    QTest::newRow("a public host voids the override")
        << QByteArray("http://127.0.0.1:9/a http://example.com/generate_204") << QStringList{};
    QTest::newRow("a host name is not trusted to be loopback")
        << QByteArray("http://localhost:9/a") << QStringList{};
    QTest::newRow("other scheme") << QByteArray("ftp://127.0.0.1/a") << QStringList{};
    QTest::newRow("set but empty reads as unset") << QByteArray("") << QStringList{};
}

void TestHealthCheck::checkUrlsOverride()
{
    QFETCH(QByteArray, value);
    QFETCH(QStringList, urls);

    if (value != "unset") {
        qputenv(TunnelFixture::checkUrlsVariable, value);
    }
    QList<QUrl> expected;
    if (value.isEmpty() || value == "unset") {
        expected = tunnelcontract::connectivityCheckUrls();
        QCOMPARE(expected.size(), 2);
    } else {
        for (const QString &url : std::as_const(urls)) {
            expected.append(QUrl(url));
        }
    }
    QCOMPARE(healthcheck::checkUrls(), expected);
}

void TestHealthCheck::pages_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("healthy");
    QTest::addColumn<QStringList>("requested"); // paths the server saw, in order

    QTest::newRow("first answers 204") << u"204"_s << u"200"_s << true << QStringList{u"/204"_s};
    QTest::newRow("first refused, second 204")
        << u"refused"_s << u"204"_s << true << QStringList{u"/204"_s};
    QTest::newRow("first 200, second 204")
        << u"200"_s << u"204"_s << true << QStringList{u"/200"_s, u"/204"_s};
    QTest::newRow("redirects are not followed")
        << u"302"_s << u"302"_s << false << QStringList{u"/302"_s, u"/302"_s};
    QTest::newRow("200 is not 204")
        << u"200"_s << u"200"_s << false << QStringList{u"/200"_s, u"/200"_s};
    QTest::newRow("both refused") << u"refused"_s << u"refused"_s << false << QStringList{};
    QTest::newRow("not found") << u"404"_s << u"404"_s << false
                               << QStringList{u"/404"_s, u"/404"_s};
}

void TestHealthCheck::pages()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, healthy);
    QFETCH(QStringList, requested);

    qputenv(TunnelFixture::checkUrlsVariable, (pageUrl(first) + u' ' + pageUrl(second)).toUtf8());
    QCOMPARE(healthcheck::checkTunnelHealth(probe(m_proxyPort, TunnelFixture::proxyPassword)),
             healthy);
    QStringList seen;
    const QList<HttpRequest> requests = m_server.requests();
    for (const HttpRequest &request : requests) {
        seen.append(request.path());
    }
    QCOMPARE(seen, requested);
}

void TestHealthCheck::unusableProfileFails_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("password");

    QTest::newRow("wrong proxy password") << true << u"00000000-0000-0000-0000-000000000000"_s;
    QTest::newRow("nothing listens on the port") << false << TunnelFixture::proxyPassword;
}

void TestHealthCheck::unusableProfileFails()
{
    QFETCH(bool, listening);
    QFETCH(QString, password);

    qputenv(TunnelFixture::checkUrlsVariable, pageUrl(u"204"_s).toUtf8());
    QVERIFY(!healthcheck::checkTunnelHealth(
        probe(listening ? m_proxyPort : TunnelFixture::freePort(), password)));
    QCOMPARE(m_server.requestCount(), 0);
}

QTEST_GUILESS_MAIN(TestHealthCheck)
#include "tst_healthcheck.moc"
