#include "api/apiclient.h"
#include "api/replyrules.h"
#include "api/session.h"
#include "common/protectedstore.h"
#include "support/testhome.h"
#include "tools/devbackend/httpserver.h"

#include <QDir>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString sessionFile = u"session"_s;

QJsonObject storedSession()
{
    return QJsonDocument::fromJson(protectedstore::readProtected(sessionFile)).object();
}

bool sessionFileExists()
{
    return QFileInfo::exists(protectedstore::dataDirectory() + u"/session.dpapi"_s);
}

QJsonObject tokenReply(const QString &access, const QString &refresh, const QString &device)
{
    return QJsonObject{
        {u"accessToken"_s, access}, {u"refreshToken"_s, refresh}, {u"deviceId"_s, device}};
}

QString lastText(const QSignalSpy &spy)
{
    return spy.isEmpty() ? QString() : spy.constLast().at(0).toString();
}

} // namespace

class SessionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void acceptTokens_data();
    void acceptTokens();
    void failedWriteInstallsNoTokens();
    void restore_data();
    void restore();
    void checkProfile_data();
    void checkProfile();
    void clearRemovesFileAndCancels();
    void clearDuringRefreshReportsExpiry();
    void refreshTimerRenewsTokens();

private:
    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<ApiClient> m_client;
    std::unique_ptr<Session> m_session;
    // What the scripted backend answers on GET "/me".
    int m_meStatus = 200;
    QByteArray m_meBody;
    QList<HttpResponderPtr> m_held;
};

void SessionTest::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
}

void SessionTest::init()
{
    QVERIFY(protectedstore::removeProtected(sessionFile));
    m_meStatus = 200;
    m_meBody.clear();
    m_server = std::make_unique<HttpServer>();
    m_server->setHandler([this](const HttpRequest &request, const HttpResponderPtr &reply) {
        if (request.route() == u"GET /me")
            reply->send(m_meStatus, m_meBody);
        else if (request.route() == u"POST /auth/refresh" && request.body.contains("renewable"))
            reply->sendJson(200, QJsonObject{{u"accessToken"_s, u"renewed-access"_s},
                                             {u"refreshToken"_s, u"renewed-refresh"_s}});
        else
            m_held.append(reply);
    });
    QVERIFY(m_server->listen());
    m_client = std::make_unique<ApiClient>();
    m_client->setBaseUrl(QUrl(u"http://127.0.0.1:%1"_s.arg(m_server->port())));
    m_session = std::make_unique<Session>(*m_client);
}

void SessionTest::cleanup()
{
    m_session.reset();
    m_client.reset();
    m_held.clear();
    m_server.reset();
    QDir(protectedstore::dataDirectory() + u"/session.dpapi.tmp"_s).removeRecursively();
}

void SessionTest::acceptTokens_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("knownDevice");
    QTest::addColumn<QString>("expectedError");
    QTest::addColumn<QString>("expectedDevice");
    const QString missingTokens = u"The response is missing session tokens."_s;
    const QString register_ =
        u"Please sign in again to register this device with the updated service."_s;
    QTest::newRow("flat") << QByteArray(
                                 R"({"accessToken":"a1","refreshToken":"r1","deviceId":"d1"})")
                          << QString() << QString() << u"d1"_s;
    QTest::newRow("inside data")
        << QByteArray(R"({"data":{"accessToken":"a1","refreshToken":"r1","deviceId":"d2"}})")
        << QString() << QString() << u"d2"_s;
    QTest::newRow("refresh reply keeps device")
        << QByteArray(R"({"accessToken":"a2","refreshToken":"r2"})") << u"d9"_s << QString()
        << u"d9"_s;
    QTest::newRow("refresh reply replaces device")
        << QByteArray(R"({"accessToken":"a2","refreshToken":"r2","deviceId":"d10"})") << u"d9"_s
        << QString() << u"d10"_s;
    QTest::newRow("missing refresh token") << QByteArray(R"({"accessToken":"a1","deviceId":"d1"})")
                                           << QString() << missingTokens << QString();
    QTest::newRow("token not a string")
        << QByteArray(R"({"accessToken":5,"refreshToken":"r1","deviceId":"d1"})") << QString()
        << missingTokens << QString();
    QTest::newRow("no device known") << QByteArray(R"({"accessToken":"a1","refreshToken":"r1"})")
                                     << QString() << register_ << QString();
    QTest::newRow("numeric device id is not text")
        << QByteArray(R"({"accessToken":"a1","refreshToken":"r1","deviceId":5})") << QString()
        << register_ << QString();
}

void SessionTest::acceptTokens()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, knownDevice);
    QFETCH(QString, expectedError);
    QFETCH(QString, expectedDevice);
    if (!knownDevice.isEmpty())
        QVERIFY(m_session->acceptTokens(tokenReply(u"a0"_s, u"r0"_s, knownDevice)));
    QSignalSpy errors(m_session.get(), &Session::error);

    const QJsonObject object = QJsonDocument::fromJson(reply).object();
    const bool accepted = m_session->acceptTokens(object);

    QCOMPARE(accepted, expectedError.isEmpty());
    QCOMPARE(lastText(errors), expectedError);
    if (!accepted) {
        QCOMPARE(m_client->hasTokens(), !knownDevice.isEmpty());
        QCOMPARE(sessionFileExists(), !knownDevice.isEmpty());
        return;
    }
    const QJsonObject tokens = object.contains(u"data"_s) ? object[u"data"_s].toObject() : object;
    const QJsonObject expectedFile = tokenReply(
        tokens[u"accessToken"_s].toString(), tokens[u"refreshToken"_s].toString(), expectedDevice);
    QVERIFY(storedSession() == expectedFile);
    QCOMPARE(m_session->deviceId(), expectedDevice);
    QVERIFY(m_client->hasTokens());
    QVERIFY(m_session->isRefreshTimerActive());
    QCOMPARE(m_session->refreshTimerInterval(), 540000);
    QVERIFY(!m_session->authenticated()); // not before the profile check
}

void SessionTest::failedWriteInstallsNoTokens()
{
    QVERIFY(protectedstore::writeProtected(sessionFile, "{}"));
    // A directory where the replacement file must go makes every session write fail.
    QVERIFY(QDir().mkpath(protectedstore::dataDirectory() + u"/session.dpapi.tmp"_s));
    QSignalSpy errors(m_session.get(), &Session::error);

    QVERIFY(!m_session->acceptTokens(tokenReply(u"a1"_s, u"r1"_s, u"d1"_s)));

    QCOMPARE(lastText(errors), u"Could not securely save your session. Please sign in again."_s);
    QVERIFY(!m_client->hasTokens());
    QVERIFY(!sessionFileExists());
    QVERIFY(!m_session->isRefreshTimerActive());
    QVERIFY(m_session->deviceId().isEmpty());
}

void SessionTest::restore_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("expectedError");
    QTest::addColumn<int>("expectedRequests");
    QTest::addColumn<bool>("expectedAuthenticated");
    const QString updated =
        u"Solvik VPN was updated. Please sign in again to register this device."_s;
    QTest::newRow("no file") << QByteArray() << QString() << 0 << false;
    QTest::newRow("stored without device")
        << QByteArray(R"({"accessToken":"a1","refreshToken":"r1"})") << updated << 0 << false;
    QTest::newRow("not json") << QByteArray("accessToken=a1") << updated << 0 << false;
    QTest::newRow("complete") << QByteArray(
                                     R"({"accessToken":"a1","refreshToken":"r1","deviceId":"d1"})")
                              << QString() << 1 << true;
}

void SessionTest::restore()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, expectedError);
    QFETCH(int, expectedRequests);
    QFETCH(bool, expectedAuthenticated);
    if (!stored.isEmpty())
        QVERIFY(protectedstore::writeProtected(sessionFile, stored));
    m_meBody = R"({"id":"u1","currentDeviceId":"d1"})";
    QSignalSpy errors(m_session.get(), &Session::error);
    QSignalSpy changes(m_session.get(), &Session::changed);

    m_session->restore();
    if (expectedAuthenticated)
        QTRY_VERIFY(m_session->authenticated());
    else
        QTest::qWait(50);

    QCOMPARE(m_session->authenticated(), expectedAuthenticated);
    QCOMPARE(lastText(errors), expectedError);
    QCOMPARE(m_server->requestCount(), expectedRequests);
    QCOMPARE(sessionFileExists(), expectedAuthenticated);
    QCOMPARE(changes.size(), stored.isEmpty() ? 0 : 1);
    if (!changes.isEmpty())
        QCOMPARE(changes.constFirst().at(0).toBool(), expectedAuthenticated);
}

void SessionTest::checkProfile_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("storedDevice");
    QTest::addColumn<QString>("expectedError");
    QTest::addColumn<QString>("expectedUser");
    const QString notBound = u"The session is not bound to this device. Please sign in again."_s;
    const QString noUser =
        u"The account response is missing a user ID. Local profiles were not loaded."_s;
    QTest::newRow("match") << 200 << QByteArray(R"({"id":"u1","currentDeviceId":"d1"})") << u"d1"_s
                           << QString() << u"u1"_s;
    QTest::newRow("numeric current device matches text")
        << 200 << QByteArray(R"({"id":7,"currentDeviceId":42})") << u"42"_s << QString() << u"7"_s;
    QTest::newRow("user object wins over top level")
        << 200
        << QByteArray(
               R"({"id":"top","currentDeviceId":"other","user":{"_id":"u2","currentDeviceId":"d1"}})")
        << u"d1"_s << QString() << u"u2"_s;
    QTest::newRow("inside data") << 200
                                 << QByteArray(R"({"data":{"id":"u3","currentDeviceId":"d1"}})")
                                 << u"d1"_s << QString() << u"u3"_s;
    QTest::newRow("other device") << 200 << QByteArray(R"({"id":"u1","currentDeviceId":"d2"})")
                                  << u"d1"_s << notBound << QString();
    QTest::newRow("no current device")
        << 200 << QByteArray(R"({"id":"u1"})") << u"d1"_s << notBound << QString();
    QTest::newRow("device ids compare exactly")
        << 200 << QByteArray(R"({"id":"u1","currentDeviceId":"D1"})") << u"d1"_s << notBound
        << QString();
    QTest::newRow("no user id") << 200 << QByteArray(R"({"currentDeviceId":"d1"})") << u"d1"_s
                                << noUser << QString();
    QTest::newRow("server error keeps tokens")
        << 500 << QByteArray("<html></html>") << u"d1"_s
        << u"Something went wrong on our side. Please try again later."_s << QString();
}

void SessionTest::checkProfile()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, storedDevice);
    QFETCH(QString, expectedError);
    QFETCH(QString, expectedUser);
    m_meStatus = status;
    m_meBody = body;
    QVERIFY(m_session->acceptTokens(tokenReply(u"a1"_s, u"r1"_s, storedDevice)));
    QSignalSpy errors(m_session.get(), &Session::error);
    QSignalSpy changes(m_session.get(), &Session::changed);
    QSignalSpy profiles(m_session.get(), &Session::profile);

    m_session->checkProfile();
    QTRY_VERIFY(!errors.isEmpty() || !changes.isEmpty());

    const bool signedIn = expectedError.isEmpty();
    QCOMPARE(lastText(errors), expectedError);
    QCOMPARE(m_session->authenticated(), signedIn);
    QCOMPARE(m_session->userId(), expectedUser);
    QCOMPARE(profiles.size(), signedIn ? 1 : 0);
    const bool keptTokens = status != 200; // a failed check only reports its message
    QCOMPARE(m_client->hasTokens(), signedIn || keptTokens);
    QCOMPARE(sessionFileExists(), signedIn || keptTokens);
    QCOMPARE(m_session->deviceId().isEmpty(), !signedIn && !keptTokens);
    if (signedIn) {
        QCOMPARE(changes.size(), 1);
        QVERIFY(changes.constFirst().at(0).toBool());
        QCOMPARE(api::jsonText(profiles.constFirst().at(0).toJsonObject().value(u"id"_s)),
                 expectedUser);
    } else if (!keptTokens) {
        QVERIFY(!changes.isEmpty());
        QVERIFY(!changes.constLast().at(0).toBool());
    }
}

void SessionTest::clearRemovesFileAndCancels()
{
    QVERIFY(m_session->acceptTokens(tokenReply(u"a1"_s, u"r1"_s, u"d1"_s)));
    int calls = 0;
    bool cancelled = false;
    m_client->request("GET", u"/access/me"_s, {}, true, [&](const ApiResult &result) {
        ++calls;
        cancelled = result.cancelled;
    });
    QTRY_COMPARE(m_held.size(), 1);
    QSignalSpy changes(m_session.get(), &Session::changed);
    QSignalSpy errors(m_session.get(), &Session::error);

    m_session->clear();

    QCOMPARE(calls, 1);
    QVERIFY(cancelled);
    QVERIFY(!sessionFileExists());
    QVERIFY(!m_client->hasTokens());
    QVERIFY(!m_session->isRefreshTimerActive());
    QVERIFY(m_session->deviceId().isEmpty());
    QCOMPARE(changes.size(), 1);
    QVERIFY(!changes.constFirst().at(0).toBool());
    QVERIFY(errors.isEmpty());
}

void SessionTest::clearDuringRefreshReportsExpiry()
{
    QVERIFY(m_session->acceptTokens(tokenReply(u"a1"_s, u"held-refresh"_s, u"d1"_s)));
    m_client->refreshIfNeeded();
    QTRY_COMPARE(m_held.size(), 1);
    QSignalSpy errors(m_session.get(), &Session::error);

    m_session->clear();

    QCOMPARE(errors.size(), 1);
    QCOMPARE(lastText(errors), u"Your session is no longer valid. Please sign in again."_s);
    QVERIFY(!m_session->authenticated());
    QVERIFY(!m_client->hasTokens());
    QVERIFY(!sessionFileExists());
}

void SessionTest::refreshTimerRenewsTokens()
{
    QCOMPARE(m_session->refreshTimerInterval(), Session::refreshIntervalMs);
    m_session->setRefreshTimerInterval(20);
    QVERIFY(m_session->acceptTokens(tokenReply(u"a1"_s, u"renewable"_s, u"d1"_s)));

    QTRY_VERIFY(storedSession().value(u"accessToken"_s).toString() == u"renewed-access"_s);
    QVERIFY(storedSession() == tokenReply(u"renewed-access"_s, u"renewed-refresh"_s, u"d1"_s));
    QCOMPARE(m_session->deviceId(), u"d1"_s);
    QVERIFY(m_session->isRefreshTimerActive());
}

QTEST_GUILESS_MAIN(SessionTest)
#include "tst_session.moc"
