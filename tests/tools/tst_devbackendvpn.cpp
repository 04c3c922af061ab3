#include "common/tunnelprofile.h"
#include "devbackendtestkit.h"
#include "tools/devbackend/devbackend.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <QUrlQuery>
#include <QUuid>

using namespace Qt::StringLiterals;
using namespace DevBackendTestKit;

Q_DECLARE_METATYPE(DevBackendFault)

namespace {

// The link rules the client enforces, written out independently of the client's parser.
QString linkProblem(const QString &uri)
{
    const QUrl url(uri, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"vless" || !url.password().isEmpty() ||
        !url.path().isEmpty())
        return u"shape"_s;
    if (uri.contains(QRegularExpression(u"[\\x00-\\x20\\x7f]"_s)))
        return u"forbidden character"_s;
    if (!QRegularExpression(u"^[A-Fa-f0-9]{8}-(?:[A-Fa-f0-9]{4}-){3}[A-Fa-f0-9]{12}$"_s)
             .match(url.userName())
             .hasMatch())
        return u"uuid"_s;
    if (url.port() < 1 || url.port() > 65535)
        return u"port"_s;
    const QUrlQuery query(url);
    for (const auto &[key, value] : query.queryItems()) {
        if (query.allQueryItemValues(key).size() != 1)
            return u"duplicate "_s + key;
    }
    const auto item = [&query](const char16_t *key) {
        return query.queryItemValue(QString::fromUtf16(key));
    };
    if (item(u"security") != u"reality" || item(u"type") != u"tcp" ||
        item(u"encryption") != u"none" || item(u"flow") != u"xtls-rprx-vision")
        return u"fixed values"_s;
    static const QStringList fingerprints{u"chrome"_s, u"firefox"_s, u"safari"_s, u"edge"_s,
                                          u"ios"_s,    u"android"_s, u"random"_s, u"randomized"_s,
                                          u"360"_s,    u"qq"_s};
    if (!fingerprints.contains(item(u"fp")))
        return u"fingerprint"_s;
    if (!QRegularExpression(u"^(?=.{1,253}$)[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?$"_s)
             .match(item(u"sni"))
             .hasMatch())
        return u"sni"_s;
    const QByteArray pbk = item(u"pbk").toLatin1();
    const QByteArray key = QByteArray::fromBase64(pbk, QByteArray::Base64UrlEncoding);
    if (pbk.size() != 43 || key.size() != 32 || key == QByteArray(32, '\0') ||
        key.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals) != pbk)
        return u"public key"_s;
    if (!QRegularExpression(u"^(?:[A-Fa-f0-9]{2}){1,8}$"_s).match(item(u"sid")).hasMatch())
        return u"short id"_s;
    return {};
}

} // namespace

class TestDevBackendVpn : public QObject
{
    Q_OBJECT

private slots:
    void profileRequestKeyIsIdempotent();
    void profileCreationRefusals_data();
    void profileCreationRefusals();
    void serversArePaged();
    void everyGeneratedLinkIsValid();
    void faults_data();
    void faults();
    void faultsThroughDevRoute();
};

void TestDevBackendVpn::profileRequestKeyIsIdempotent()
{
    DevBackend backend;
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    const Tokens session = signInDemo(client, backend.options());
    const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString server = backend.serverIds().at(3);

    const auto first = client.sendJson("POST", u"/vpn-profiles"_s, profileBody(key, server));
    const auto again = client.sendJson("POST", u"/vpn-profiles"_s, profileBody(key, server));
    QCOMPARE(first.status, 201);
    QCOMPARE(again.status, 200);
    const QString id = first.data().value(u"id").toString();
    QVERIFY(id.startsWith(u"vp_"));
    QCOMPARE(again.data().value(u"id").toString(), id);
    QCOMPARE(again.data().value(u"connection").toObject().value(u"uri"),
             first.data().value(u"connection").toObject().value(u"uri"));
    QCOMPARE(first.data().value(u"accountDeviceId").toString(), session.deviceId);
    QCOMPARE(first.data().value(u"serverId").toString(), server);
    QCOMPARE(first.data().value(u"active"), QJsonValue(true));
    QCOMPARE(first.data().value(u"syncStatus").toString(), u"synced"_s);
    QCOMPARE(backend.profileCount(session.deviceId), 1);

    // A new key for the same server still yields this device's one profile for it.
    const auto otherKey = client.sendJson("POST", u"/vpn-profiles"_s,
                                          profileBody(QUuid::createUuid().toString(), server));
    QCOMPARE(otherKey.data().value(u"id").toString(), id);
    // Without a server the backend picks one.
    const auto anyServer =
        client.sendJson("POST", u"/vpn-profiles"_s, profileBody(QUuid::createUuid().toString()));
    QCOMPARE(anyServer.status, 201);
    QVERIFY(!anyServer.data().value(u"serverId").toString().isEmpty());
    QCOMPARE(backend.profileCount(session.deviceId), 2);

    QCOMPARE(client.send("GET", u"/vpn-profiles/"_s + id).data().value(u"id").toString(), id);
    QCOMPARE(client.send("GET", u"/vpn-profiles/vp_unknown"_s).status, 404);
    QCOMPARE(items(client.send("GET", u"/vpn-profiles?page=1&limit=20"_s)).size(), 2);
    QCOMPARE(client.send("DELETE", u"/vpn-profiles/"_s + id).status, 200);
    QCOMPARE(client.send("GET", u"/vpn-profiles/"_s + id).status, 404);
    QCOMPARE(client.send("DELETE", u"/vpn-profiles/"_s + id).status, 404);
    // After deletion the old key no longer names a profile: a fresh one is created.
    const auto recreated = client.sendJson("POST", u"/vpn-profiles"_s, profileBody(key, server));
    QCOMPARE(recreated.status, 201);
    QVERIFY(recreated.data().value(u"id").toString() != id);

    // Another account never sees this profile.
    QVERIFY(backend.addAccount(u"other@example.com"_s, u"other-password"_s));
    const Tokens stranger = login(client, u"other@example.com"_s, u"other-password"_s, Device());
    client.setBearer(stranger.access);
    QCOMPARE(
        client.send("GET", u"/vpn-profiles/"_s + recreated.data().value(u"id").toString()).status,
        404);
    QVERIFY(items(client.send("GET", u"/vpn-profiles?page=1&limit=20"_s)).isEmpty());
}

void TestDevBackendVpn::profileCreationRefusals_data()
{
    QTest::addColumn<QJsonObject>("body");
    QTest::addColumn<int>("status");
    const QString key = QUuid::createUuid().toString(QUuid::WithoutBraces);
    QTest::newRow("unknown server") << profileBody(key, u"srv-nowhere"_s) << 400;
    QTest::newRow("disabled server") << profileBody(key, u"srv-maintenance-1"_s) << 400;
    QTest::newRow("other protocol") << profileBody(key, u"srv-wireguard-1"_s) << 400;
    QTest::newRow("paid server on free plan") << profileBody(key, u"srv-de-fra-2"_s) << 403;
    QTest::newRow("free server on free plan") << profileBody(key, u"srv-de-fra-1"_s) << 201;
    QTest::newRow("no request key") << QJsonObject{{u"name"_s, u"PC"_s}} << 400;
    QTest::newRow("request key with space") << profileBody(u"abc def ghi"_s) << 400;
    QTest::newRow("no name") << QJsonObject{{u"requestKey"_s, key}} << 400;
    QTest::newRow("server id not text")
        << QJsonObject{{u"name"_s, u"PC"_s}, {u"requestKey"_s, key}, {u"serverId"_s, true}} << 400;
}

void TestDevBackendVpn::profileCreationRefusals()
{
    QFETCH(QJsonObject, body);
    QFETCH(int, status);
    DevBackendOptions options;
    options.demoTier = u"free"_s;
    DevBackend backend(options);
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    const Tokens session = signInDemo(client, options);
    QCOMPARE(client.send("GET", u"/access/me"_s).data().value(u"tier").toString(), u"free"_s);
    QCOMPARE(client.sendJson("POST", u"/vpn-profiles"_s, body).status, status);
    QCOMPARE(backend.profileCount(session.deviceId), status == 201 ? 1 : 0);
}

void TestDevBackendVpn::serversArePaged()
{
    DevBackend backend;
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    signInDemo(client, backend.options());
    QList<qsizetype> sizes;
    QSet<QString> ids;
    QSet<QString> countries;
    int usable = 0;
    for (int page = 1; page <= 4; ++page) {
        const auto result = client.send("GET", u"/servers?page=%1&limit=20"_s.arg(page));
        QCOMPARE(result.status, 200);
        sizes.append(items(result).size());
        for (const QJsonValue &value : items(result)) {
            const QJsonObject server = value.toObject();
            ids.insert(server.value(u"id").toString());
            countries.insert(server.value(u"countryCode").toString());
            for (const char16_t *key : {u"name", u"endpoint", u"tier", u"country", u"city"})
                QVERIFY2(!server.value(QString::fromUtf16(key)).toString().isEmpty(),
                         qPrintable(QString::fromUtf16(key)));
            if (server.value(u"enabled").toBool() &&
                server.value(u"protocol").toString() == u"vless-reality")
                ++usable;
        }
    }
    QCOMPARE(sizes, (QList<qsizetype>{20, 20, 7, 0}));
    QCOMPARE(ids.size(), 47);
    QCOMPARE(usable, 45);
    QVERIFY(countries.size() >= 15);
    QCOMPARE(client.send("GET", u"/servers?page=0&limit=20"_s).status, 400);
    QCOMPARE(client.send("GET", u"/servers?page=1&limit=500"_s).status, 400);
    QCOMPARE(client.send("GET", u"/servers?page=x"_s).status, 400);
    QCOMPARE(items(client.send("GET", u"/plans?limit=100"_s)).size(), 5);
}

void TestDevBackendVpn::everyGeneratedLinkIsValid()
{
    DevBackend backend;
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    signInDemo(client, backend.options());
    QHash<QString, QString> endpoints;
    for (int page = 1; page <= 3; ++page) {
        for (const QJsonValue &value :
             items(client.send("GET", u"/servers?page=%1&limit=20"_s.arg(page)))) {
            const QJsonObject server = value.toObject();
            if (server.value(u"enabled").toBool() &&
                server.value(u"protocol").toString() == u"vless-reality")
                endpoints.insert(server.value(u"id").toString(),
                                 server.value(u"endpoint").toString());
        }
    }
    QCOMPARE(endpoints.size(), 45);
    QSet<QString> keys;
    for (auto it = endpoints.cbegin(); it != endpoints.cend(); ++it) {
        const auto created = client.sendJson("POST", u"/vpn-profiles"_s,
                                             profileBody(QUuid::createUuid().toString(), it.key()));
        QCOMPARE(created.status, 201);
        const QJsonObject connection = created.data().value(u"connection").toObject();
        const QString uri = connection.value(u"uri").toString();
        QVERIFY2(linkProblem(uri).isEmpty(), qPrintable(linkProblem(uri)));
        const std::optional<TunnelProfile> parsed = parseTunnelProfile(connection);
        QVERIFY(parsed.has_value());
        // The client finds a profile's server by this endpoint.
        QCOMPARE(parsed->endpoint, it.value());
        keys.insert(parsed->publicKey);
    }
    QCOMPARE(keys.size(), 45);
}

void TestDevBackendVpn::faults_data()
{
    QTest::addColumn<DevBackendFault>("fault");
    QTest::addColumn<int>("firstStatus");
    QTest::addColumn<int>("profilesAfterFirst");
    QTest::addColumn<int>("secondStatus");
    // A drop reaches the client as status 0 only when it drops Qt's silent re-send too.
    QTest::newRow("drop before handling") << DevBackendFault::drop(2) << 0 << 0 << 201;
    QTest::newRow("drop after creation") << DevBackendFault::drop(2, true) << 0 << 1 << 200;
    QTest::newRow("single drop is retried by Qt") << DevBackendFault::drop(1) << 201 << 1 << 200;
    QTest::newRow("status 503") << DevBackendFault::withStatus(503, R"({"error":"busy"})", 1) << 503
                                << 0 << 201;
    QTest::newRow("status after creation")
        << DevBackendFault::withStatus(500, {}, 1, true) << 500 << 1 << 200;
    QTest::newRow("html page") << DevBackendFault::nonJson(1) << 200 << 0 << 201;
    QTest::newRow("always") << DevBackendFault::withStatus(429, {}, -1) << 429 << 0 << 429;
    QTest::newRow("delay") << DevBackendFault::delay(300, 1) << 201 << 1 << 200;
}

void TestDevBackendVpn::faults()
{
    QFETCH(DevBackendFault, fault);
    QFETCH(int, firstStatus);
    QFETCH(int, profilesAfterFirst);
    QFETCH(int, secondStatus);
    DevBackend backend;
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    const Tokens session = signInDemo(client, backend.options());
    client.send("GET", u"/me"_s); // keep-alive connection in place, as in the client

    backend.setFault(u"POST /vpn-profiles"_s, fault);
    const QJsonObject body = profileBody(QUuid::createUuid().toString());
    QElapsedTimer clock;
    clock.start();
    const auto first = client.sendJson("POST", u"/vpn-profiles"_s, body);
    QCOMPARE(first.status, firstStatus);
    if (fault.kind == DevBackendFault::Kind::Delay)
        QVERIFY(clock.elapsed() >= fault.delayMs);
    if (fault.kind == DevBackendFault::Kind::NonJson)
        QVERIFY(first.body.startsWith("<!DOCTYPE html>"));
    QCOMPARE(backend.profileCount(session.deviceId), profilesAfterFirst);
    // The same request key again, as the client's retry: never a second profile.
    QCOMPARE(client.sendJson("POST", u"/vpn-profiles"_s, body).status, secondStatus);
    QCOMPARE(backend.profileCount(session.deviceId), secondStatus == 429 ? 0 : 1);
    QCOMPARE(client.send("GET", u"/me"_s).status, 200);
}

void TestDevBackendVpn::faultsThroughDevRoute()
{
    DevBackend backend;
    QVERIFY(backend.listen());
    SyncHttpClient client(backend.baseUrl());
    signInDemo(client, backend.options());
    QCOMPARE(
        client
            .sendJson(
                "POST", u"/__dev/faults"_s,
                {{u"route"_s, u"GET /servers"_s}, {u"kind"_s, u"arrayBody"_s}, {u"count"_s, 1}})
            .status,
        200);
    const auto array = client.send("GET", u"/servers?page=1&limit=20"_s);
    QCOMPARE(array.status, 200);
    QVERIFY(QJsonDocument::fromJson(array.body).isArray());
    QCOMPARE(QJsonDocument::fromJson(array.body).array().size(), 20);
    QVERIFY(
        QJsonDocument::fromJson(client.send("GET", u"/servers?page=1&limit=20"_s).body).isObject());

    QCOMPARE(client
                 .sendJson("POST", u"/__dev/faults"_s,
                           {{u"route"_s, u"GET /vpn-profiles/*"_s},
                            {u"kind"_s, u"status"_s},
                            {u"status"_s, 502},
                            {u"count"_s, -1}})
                 .status,
             200);
    QCOMPARE(client.send("GET", u"/vpn-profiles/vp_a"_s).status, 502);
    QCOMPARE(client.send("GET", u"/vpn-profiles/vp_b"_s).status, 502);
    QCOMPARE(client.send("GET", u"/vpn-profiles?page=1&limit=20"_s).status, 200);
    QCOMPARE(backend.requestCount(u"GET /vpn-profiles/*"_s), 2);
    QCOMPARE(client.send("DELETE", u"/__dev/faults"_s).status, 200);
    QCOMPARE(client.send("GET", u"/vpn-profiles/vp_a"_s).status, 404);

    for (const QJsonObject &bad :
         {QJsonObject{{u"route"_s, u"GET /me"_s}, {u"kind"_s, u"explode"_s}},
          QJsonObject{{u"route"_s, u"/me"_s}, {u"kind"_s, u"drop"_s}},
          QJsonObject{{u"route"_s, u"GET /me"_s}, {u"kind"_s, u"delay"_s}},
          QJsonObject{{u"route"_s, u"GET /me"_s}, {u"kind"_s, u"status"_s}, {u"status"_s, 42}},
          QJsonObject{{u"route"_s, u"GET /me"_s}, {u"kind"_s, u"drop"_s}, {u"count"_s, 0}}})
        QCOMPARE(client.sendJson("POST", u"/__dev/faults"_s, bad).status, 400);
    QCOMPARE(client.send("GET", u"/me"_s).status, 200);

    QVERIFY(backend.addAccount(u"mail@example.com"_s, u"password-1"_s, false));
    QCOMPARE(
        client
            .sendJson("POST", u"/auth/resend-verification"_s, {{u"email"_s, u"mail@example.com"_s}})
            .status,
        200);
    const auto mail = client.send("GET", u"/__dev/mail?email=mail%40example.com"_s);
    QVERIFY(mail.json().value(u"verificationToken").toString() ==
            backend.verificationToken(u"mail@example.com"_s));
    QCOMPARE(client.send("POST", u"/__dev/expire-access-tokens"_s).status, 200);
    QCOMPARE(client.send("GET", u"/me"_s).status, 401);
}

QTEST_GUILESS_MAIN(TestDevBackendVpn)
#include "tst_devbackendvpn.moc"
