#include "api/apiaddress.h"
#include "api/backendcatalogue.h"
#include "api/backendrecords.h"
#include "api/replyrules.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSettings>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QJsonObject object(const char *json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

Q_DECLARE_METATYPE(api::PlanRecord)

class ReplyRulesTest : public QObject
{
    Q_OBJECT

private slots:
    void jsonText_data();
    void jsonText();
    void unwrapData_data();
    void unwrapData();
    void pageItems_data();
    void pageItems();
    void boundedTexts_data();
    void boundedTexts();
    void serverRecords_data();
    void serverRecords();
    void accessRecords_data();
    void accessRecords();
    void allowedApiUrl_data();
    void allowedApiUrl();
    void cataloguePaths_data();
    void cataloguePaths();
    void apiConfiguration_data();
    void apiConfiguration();

private:
    TestHome m_home;
};

void ReplyRulesTest::jsonText_data()
{
    QTest::addColumn<QJsonValue>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("string") << QJsonValue(u"abc"_s) << u"abc"_s;
    QTest::newRow("empty string") << QJsonValue(u""_s) << QString();
    QTest::newRow("whole number") << QJsonValue(42) << u"42"_s;
    QTest::newRow("negative") << QJsonValue(-7) << u"-7"_s;
    QTest::newRow("fraction") << QJsonValue(4.5) << u"0"_s;
    QTest::newRow("whole double") << QJsonValue(12.0) << u"12"_s;
    QTest::newRow("above 2^53 kept exact")
        << QJsonDocument::fromJson("[9007199254740993]").array().at(0) << u"9007199254740993"_s;
    QTest::newRow("beyond 64 bits") << QJsonValue(1e30) << u"0"_s;
    QTest::newRow("true") << QJsonValue(true) << QString();
    QTest::newRow("null") << QJsonValue(QJsonValue::Null) << QString();
    QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << QString();
    QTest::newRow("array") << QJsonValue(QJsonArray{1}) << QString();
    QTest::newRow("object") << QJsonValue(QJsonObject{{u"id"_s, 1}}) << QString();
}

void ReplyRulesTest::jsonText()
{
    QFETCH(QJsonValue, value);
    QFETCH(QString, expected);
    QCOMPARE(api::jsonText(value), expected);
}

void ReplyRulesTest::unwrapData_data()
{
    QTest::addColumn<QJsonObject>("input");
    QTest::addColumn<QJsonObject>("expected");
    QTest::newRow("data object with numeric _id")
        << object(R"({"data":{"_id":7},"other":1})") << object(R"({"_id":7,"id":7})");
    QTest::newRow("empty id replaced by _id")
        << object(R"({"id":"","_id":"abc"})") << object(R"({"id":"abc","_id":"abc"})");
    QTest::newRow("non-empty id kept")
        << object(R"({"id":"keep","_id":"other"})") << object(R"({"id":"keep","_id":"other"})");
    QTest::newRow("numeric id kept")
        << object(R"({"id":0,"_id":"x"})") << object(R"({"id":0,"_id":"x"})");
    QTest::newRow("data array leaves object alone")
        << object(R"({"data":[1],"a":2})") << object(R"({"data":[1],"a":2})");
    QTest::newRow("bool _id ignored") << object(R"({"_id":true})") << object(R"({"_id":true})");
    QTest::newRow("flat without ids") << object(R"({"a":1})") << object(R"({"a":1})");
}

void ReplyRulesTest::unwrapData()
{
    QFETCH(QJsonObject, input);
    QFETCH(QJsonObject, expected);
    QCOMPARE(api::unwrapData(input), expected);
}

void ReplyRulesTest::pageItems_data()
{
    QTest::addColumn<QJsonObject>("input");
    QTest::addColumn<QJsonArray>("expected");
    QTest::newRow("data array with objects unwrapped")
        << object(R"({"data":[{"_id":1},"text",{"data":{"id":"x"}}]})")
        << QJsonDocument::fromJson(R"([{"_id":1,"id":1},"text",{"id":"x"}])").array();
    QTest::newRow("items at top level") << object(R"({"items":[{"id":"a"}],"total":1})")
                                        << QJsonDocument::fromJson(R"([{"id":"a"}])").array();
    QTest::newRow("items inside data object")
        << object(R"({"data":{"items":[{"_id":"p"}]}})")
        << QJsonDocument::fromJson(R"([{"_id":"p","id":"p"}])").array();
    QTest::newRow("no records") << object(R"({"data":{"total":0}})") << QJsonArray();
    QTest::newRow("items not an array") << object(R"({"items":{"id":1}})") << QJsonArray();
    QJsonArray page;
    for (int index = 0; index < backend::pageSize; ++index)
        page.append(index);
    QTest::newRow("more than a page") << QJsonObject{{u"data"_s, QJsonArray(page) + 20}} << page;
}

void ReplyRulesTest::pageItems()
{
    QFETCH(QJsonObject, input);
    QFETCH(QJsonArray, expected);
    QCOMPARE(api::pageItems(input), expected);
}

void ReplyRulesTest::boundedTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");

    const QString full(api::maximumTextLength, u'a');
    const QString kept(api::maximumTextLength - 1, u'a');
    const QString pair = u"\U0001F600"_s; // two code units
    QTest::newRow("short") << u"Germany"_s << u"Germany"_s;
    QTest::newRow("exactly at the limit") << full << full;
    QTest::newRow("over the limit") << full + u"b"_s << kept + u"\u2026"_s;
    QTest::newRow("surrogate pair at the cut goes whole")
        << kept.chopped(1) + pair + u"b"_s << kept.chopped(1) + u"\u2026"_s;
}

void ReplyRulesTest::boundedTexts()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    QCOMPARE(api::boundedText(text), shown);
}

void ReplyRulesTest::serverRecords_data()
{
    QTest::addColumn<QJsonObject>("reply");
    // id, name, endpoint, tier, countryCode, country, city
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<bool>("usable");

    const QString longText(api::maximumTextLength + 40, u'x');
    const QString shortened = QString(api::maximumTextLength - 1, u'x') + u"\u2026"_s;
    QTest::newRow("all fields") << object(R"({"data":[{"id":"a","name":"NL 1","endpoint":"h:443",)"
                                          R"("tier":"free","countryCode":"NL",)"
                                          R"("country":"Netherlands","city":"Amsterdam"}]})")
                                << QStringList{u"a"_s,  u"NL 1"_s,        u"h:443"_s,    u"free"_s,
                                               u"NL"_s, u"Netherlands"_s, u"Amsterdam"_s}
                                << true;
    QTest::newRow("number id, missing fields")
        << object(R"({"items":[{"id":42}]})") << QStringList{u"42"_s, {}, {}, {}, {}, {}, {}}
        << true;
    QTest::newRow("_id in a data wrapper")
        << object(R"({"data":[{"data":{"_id":"w","name":"n"}}]})")
        << QStringList{u"w"_s, u"n"_s, {}, {}, {}, {}, {}} << true;
    QTest::newRow("texts of other types read as empty")
        << object(R"({"data":[{"id":"a","name":5,"endpoint":null,"tier":true,"city":[]}]})")
        << QStringList{u"a"_s, {}, {}, {}, {}, {}, {}} << true;
    QTest::newRow("shown texts bounded, the endpoint whole")
        << QJsonObject{{u"data"_s, QJsonArray{QJsonObject{{u"id"_s, u"a"_s},
                                                          {u"name"_s, longText},
                                                          {u"endpoint"_s, longText},
                                                          {u"country"_s, longText},
                                                          {u"city"_s, longText}}}}}
        << QStringList{u"a"_s, shortened, longText, {}, {}, shortened, shortened} << true;
    QTest::newRow("empty id") << object(R"({"data":[{"id":""}]})")
                              << QStringList{{}, {}, {}, {}, {}, {}, {}} << false;
    QTest::newRow("enabled false") << object(R"({"data":[{"id":"a","enabled":false}]})")
                                   << QStringList{u"a"_s, {}, {}, {}, {}, {}, {}} << false;
    QTest::newRow("enabled as the text false")
        << object(R"({"data":[{"id":"a","enabled":"false"}]})")
        << QStringList{u"a"_s, {}, {}, {}, {}, {}, {}} << true;
    QTest::newRow("protocol in capitals")
        << object(R"({"data":[{"id":"a","protocol":"VLESS-REALITY"}]})")
        << QStringList{u"a"_s, {}, {}, {}, {}, {}, {}} << false;
    QTest::newRow("protocol null") << object(R"({"data":[{"id":"a","protocol":null}]})")
                                   << QStringList{u"a"_s, {}, {}, {}, {}, {}, {}} << false;
    QTest::newRow("protocol exact") << object(R"({"data":[{"id":"a","protocol":"vless-reality"}]})")
                                    << QStringList{u"a"_s, {}, {}, {}, {}, {}, {}} << true;
}

void ReplyRulesTest::serverRecords()
{
    QFETCH(QJsonObject, reply);
    QFETCH(QStringList, fields);
    QFETCH(bool, usable);

    const QJsonArray items = api::pageItems(reply);
    const api::ServerRecord record = api::serverRecord(items.at(0).toObject());
    QCOMPARE((QStringList{record.id, record.name, record.endpoint, record.tier, record.countryCode,
                          record.country, record.city}),
             fields);
    QCOMPARE(record.usable, usable);
    QVERIFY(!record.resolvedIp && !record.geoLocation);
    QList<api::ServerRecord> kept;
    api::appendUsableServers(kept, items, 1);
    QCOMPARE(kept.size(), usable ? 1 : 0);
}

void ReplyRulesTest::accessRecords_data()
{
    QTest::addColumn<QJsonObject>("reply");
    QTest::addColumn<QString>("tier");
    QTest::addColumn<api::PlanRecord>("plan");

    QTest::newRow("all fields in a data wrapper")
        << object(R"({"data":{"tier":"paid","plan":{"_id":"p30","enabled":true,"tier":"paid",)"
                  R"("days":30,"price":499,"currency":"USD"}}})")
        << u"paid"_s << api::PlanRecord{u"p30"_s, true, u"paid"_s, 30, 499, u"USD"_s};
    QTest::newRow("number id, zero price")
        << object(R"({"plan":{"_id":42,"price":0}})") << QString()
        << api::PlanRecord{u"42"_s, false, {}, {}, 0, {}};
    QTest::newRow("id without _id, text where numbers and true belong")
        << object(R"({"plan":{"id":"p","enabled":"true","days":"30","price":"4.99"}})") << QString()
        << api::PlanRecord{};
    QTest::newRow("negative price") << object(R"({"tier":"free","plan":{"_id":"a","price":-1}})")
                                    << u"free"_s << api::PlanRecord{u"a"_s, false, {}, {}, {}, {}};
}

void ReplyRulesTest::accessRecords()
{
    QFETCH(QJsonObject, reply);
    QFETCH(QString, tier);
    QFETCH(api::PlanRecord, plan);

    const api::AccessRecord record = api::accessRecord(reply);
    QCOMPARE(record.tier, tier);
    QVERIFY(record.plan == plan);
    // The same object in the plans list reads alike.
    const QJsonObject wire = api::unwrapData(reply);
    const QJsonArray offers{wire.value(u"plan"_s)};
    QVERIFY(api::planRecords(api::pageItems(QJsonObject{{u"data"_s, offers}})) == QList{plan});
    // Tier and plan change exactly when they differ as sent, in fields never read too.
    const QJsonValue sentTier = wire.value(u"tier"_s);
    const QJsonObject same{{u"tier"_s, sentTier}, {u"plan"_s, offers.first()}};
    const QJsonObject renamed{{u"tier"_s, sentTier}, {u"plan"_s, QJsonObject{{u"name"_s, 1}}}};
    QVERIFY(api::accessRecord(same).tierAndPlan == record.tierAndPlan);
    QVERIFY(api::accessRecord(renamed).tierAndPlan != record.tierAndPlan);
}

void ReplyRulesTest::allowedApiUrl_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<bool>("production");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("https any host") << u"https://api.example.net"_s << false << true;
    QTest::newRow("https slash path") << u"https://api.example.net/"_s << true << true;
    QTest::newRow("https with port") << u"https://10.0.0.5:8443"_s << true << true;
    QTest::newRow("loopback http") << u"http://127.0.0.1:3000"_s << false << true;
    QTest::newRow("loopback http in production") << u"http://127.0.0.1:3000"_s << true << false;
    QTest::newRow("localhost any port") << u"http://localhost:61234/"_s << false << true;
    QTest::newRow("ipv6 loopback") << u"http://[::1]:3000"_s << false << true;
    QTest::newRow("production host over http")
        << QUrl(api::productionBaseUrl()).host().prepend(u"http://"_s) << false << true;
    QTest::newRow("production base url") << api::productionBaseUrl() << true << true;
    QTest::newRow("private network http") << u"http://192.168.1.10:3000"_s << false << false;
    QTest::newRow("other host http") << u"http://example.com"_s << false << false;
    QTest::newRow("loopback lookalike") << u"http://127.0.0.2"_s << false << false;
    QTest::newRow("path") << u"https://api.example.net/v1"_s << false << false;
    QTest::newRow("double slash path") << u"https://api.example.net//"_s << false << false;
    QTest::newRow("query") << u"https://api.example.net/?a=1"_s << false << false;
    QTest::newRow("empty query") << u"https://api.example.net/?"_s << false << false;
    QTest::newRow("fragment") << u"https://api.example.net/#x"_s << false << false;
    QTest::newRow("user info") << u"https://user:pw@api.example.net"_s << false << false;
    QTest::newRow("user name only") << u"http://user@127.0.0.1:3000"_s << false << false;
    QTest::newRow("ftp scheme") << u"ftp://127.0.0.1"_s << false << false;
    QTest::newRow("upper-case scheme") << u"HTTPS://api.example.net"_s << false << true;
    QTest::newRow("no host") << u"https:///"_s << false << false;
    QTest::newRow("relative") << u"/auth/login"_s << false << false;
    QTest::newRow("empty") << QString() << false << false;
}

void ReplyRulesTest::allowedApiUrl()
{
    QFETCH(QString, url);
    QFETCH(bool, production);
    QFETCH(bool, allowed);
    QCOMPARE(api::isAllowedApiUrl(QUrl(url), production), allowed);
}

void ReplyRulesTest::cataloguePaths_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("servers") << backend::serversPage(3) << u"/servers?page=3&limit=20"_s;
    QTest::newRow("devices") << backend::devicesPage(1) << u"/devices?page=1&limit=20"_s;
    QTest::newRow("profiles") << backend::vpnProfilesPage(2) << u"/vpn-profiles?page=2&limit=20"_s;
    QTest::newRow("device id") << backend::device(u"d_12"_s) << u"/devices/d_12"_s;
    QTest::newRow("profile id") << backend::vpnProfile(u"vp-1"_s) << u"/vpn-profiles/vp-1"_s;
    // An identifier is one path segment: it cannot climb, query or reach another host.
    QTest::newRow("hostile id") << backend::vpnProfile(u"../me?x=1#f"_s)
                                << u"/vpn-profiles/..%2Fme%3Fx%3D1%23f"_s;
    QTest::newRow("absolute id") << backend::device(u"//evil.example/x"_s)
                                 << u"/devices/%2F%2Fevil.example%2Fx"_s;
}

void ReplyRulesTest::cataloguePaths()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(path, expected);
}

void ReplyRulesTest::apiConfiguration_data()
{
    QTest::addColumn<QVariant>("storedUrl");
    QTest::addColumn<bool>("storedProduction");
    QTest::addColumn<QString>("expectedUrl");
    QTest::addColumn<bool>("expectedProduction");
    const QString released = api::productionBaseUrl();
    QTest::newRow("first start") << QVariant() << false << released << false;
    QTest::newRow("empty") << QVariant(QString()) << true << released << false;
    QTest::newRow("development address")
        << QVariant(u"http://127.0.0.1:3000"_s) << true << released << false;
    QTest::newRow("chosen loopback kept")
        << QVariant(u"http://localhost:4000"_s) << false << u"http://localhost:4000"_s << false;
    QTest::newRow("chosen https with production")
        << QVariant(u"https://api.example.net"_s) << true << u"https://api.example.net"_s << true;
}

void ReplyRulesTest::apiConfiguration()
{
    QFETCH(QVariant, storedUrl);
    QFETCH(bool, storedProduction);
    QFETCH(QString, expectedUrl);
    QFETCH(bool, expectedProduction);
    QVERIFY(m_home.isValid());
    {
        QSettings store;
        store.clear();
        if (storedUrl.isValid())
            store.setValue(u"apiUrl"_s, storedUrl);
        store.setValue(u"production"_s, storedProduction);
    }

    const api::ApiConfiguration configuration = api::loadApiConfiguration();

    QCOMPARE(configuration.baseUrl, expectedUrl);
    QCOMPARE(configuration.production, expectedProduction);
    QCOMPARE(settings::apiUrl(), expectedUrl);
    QCOMPARE(settings::production(), expectedProduction);
}

QTEST_GUILESS_MAIN(ReplyRulesTest)
#include "tst_replyrules.moc"
