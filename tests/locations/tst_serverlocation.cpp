#include "locations/quickconnect.h"
#include "locations/servercatalogue.h"
#include "locations/serverlocation.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(QuickConnectChoice::Action)
Q_DECLARE_METATYPE(api::ServerRecord)

namespace {

api::ServerRecord json(const char *text, std::optional<api::GeoLocation> geo = std::nullopt)
{
    api::ServerRecord record = api::serverRecord(QJsonDocument::fromJson(text).object());
    record.geoLocation = std::move(geo);
    return record;
}

} // namespace

class TestServerLocation : public QObject
{
    Q_OBJECT

private slots:
    void hostsOfEndpoints_data();
    void hostsOfEndpoints();
    void locations_data();
    void locations();
};

void TestServerLocation::hostsOfEndpoints_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("host");

    QTest::newRow("ipv6 in brackets") << u"[2001:db8::5]:443"_s << u"2001:db8::5"_s;
    QTest::newRow("ipv6 without port") << u"2001:db8::5"_s << u"2001:db8::5"_s;
    QTest::newRow("udp scheme, any case") << u"UDP://203.0.113.7:51820"_s << u"203.0.113.7"_s;
    QTest::newRow("port 0 stays whole") << u"203.0.113.7:0"_s << u"203.0.113.7:0"_s;
    QTest::newRow("name and port") << u" vpn.example.test:8443 "_s << u"vpn.example.test"_s;
    QTest::newRow("not a number after the colon") << u"host:https"_s << u"host:https"_s;
    QTest::newRow("bracket never closed") << u"[2001:db8::5:443"_s << QString();
    QTest::newRow("empty brackets") << u"[]:443"_s << QString();
}

void TestServerLocation::hostsOfEndpoints()
{
    QFETCH(QString, endpoint);
    QFETCH(QString, host);
    QCOMPARE(hostOfEndpoint(endpoint), host);
}

void TestServerLocation::locations_data()
{
    QTest::addColumn<api::ServerRecord>("record");
    QTest::addColumn<QString>("country");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("city");
    QTest::addColumn<bool>("known");
    QTest::addColumn<bool>("hasCoordinates");
    QTest::addColumn<double>("longitude");

    QTest::newRow("city and its country: the city")
        << json(R"({"name":"Frankfurt DE"})") << u"Germany"_s << u"DE"_s << u"Frankfurt"_s << true
        << true << 8.68;
    QTest::newRow("de does not match inside Sweden")
        << json(R"({"name":"Sweden-1"})") << u"Sweden"_s << u"SE"_s << QString() << true << true
        << 15.0;
    QTest::newRow("unknown name") << json(R"({"name":"Mars-1"})") << u"Other locations"_s
                                  << QString() << QString() << false << false << 0.0;
    QTest::newRow("cyrillic city") << json(R"({"name":"Сервер Амстердам"})") << u"Netherlands"_s
                                   << u"NL"_s << u"Amsterdam"_s << true << true << 4.9;
    QTest::newRow("code in lower case, no country")
        << json(R"({"name":"x","countryCode":"de"})") << u"Germany"_s << u"DE"_s << QString()
        << true << true << 10.45;
    QTest::newRow("record fields win over the name")
        << json(R"({"name":"Tokyo 1","countryCode":"FR","country":"France","city":"Lyon"})")
        << u"France"_s << u"FR"_s << u"Lyon"_s << true << true << 2.21;
    // A name only: grouped and titled, but nowhere on the map.
    QTest::newRow("code outside the table, with a name")
        << json(R"({"name":"x","countryCode":"is","country":"Iceland"})") << u"Iceland"_s << u"IS"_s
        << QString() << true << false << 0.0;
    QTest::newRow("geolocation without coordinates")
        << json(R"({"name":"Tokyo"})", api::GeoLocation{u"IS"_s, u"Iceland"_s, {}, {}, {}})
        << u"Iceland"_s << u"IS"_s << QString() << true << false << 0.0;
    QTest::newRow("geolocation with coordinates")
        << json("{}", api::GeoLocation{u"IS"_s, u"Iceland"_s, u"Reykjavik"_s, 64.1, -21.9})
        << u"Iceland"_s << u"IS"_s << u"Reykjavik"_s << true << true << -21.9;
    QTest::newRow("coordinates out of range are missing")
        << json("{}", api::GeoLocation{u"DE"_s, u"Germany"_s, {}, 95.0, 8.0}) << u"Germany"_s
        << u"DE"_s << QString() << true << true << 10.45;
}

void TestServerLocation::locations()
{
    QFETCH(api::ServerRecord, record);
    QFETCH(QString, country);
    QFETCH(QString, code);
    QFETCH(QString, city);
    QFETCH(bool, known);
    QFETCH(bool, hasCoordinates);
    QFETCH(double, longitude);

    const ServerLocation location = serverLocation(record);
    QCOMPARE(location.country, country);
    QCOMPARE(location.countryCode, code);
    QCOMPARE(location.city, city);
    QCOMPARE(location.known, known);
    QCOMPARE(location.hasCoordinates, hasCoordinates);
    QCOMPARE(location.longitude, longitude);
}

QTEST_GUILESS_MAIN(TestServerLocation)
#include "tst_serverlocation.moc"
