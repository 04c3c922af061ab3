#include "devbackendtestkit.h"
#include "tools/devbackend/devbackend.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace DevBackendTestKit;

class TestDevBackend : public QObject
{
    Q_OBJECT

private slots:
    void signInRefreshRotationAndExpiry();
    void signInRefusals_data();
    void signInRefusals();
    void deviceLimitAndRemoval();
    void registrationVerificationAndReset();
    void replyShapeOptions();
    void routingErrors_data();
    void routingErrors();
    void connectivityCheckPage();
    void executablePrintsAddressAndMailedTokensOnly();
};

void TestDevBackend::signInRefreshRotationAndExpiry()
{
    DevBackend backend;
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    const DevBackendOptions &options = backend.options();
    const Tokens first = login(client, options.demoEmail, options.demoPassword, Device());
    QCOMPARE(first.status, 200);
    QCOMPARE(first.access.size(), 43);
    QVERIFY(!first.refresh.isEmpty() && !first.deviceId.isEmpty());

    client.setBearer(first.access);
    const auto me = client.send("GET", u"/me"_s);
    QCOMPARE(me.status, 200);
    QCOMPARE(me.data().value(u"currentDeviceId").toString(), first.deviceId);
    QVERIFY(me.data().value(u"id").toString().startsWith(u"usr_"));

    const Tokens second = tokensOf(client.sendJson(
        "POST", u"/auth/refresh"_s, {{u"token"_s, QString::fromLatin1(first.refresh)}}));
    QCOMPARE(second.status, 200);
    QVERIFY(second.access != first.access && second.refresh != first.refresh);
    QCOMPARE(second.deviceId, first.deviceId);
    const auto reused = client.sendJson("POST", u"/auth/refresh"_s,
                                        {{u"token"_s, QString::fromLatin1(first.refresh)}});
    QCOMPARE(reused.status, 401);
    QCOMPARE(errorCode(reused), u"REFRESH_TOKEN_REUSED"_s);
    QCOMPARE(client.sendJson("POST", u"/auth/refresh"_s, {{u"token"_s, u"made-up"_s}}).status, 401);

    backend.expireAccessTokens();
    client.setBearer(second.access);
    const auto expired = client.send("GET", u"/me"_s);
    QCOMPARE(expired.status, 401);
    QCOMPARE(errorCode(expired), u"TOKEN_EXPIRED"_s);
    const Tokens third = tokensOf(client.sendJson(
        "POST", u"/auth/refresh"_s, {{u"token"_s, QString::fromLatin1(second.refresh)}}));
    client.setBearer(third.access);
    QCOMPARE(client.send("GET", u"/access/me"_s).data().value(u"plan").toObject().value(u"enabled"),
             QJsonValue(true));

    QCOMPARE(client.send("POST", u"/auth/logout"_s).status, 200);
    QCOMPARE(client.send("GET", u"/me"_s).status, 401);
    QCOMPARE(client
                 .sendJson("POST", u"/auth/refresh"_s,
                           {{u"token"_s, QString::fromLatin1(third.refresh)}})
                 .status,
             401);
}

void TestDevBackend::signInRefusals_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("code");
    const Device device;
    const auto body = [&device](const QString &email, const QString &password,
                                const QJsonValue &deviceValue) {
        QJsonObject object{{u"email"_s, email}, {u"password"_s, password}};
        if (!deviceValue.isUndefined())
            object.insert(u"device"_s, deviceValue);
        return QJsonDocument(object).toJson();
    };
    QJsonObject shortToken = device.json();
    shortToken.insert(u"deviceToken"_s, device.deviceToken.left(42));
    QJsonObject version3 = device.json();
    version3.insert(u"installationId"_s, u"0b1c2d3e-4f50-3a6b-8c7d-9e0f1a2b3c4d"_s);
    QTest::newRow("wrong password")
        << body(u"demo@example.com"_s, u"nope"_s, device.json()) << 401 << u"INVALID_CREDENTIALS"_s;
    QTest::newRow("unknown email")
        << body(u"who@example.com"_s, u"solvik-demo-2024"_s, device.json()) << 401
        << u"INVALID_CREDENTIALS"_s;
    QTest::newRow("unverified") << body(u"late@example.com"_s, u"password-1"_s, device.json())
                                << 403 << u"EMAIL_NOT_VERIFIED"_s;
    QTest::newRow("no device") << body(u"demo@example.com"_s, u"solvik-demo-2024"_s,
                                       QJsonValue::Undefined)
                               << 400 << u"VALIDATION_ERROR"_s;
    QTest::newRow("42-char token") << body(u"demo@example.com"_s, u"solvik-demo-2024"_s, shortToken)
                                   << 400 << u"VALIDATION_ERROR"_s;
    QTest::newRow("uuid not v4") << body(u"demo@example.com"_s, u"solvik-demo-2024"_s, version3)
                                 << 400 << u"VALIDATION_ERROR"_s;
    // "$" alone would let a final line feed through.
    QJsonObject tokenLineFeed = device.json();
    tokenLineFeed.insert(u"deviceToken"_s, device.deviceToken + u'\n');
    QJsonObject idLineFeed = device.json();
    idLineFeed.insert(u"installationId"_s, device.installationId + u'\n');
    QTest::newRow("token then line feed")
        << body(u"demo@example.com"_s, u"solvik-demo-2024"_s, tokenLineFeed) << 400
        << u"VALIDATION_ERROR"_s;
    QTest::newRow("uuid then line feed")
        << body(u"demo@example.com"_s, u"solvik-demo-2024"_s, idLineFeed) << 400
        << u"VALIDATION_ERROR"_s;
    QTest::newRow("not json") << QByteArray("email=demo") << 400 << u"INVALID_BODY"_s;
}

void TestDevBackend::signInRefusals()
{
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, code);
    DevBackend backend;
    QVERIFY(backend.addAccount(u"late@example.com"_s, u"password-1"_s, false));
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    const auto result = client.send("POST", u"/auth/login"_s, body);
    QCOMPARE(result.status, status);
    QCOMPARE(errorCode(result), code);
    QVERIFY(!result.body.contains("accessToken"));
}

void TestDevBackend::deviceLimitAndRemoval()
{
    DevBackend backend;
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    const QString email = backend.options().demoEmail;
    const QString password = backend.options().demoPassword;
    const Device devices[4];
    Tokens sessions[3];
    for (int i = 0; i < 3; ++i) {
        sessions[i] = login(client, email, password, devices[i]);
        QCOMPARE(sessions[i].status, 200);
    }
    // The same installation signing in again reuses its slot.
    QCOMPARE(login(client, email, password, devices[1]).deviceId, sessions[1].deviceId);
    QCOMPARE(backend.deviceCount(email), 3);

    const Tokens fourth = login(client, email, password, devices[3]);
    QCOMPARE(fourth.status, 409);
    QCOMPARE(fourth.body.value(u"error").toObject().value(u"code").toString(),
             u"DEVICE_LIMIT_REACHED"_s);

    Device impostor = devices[0];
    impostor.deviceToken = Device().deviceToken;
    QCOMPARE(login(client, email, password, impostor).status, 403);

    client.setBearer(sessions[0].access);
    const auto listed = client.send("GET", u"/devices?page=1&limit=20"_s);
    QCOMPARE(items(listed).size(), 3);
    int current = 0;
    for (const QJsonValue &device : items(listed))
        current += device.toObject().value(u"current").toBool() ? 1 : 0;
    QCOMPARE(current, 1);

    // Removing a device ends its sessions and revokes its VPN profiles.
    client.setBearer(sessions[0].access);
    const auto created =
        client.sendJson("POST", u"/vpn-profiles"_s, profileBody(QUuid::createUuid().toString()));
    QCOMPARE(created.status, 201);
    client.setBearer(sessions[1].access);
    QCOMPARE(client.send("DELETE", u"/devices/"_s + sessions[0].deviceId).status, 200);
    QCOMPARE(client.send("DELETE", u"/devices/"_s + sessions[0].deviceId).status, 404);
    const auto profiles = client.send("GET", u"/vpn-profiles?page=1&limit=20"_s);
    QCOMPARE(items(profiles).size(), 1);
    QCOMPARE(items(profiles).first().toObject().value(u"revoked"), QJsonValue(true));
    client.setBearer(sessions[0].access);
    QCOMPARE(client.send("GET", u"/me"_s).status, 401);
    QCOMPARE(client
                 .sendJson("POST", u"/auth/refresh"_s,
                           {{u"token"_s, QString::fromLatin1(sessions[0].refresh)}})
                 .status,
             401);
    QCOMPARE(login(client, email, password, devices[3]).status, 200);
    QCOMPARE(backend.deviceCount(email), 3);
}

void TestDevBackend::registrationVerificationAndReset()
{
    DevBackend backend;
    QString mailed;
    connect(&backend, &DevBackend::verificationTokenIssued, this,
            [&mailed](const QString &, const QString &token) { mailed = token; });
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    const auto post = [&client](const QString &path, const QJsonObject &body) {
        return client.sendJson("POST", path, body).status;
    };
    const QJsonObject account{{u"email"_s, u" New@Example.com "_s},
                              {u"password"_s, u"first-password"_s}};
    QCOMPARE(post(u"/auth/register"_s, account), 201);
    QCOMPARE(post(u"/auth/register"_s, account), 409);
    QCOMPARE(
        post(u"/auth/register"_s, {{u"email"_s, u"x@example.com"_s}, {u"password"_s, u"short"_s}}),
        400);
    QCOMPARE(backend.accountCount(), 2);
    const Device device;
    QCOMPARE(login(client, u"new@example.com"_s, u"first-password"_s, device).status, 403);

    QVERIFY(!mailed.isEmpty());
    QVERIFY(mailed == backend.verificationToken(u"new@example.com"_s));
    QCOMPARE(post(u"/auth/verify-email"_s, {{u"token"_s, u"wrong"_s}}), 400);
    QCOMPARE(post(u"/auth/verify-email"_s, {{u"token"_s, mailed}}), 200);
    QCOMPARE(post(u"/auth/verify-email"_s, {{u"token"_s, mailed}}), 400);
    const Tokens before = login(client, u"new@example.com"_s, u"first-password"_s, device);
    QCOMPARE(before.status, 200);

    // Unknown addresses get the same answer, so accounts cannot be probed.
    QCOMPARE(post(u"/auth/forgot-password"_s, {{u"email"_s, u"nobody@example.com"_s}}), 200);
    QCOMPARE(post(u"/auth/resend-verification"_s, {{u"email"_s, u"nobody@example.com"_s}}), 200);
    QCOMPARE(post(u"/auth/forgot-password"_s, {{u"email"_s, u"new@example.com"_s}}), 200);
    const QString reset = backend.resetToken(u"new@example.com"_s);
    QCOMPARE(reset.size(), 32);
    QCOMPARE(post(u"/auth/reset-password"_s, {{u"token"_s, reset}, {u"password"_s, u"short"_s}}),
             400);
    QCOMPARE(post(u"/auth/reset-password"_s,
                  {{u"token"_s, reset}, {u"password"_s, u"second-password"_s}}),
             200);
    QCOMPARE(post(u"/auth/reset-password"_s,
                  {{u"token"_s, reset}, {u"password"_s, u"third-password"_s}}),
             400);
    QCOMPARE(post(u"/auth/refresh"_s, {{u"token"_s, QString::fromLatin1(before.refresh)}}), 401);
    QCOMPARE(login(client, u"new@example.com"_s, u"first-password"_s, device).status, 401);
    QCOMPARE(login(client, u"new@example.com"_s, u"second-password"_s, device).status, 200);
}

void TestDevBackend::replyShapeOptions()
{
    DevBackendOptions options;
    options.wrapInData = false;
    options.meInsideUser = true;
    options.numericDeviceIds = true;
    DevBackend backend(options);
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    const Tokens session = login(client, options.demoEmail, options.demoPassword, Device());
    QVERIFY(!session.body.contains(u"data"));
    // The sign-in reply keeps a string, which the client stores; elsewhere the id is a number.
    QVERIFY(QRegularExpression(u"^[0-9]+$"_s).match(session.deviceId).hasMatch());
    client.setBearer(session.access);
    const QJsonObject me = client.send("GET", u"/me"_s).json();
    QVERIFY(!me.contains(u"data") && !me.contains(u"id"));
    QCOMPARE(me.value(u"user").toObject().value(u"currentDeviceId"),
             QJsonValue(session.deviceId.toLongLong()));
    const auto profile =
        client.sendJson("POST", u"/vpn-profiles"_s, profileBody(QUuid::createUuid().toString()));
    QCOMPARE(profile.json().value(u"accountDeviceId"), QJsonValue(session.deviceId.toLongLong()));
    const auto devices = client.send("GET", u"/devices?page=1&limit=20"_s).json();
    QCOMPARE(devices.value(u"items").toArray().first().toObject().value(u"id"),
             QJsonValue(session.deviceId.toLongLong()));
}

void TestDevBackend::routingErrors_data()
{
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<int>("status");
    QTest::newRow("unknown route")
        << QByteArray("GET") << u"/nothing"_s << QByteArray() << true << 404;
    QTest::newRow("wrong method") << QByteArray("PUT") << u"/vpn-profiles"_s << QByteArray() << true
                                  << 405;
    QTest::newRow("nested id") << QByteArray("GET") << u"/vpn-profiles/a/b"_s << QByteArray()
                               << true << 404;
    QTest::newRow("array body") << QByteArray("POST") << u"/vpn-profiles"_s << QByteArray("[]")
                                << true << 400;
    QTest::newRow("broken json") << QByteArray("POST") << u"/auth/refresh"_s
                                 << QByteArray("{\"token\":") << false << 400;
    QTest::newRow("no token") << QByteArray("GET") << u"/servers?page=1&limit=20"_s << QByteArray()
                              << false << 401;
    QTest::newRow("web ticket") << QByteArray("POST") << u"/auth/web-ticket"_s << QByteArray()
                                << true << 201;
    QTest::newRow("check page by POST")
        << QByteArray("POST") << u"/generate_204"_s << QByteArray() << false << 405;
}

void TestDevBackend::routingErrors()
{
    QFETCH(QByteArray, method);
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QFETCH(bool, signedIn);
    QFETCH(int, status);
    DevBackend backend;
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    const Tokens session =
        login(client, backend.options().demoEmail, backend.options().demoPassword, Device());
    client.setBearer(signedIn ? session.access : QByteArray());
    const auto result = client.send(method, path, body);
    QCOMPARE(result.status, status);
    if (status >= 400)
        QVERIFY(!result.json().value(u"error").toObject().value(u"message").toString().isEmpty());
    else
        QCOMPARE(result.data().value(u"token").toString().size(), 43);
}

void TestDevBackend::connectivityCheckPage()
{
    DevBackend backend;
    QVERIFY(backend.listen());
    // Raw bytes: an HTTP client drops a 204's body unseen, and the stray bytes would then spoil
    // the next reply on the kept-alive connection. Two requests without a token, one connection.
    QTcpSocket socket;
    QByteArray received;
    connect(&socket, &QTcpSocket::readyRead, this, [&] { received += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, backend.port());
    socket.write("GET /generate_204 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
                 "GET /generate_204 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 5000);
    received += socket.readAll();
    const qsizetype firstEnd = received.indexOf("\r\n\r\n") + 4;
    QVERIFY(received.startsWith("HTTP/1.1 204 "));
    QCOMPARE(received.indexOf("HTTP/1.1 204 ", 1), firstEnd);
    QVERIFY(received.endsWith("\r\n\r\n"));
    QCOMPARE(received.count("Content-Length: 0\r\n"), 2);
    QVERIFY(!received.contains("Content-Type"));
    QCOMPARE(backend.requestCount(u"GET /generate_204"_s), 2);
}

void TestDevBackend::executablePrintsAddressAndMailedTokensOnly()
{
    QProcess backend;
    backend.setProgram(QCoreApplication::applicationDirPath() + u"/solvikvpn-devbackend"_s);
    backend.setArguments({u"--port"_s, u"0"_s, u"--demo-email"_s, u"e2e@example.com"_s,
                          u"--demo-password"_s, u"e2e-password"_s});
    backend.start();
    QVERIFY(backend.waitForStarted(5000));
    QByteArray output;
    const QRegularExpression listening(
        u"Solvik VPN development backend listening on (http://127\\.0\\.0\\.1:[0-9]+)"_s);
    QRegularExpressionMatch match;
    QTRY_VERIFY_WITH_TIMEOUT((output += backend.readAllStandardOutput(),
                              match = listening.match(QString::fromUtf8(output)), match.hasMatch()),
                             5000);
    QVERIFY(output.contains("e2e@example.com / e2e-password"));

    SyncHttpClient client(QUrl(match.captured(1)));
    QCOMPARE(
        client
            .sendJson("POST", u"/auth/register"_s,
                      {{u"email"_s, u"fresh@example.com"_s}, {u"password"_s, u"fresh-password"_s}})
            .status,
        201);
    const Tokens session = login(client, u"e2e@example.com"_s, u"e2e-password"_s, Device());
    QCOMPARE(session.status, 200);
    const Tokens renewed = tokensOf(client.sendJson(
        "POST", u"/auth/refresh"_s, {{u"token"_s, QString::fromLatin1(session.refresh)}}));
    QCOMPARE(renewed.status, 200);
    QTRY_VERIFY_WITH_TIMEOUT((output += backend.readAllStandardOutput(),
                              output.contains("Verification token for fresh@example.com: ")),
                             5000);
    for (const QByteArray &secret :
         {session.access, session.refresh, renewed.access, renewed.refresh})
        QVERIFY2(!output.contains(secret), "a session token reached the output");
    backend.kill();
    backend.waitForFinished(5000);
}

QTEST_GUILESS_MAIN(TestDevBackend)
#include "tst_devbackend.moc"
