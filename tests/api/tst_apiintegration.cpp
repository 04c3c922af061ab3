#include "api/apiclient.h"
#include "api/backendcatalogue.h"
#include "api/devicecredentials.h"
#include "api/failuremessages.h"
#include "api/session.h"
#include "common/protectedstore.h"
#include "support/testhome.h"
#include "tools/devbackend/devbackend.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>

#include <memory>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Everything the client or this test writes through Qt's message handler.
QStringList capturedMessages;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    capturedMessages.append(message);
}

ApiResult send(ApiClient &client, const QByteArray &method, const QString &path,
               const QJsonObject &body, bool authenticated)
{
    std::optional<ApiResult> outcome;
    client.request(method, path, body, authenticated,
                   [&outcome](const ApiResult &result) { outcome = result; });
    if (!QTest::qWaitFor([&outcome] { return outcome.has_value(); }, 10000))
        return ApiResult();
    return *outcome;
}

QJsonObject otherDevice(int number)
{
    const QJsonObject credentials{
        {u"installationId"_s, QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {u"deviceToken"_s, QString(43, QLatin1Char(char('a' + number)))}};
    return api::deviceObject(credentials, u"machine-%1"_s.arg(number), u"0.8.0"_s);
}

} // namespace

class ApiIntegrationTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void signInRefreshDeviceLimitRestore();

private:
    std::unique_ptr<TestHome> m_home;
};

void ApiIntegrationTest::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    QCoreApplication::setApplicationVersion(u"0.8.0"_s);
}

void ApiIntegrationTest::signInRefreshDeviceLimitRestore()
{
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    DevBackendOptions options;
    // The less convenient reply shapes: numeric device ids and "/me" inside "user".
    options.numericDeviceIds = true;
    options.meInsideUser = true;
    DevBackend backend(options);
    QVERIFY(backend.listen());

    auto client = std::make_unique<ApiClient>();
    client->setBaseUrl(backend.baseUrl());
    auto session = std::make_unique<Session>(*client);
    QSignalSpy errors(session.get(), &Session::error);

    // Sign in with this installation's device credentials.
    QString error;
    const QJsonObject device = api::deviceInfo(&error);
    QVERIFY2(!device.isEmpty(), qPrintable(error));
    const QJsonObject signIn{{u"email"_s, options.demoEmail},
                             {u"password"_s, options.demoPassword},
                             {u"device"_s, device}};
    const ApiResult login = send(*client, "POST", backend::login, signIn, false);
    QCOMPARE(login.status, 200);
    QVERIFY(session->acceptTokens(login.body));
    session->checkProfile();
    QTRY_VERIFY(session->authenticated());
    const QString installationId = device.value(u"installationId"_s).toString();
    QCOMPARE(session->deviceId(), backend.deviceIdOf(options.demoEmail, installationId));
    QVERIFY(!session->userId().isEmpty());
    const QString userId = session->userId();
    const QByteArray firstSession = protectedstore::readProtected(u"session"_s);

    // An expired access token is renewed on the way, unseen by the caller.
    backend.expireAccessTokens();
    const ApiResult access = send(*client, "GET", backend::accessMe, {}, true);
    QCOMPARE(access.status, 200);
    QCOMPARE(backend.requestCount(u"POST /auth/refresh"_s), 1);
    QCOMPARE(backend.requestCount(u"GET /access/me"_s), 2);
    const QByteArray renewedSession = protectedstore::readProtected(u"session"_s);
    QVERIFY(renewedSession != firstSession);
    QVERIFY(session->authenticated());
    QVERIFY(errors.isEmpty());

    // Two more machines fill the account; the fourth is refused with the device-slot sentence.
    for (int number = 1; number <= 2; ++number) {
        const ApiResult other = send(*client, "POST", backend::login,
                                     QJsonObject{{u"email"_s, options.demoEmail},
                                                 {u"password"_s, options.demoPassword},
                                                 {u"device"_s, otherDevice(number)}},
                                     false);
        QCOMPARE(other.status, 200);
    }
    const ApiResult fourth = send(*client, "POST", backend::login,
                                  QJsonObject{{u"email"_s, options.demoEmail},
                                              {u"password"_s, options.demoPassword},
                                              {u"device"_s, otherDevice(3)}},
                                  false);
    QCOMPARE(fourth.status, 409);
    QCOMPARE(api::signInFailureMessage(fourth.status, fourth.body),
             u"All 3 device slots are in use. Remove a device from another signed-in device, "
             u"then try again."_s);
    QCOMPARE(backend.deviceCount(options.demoEmail), 3);

    // A restart: a new client and session resume from the stored session.
    session.reset();
    client.reset();
    ApiClient restarted;
    restarted.setBaseUrl(backend.baseUrl());
    Session resumed(restarted);
    QSignalSpy changes(&resumed, &Session::changed);
    resumed.restore();
    QTRY_VERIFY(resumed.authenticated());
    QCOMPARE(changes.size(), 1);
    QCOMPARE(resumed.userId(), userId);
    QCOMPARE(resumed.deviceId(), backend.deviceIdOf(options.demoEmail, installationId));
    // Signing in again on the same installation reuses the registered device.
    QCOMPARE(api::deviceInfo(&error).value(u"installationId"_s).toString(), installationId);

    // Nothing secret reached any output.
    qInstallMessageHandler(previous);
    const QJsonObject stored = QJsonDocument::fromJson(renewedSession).object();
    const QStringList secrets{stored.value(u"accessToken"_s).toString(),
                              stored.value(u"refreshToken"_s).toString(), options.demoPassword,
                              device.value(u"deviceToken"_s).toString()};
    for (const QString &secret : secrets) {
        QVERIFY(!secret.isEmpty());
        for (const QString &message : std::as_const(capturedMessages))
            QVERIFY(!message.contains(secret));
    }
}

QTEST_GUILESS_MAIN(ApiIntegrationTest)
#include "tst_apiintegration.moc"
