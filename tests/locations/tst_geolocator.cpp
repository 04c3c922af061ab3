#include "api/apiclient.h"
#include "locations/geolocator.h"
#include "locations/servercatalogue.h"
#include "settings/settingskeys.h"
#include "support/streamingserver.h"
#include "support/testhome.h"
#include "tools/devbackend/httpserver.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

using Done = std::function<void(const QList<QHostAddress> &)>;

// Notes every request the moment the geolocator makes it.
class RecordingNetwork : public QNetworkAccessManager
{
public:
    QList<QNetworkRequest> requests;
    QList<QPointer<QNetworkReply>> replies;

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request,
                                 QIODevice *data) override
    {
        requests.append(request);
        replies.append(QNetworkAccessManager::createRequest(operation, request, data));
        return replies.last();
    }
};

QJsonObject answer(const QString &code, const QString &city)
{
    return {{u"success"_s, true}, {u"country_code"_s, code}, {u"country"_s, u"Germany"_s},
            {u"city"_s, city},    {u"latitude"_s, 52.52},    {u"longitude"_s, 13.4}};
}

QJsonObject server(const QString &id, const QString &endpoint)
{
    return {{u"id"_s, id}, {u"name"_s, u"Server "_s + id}, {u"endpoint"_s, endpoint}};
}

api::GeoLocation geoOf(const ServerCatalogue &catalogue, const QString &id)
{
    return catalogue.record(id)->geoLocation.value_or(api::GeoLocation());
}

void writeCache(const QString &address, const QDateTime &checkedAt, const QString &city)
{
    settings::CachedLocation entry;
    entry.checkedAt = checkedAt.toMSecsSinceEpoch();
    entry.countryCode = u"DE"_s;
    entry.country = u"Germany"_s;
    entry.city = city;
    entry.latitude = 50.11;
    entry.longitude = 8.68;
    if (address.isEmpty()) {
        settings::setMyGeoLocation(entry);
    } else {
        settings::setGeoIpCache(address, entry);
    }
}

} // namespace

class TestGeolocator : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void publicAddress_data();
    void publicAddress();
    void nothingLookedUp_data();
    void nothingLookedUp();
    void sharedAddressAndRequestForm();
    void fourRequestsAtOnce();
    void hostNames();
    void cacheAge_data();
    void cacheAge();
    void rejectedReplies_data();
    void rejectedReplies();
    void endlessReplyCut();
    void untrustedValues_data();
    void untrustedValues();
    void lateReplyAfterSignOut();
    void ownLocation_data();
    void ownLocation();

private:
    bool load(const QJsonArray &servers);
    QString serviceUrl() const { return u"http://127.0.0.1:%1/"_s.arg(m_service.port()); }

    TestHome m_home;
    HttpServer m_backend;
    HttpServer m_service;
    QJsonArray m_servers;
    // How the stand-in answers; by default with a location in Berlin.
    HttpHandler m_answer;
    std::vector<HttpResponderPtr> m_held;
    QStringList m_resolved;
    QList<Done> m_pendingLookups;
    std::unique_ptr<ApiClient> m_api;
    std::unique_ptr<ServerCatalogue> m_catalogue;
    std::unique_ptr<RecordingNetwork> m_network;
    std::unique_ptr<Geolocator> m_geolocator;
};

void TestGeolocator::initTestCase()
{
    QVERIFY(m_home.isValid());
    m_backend.setHandler([this](const HttpRequest &, const HttpResponderPtr &reply) {
        reply->sendJson(200, QJsonObject{{u"data"_s, m_servers}});
    });
    m_service.setHandler([this](const HttpRequest &request, const HttpResponderPtr &reply) {
        m_answer(request, reply);
    });
    QVERIFY(m_backend.listen());
    QVERIFY(m_service.listen());
}

void TestGeolocator::init()
{
    settings::clearAll();
    m_service.clearLog();
    m_answer = [](const HttpRequest &, const HttpResponderPtr &reply) {
        reply->sendJson(200, answer(u"DE"_s, u"Berlin"_s));
    };
    m_resolved.clear();
    m_pendingLookups.clear();
    m_api = std::make_unique<ApiClient>();
    m_api->setBaseUrl(QUrl(u"http://127.0.0.1:%1"_s.arg(m_backend.port())));
    m_api->setTokens(u"access"_s, u"refresh"_s);
    m_catalogue = std::make_unique<ServerCatalogue>(*m_api);
    m_network = std::make_unique<RecordingNetwork>();
    m_geolocator = std::make_unique<Geolocator>(*m_catalogue, *m_network);
    m_geolocator->setServiceUrl(QUrl(serviceUrl()));
    m_geolocator->setHostResolver([this](const QString &host, QObject *, Done done) {
        m_resolved.append(host);
        m_pendingLookups.append(std::move(done));
    });
}

void TestGeolocator::cleanup()
{
    m_held.clear();
    m_geolocator.reset();
    m_network.reset();
    m_catalogue.reset();
    m_api.reset();
}

bool TestGeolocator::load(const QJsonArray &servers)
{
    m_servers = servers;
    QSignalSpy loaded(m_catalogue.get(), &ServerCatalogue::loaded);
    return m_catalogue->load() && loaded.wait(5000);
}

void TestGeolocator::publicAddress_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("isPublic");

    QTest::newRow("public v4") << u"8.8.8.8"_s << true;
    QTest::newRow("test net 1 is not excluded") << u"192.0.2.10"_s << true;
    QTest::newRow("just past 172.16/12") << u"172.32.0.1"_s << true;
    QTest::newRow("just past 100.64/10") << u"100.128.0.1"_s << true;
    QTest::newRow("public v6") << u"2606:4700::1111"_s << true;
    for (const QString &address : {u"0.1.2.3"_s,      u"10.1.2.3"_s,        u"100.127.255.254"_s,
                                   u"127.0.0.1"_s,    u"169.254.1.1"_s,     u"172.31.255.255"_s,
                                   u"192.0.0.8"_s,    u"192.168.1.1"_s,     u"198.19.0.1"_s,
                                   u"198.51.100.1"_s, u"203.0.113.7"_s,     u"224.0.0.1"_s,
                                   u"240.0.0.1"_s,    u"255.255.255.255"_s, u"::"_s,
                                   u"::1"_s,          u"fe80::1"_s,         u"fd12::1"_s,
                                   u"ff02::1"_s,      u"2001:db8::1"_s,     u"vpn.example.net"_s,
                                   QString()}) {
        QTest::addRow("%s", qPrintable(address.isEmpty() ? u"empty"_s : address))
            << address << false;
    }
}

void TestGeolocator::publicAddress()
{
    QFETCH(QString, address);
    QTEST(isPublicAddress(address), "isPublic");
}

void TestGeolocator::nothingLookedUp_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<bool>("enabled");

    QTest::newRow("private") << u"10.1.2.3:443"_s << true;
    QTest::newRow("documentation") << u"203.0.113.7:443"_s << true;
    QTest::newRow("documentation v6") << u"[2001:db8::1]:443"_s << true;
    QTest::newRow("underscore in name") << u"vpn_1.example.net:443"_s << true;
    QTest::newRow("disabled, address") << u"192.0.2.10:443"_s << false;
    QTest::newRow("disabled, name") << u"vpn.example.net:443"_s << false;
}

void TestGeolocator::nothingLookedUp()
{
    QFETCH(QString, endpoint);
    QFETCH(bool, enabled);
    QVERIFY(load({server(u"1"_s, endpoint)}));

    m_geolocator->setEnabled(enabled);
    m_geolocator->startAddressLookups();
    QVERIFY(m_resolved.isEmpty());
    QVERIFY(m_network->requests.isEmpty());
    QVERIFY(!m_catalogue->record(u"1"_s)->resolvedIp);
}

void TestGeolocator::sharedAddressAndRequestForm()
{
    QVERIFY(load({server(u"1"_s, u"192.0.2.10:443"_s), server(u"2"_s, u"192.0.2.10:8443"_s),
                  server(u"3"_s, u"[2606:4700:0::1111]:443"_s)}));
    QSignalSpy changed(m_geolocator.get(), &Geolocator::serversChanged);

    m_geolocator->startAddressLookups();
    QCOMPARE(m_network->requests.size(), 2);
    // One request per address; an IPv6 address keeps its colons, in canonical form.
    QCOMPARE(m_network->requests.at(0).url().toString(), serviceUrl() + u"192.0.2.10"_s);
    QCOMPARE(m_network->requests.at(1).url().toString(), serviceUrl() + u"2606:4700::1111"_s);
    for (const QNetworkRequest &request : std::as_const(m_network->requests)) {
        QCOMPARE(request.transferTimeout(), 8000);
        QCOMPARE(request.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
                 int(QNetworkRequest::ManualRedirectPolicy));
    }
    QCOMPARE(m_catalogue->record(u"3"_s)->resolvedIp.value_or(QString()), u"2606:4700::1111"_s);

    QTRY_COMPARE(geoOf(*m_catalogue, u"3"_s).city, u"Berlin"_s);
    QTRY_COMPARE(geoOf(*m_catalogue, u"1"_s).countryCode, u"DE"_s);
    QCOMPARE(geoOf(*m_catalogue, u"2"_s), geoOf(*m_catalogue, u"1"_s));
    QVERIFY(std::any_of(changed.cbegin(), changed.cend(), [](const QList<QVariant> &arguments) {
        return arguments.at(0).value<QSet<QString>>() == QSet<QString>{u"1"_s, u"2"_s};
    }));
    for (const HttpRequest &request : m_service.requests()) {
        QCOMPARE(request.method, QByteArray("GET"));
        QVERIFY(!request.hasHeader("Authorization"));
        QCOMPARE(request.header("Accept-Encoding"), QByteArray("identity"));
    }
    const settings::CachedLocation cached = settings::geoIpCache(u"192.0.2.10"_s);
    QVERIFY(QDateTime::currentMSecsSinceEpoch() - cached.checkedAt < 60'000);
    QCOMPARE(cached.latitude.value_or(0), 52.52);
}

void TestGeolocator::fourRequestsAtOnce()
{
    QJsonArray servers;
    for (int index = 1; index <= 5; ++index) {
        servers.append(server(QString::number(index), u"192.0.2.%1:443"_s.arg(index)));
    }
    QVERIFY(load(servers));
    m_answer = [this](const HttpRequest &, const HttpResponderPtr &reply) {
        m_held.push_back(reply);
    };

    m_geolocator->startAddressLookups();
    QCOMPARE(m_network->requests.size(), 4);
    QTRY_COMPARE(m_held.size(), 4u);
    m_held.front()->sendJson(200, answer(u"DE"_s, u"Berlin"_s));
    QTRY_COMPARE(m_network->requests.size(), 5);
    QCOMPARE(m_network->requests.last().url().toString(), serviceUrl() + u"192.0.2.5"_s);
}

void TestGeolocator::hostNames()
{
    QVERIFY(load({server(u"1"_s, u"vpn.example.net:443"_s), server(u"2"_s, u"lan.example:443"_s),
                  server(u"3"_s, u"old.example:443"_s)}));
    m_geolocator->startAddressLookups();
    QCOMPARE(m_resolved, (QStringList{u"vpn.example.net"_s, u"lan.example"_s, u"old.example"_s}));

    // The first public address counts; private answers lead nowhere.
    m_pendingLookups.at(0)({QHostAddress(u"10.0.0.1"_s), QHostAddress(u"198.51.100.9"_s),
                            QHostAddress(u"192.0.2.77"_s), QHostAddress(u"8.8.8.8"_s)});
    m_pendingLookups.at(1)({QHostAddress(u"192.168.1.1"_s)});
    QCOMPARE(m_catalogue->record(u"1"_s)->resolvedIp.value_or(QString()), u"192.0.2.77"_s);
    QVERIFY(!m_catalogue->record(u"2"_s)->resolvedIp);
    QCOMPARE(m_network->requests.size(), 1);

    // An answer that outlived its catalogue load is void.
    QVERIFY(load(m_servers));
    m_pendingLookups.at(2)({QHostAddress(u"8.8.4.4"_s)});
    QVERIFY(!m_catalogue->record(u"3"_s)->resolvedIp);
    QCOMPARE(m_network->requests.size(), 1);
}

void TestGeolocator::cacheAge_data()
{
    QTest::addColumn<int>("daysAgo");
    QTest::addColumn<bool>("requested");

    QTest::newRow("29 days") << 29 << false;
    QTest::newRow("30 days") << 30 << true;
}

void TestGeolocator::cacheAge()
{
    QFETCH(int, daysAgo);
    QFETCH(bool, requested);
    writeCache(u"192.0.2.10"_s, QDateTime::currentDateTimeUtc().addDays(-daysAgo), u"Cached"_s);
    QVERIFY(load({server(u"1"_s, u"192.0.2.10:443"_s)}));

    m_geolocator->startAddressLookups();
    QCOMPARE(m_network->requests.size(), requested ? 1 : 0);
    QTRY_COMPARE(geoOf(*m_catalogue, u"1"_s).city, requested ? u"Berlin"_s : u"Cached"_s);
}

void TestGeolocator::rejectedReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body"); // empty: no reply before the time-out

    const QByteArray berlin = QJsonDocument(answer(u"DE"_s, u"Berlin"_s)).toJson();
    QJsonObject padded = answer(u"DE"_s, u"Berlin"_s);
    padded.insert(u"padding"_s, QString(Geolocator::maxReplyBytes, u'x'));

    QTest::newRow("not successful")
        << 200 << QByteArray(R"({"success":false,"country_code":"DE"})");
    QTest::newRow("success as text")
        << 200 << QByteArray(R"({"success":"true","country_code":"DE"})");
    QTest::newRow("empty code") << 200 << QByteArray(R"({"success":true,"country_code":""})");
    QTest::newRow("code not text") << 200 << QByteArray(R"({"success":true,"country_code":49})");
    QTest::newRow("not JSON") << 200 << QByteArray("<html>");
    QTest::newRow("oversized") << 200 << QJsonDocument(padded).toJson();
    QTest::newRow("server error") << 500 << berlin;
    QTest::newRow("redirect") << 302 << berlin;
    QTest::newRow("timed out") << 200 << QByteArray();
}

void TestGeolocator::rejectedReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    m_answer = [&](const HttpRequest &, const HttpResponderPtr &reply) {
        if (body.isEmpty()) {
            m_held.push_back(reply);
            return;
        }
        reply->setHeader("Location", serviceUrl().toUtf8() + "8.8.8.8");
        reply->send(status, body);
    };
    m_geolocator->setTransferTimeout(100);
    QVERIFY(load({server(u"1"_s, u"192.0.2.10:443"_s), server(u"2"_s, u"vpn.example.net:443"_s)}));

    m_geolocator->startAddressLookups();
    QCOMPARE(m_network->replies.size(), 1);
    QTRY_VERIFY(m_network->replies.first().isNull());
    // A failed address is not asked again in this pass, whichever server reports it next.
    m_pendingLookups.at(0)({QHostAddress(u"192.0.2.10"_s)});
    QCOMPARE(m_network->requests.size(), 1);
    QCOMPARE(m_service.requestCount(), 1);
    QCOMPARE(m_catalogue->record(u"2"_s)->resolvedIp.value_or(QString()), u"192.0.2.10"_s);
    QVERIFY(!m_catalogue->record(u"1"_s)->geoLocation);
    QVERIFY(!m_catalogue->record(u"2"_s)->geoLocation);
    QVERIFY(QSettings().childGroups().isEmpty());
}

void TestGeolocator::endlessReplyCut()
{
    StreamingServer stream;
    QVERIFY(stream.listen(QHostAddress::LocalHost));
    m_geolocator->setServiceUrl(QUrl(u"http://127.0.0.1:%1/"_s.arg(stream.serverPort())));
    QVERIFY(load({server(u"1"_s, u"192.0.2.10:443"_s)}));

    m_geolocator->startAddressLookups();
    QCOMPARE(m_network->replies.size(), 1);
    QTRY_VERIFY(m_network->replies.first().isNull());
    QVERIFY(!m_catalogue->record(u"1"_s)->geoLocation);
    QVERIFY2(stream.written < StreamingServer::total / 2, QByteArray::number(stream.written));
}

void TestGeolocator::untrustedValues_data()
{
    QTest::addColumn<QJsonValue>("latitude");
    QTest::addColumn<QJsonValue>("longitude");
    QTest::addColumn<QString>("city");
    QTest::addColumn<bool>("hasCoordinates");

    const QJsonValue absent(QJsonValue::Undefined);
    QTest::newRow("valid") << QJsonValue(-23.55) << QJsonValue(-46.63) << u"Sao Paulo"_s << true;
    QTest::newRow("absent") << absent << absent << u"Sao Paulo"_s << false;
    QTest::newRow("only one") << QJsonValue(-23.55) << absent << u"Sao Paulo"_s << false;
    QTest::newRow("latitude beyond 90") << QJsonValue(90.5) << QJsonValue(10) << u"X"_s << false;
    QTest::newRow("longitude beyond 180")
        << QJsonValue(10) << QJsonValue(-180.5) << u"X"_s << false;
    QTest::newRow("as text") << QJsonValue(u"-23.55"_s) << QJsonValue(u"-46.63"_s) << u"X"_s
                             << false;
    QTest::newRow("long city") << absent << absent << QString(300, u'c') << false;
}

void TestGeolocator::untrustedValues()
{
    QFETCH(QJsonValue, latitude);
    QFETCH(QJsonValue, longitude);
    QFETCH(QString, city);
    QFETCH(bool, hasCoordinates);
    QJsonObject reply{{u"success"_s, true},
                      {u"country_code"_s, u"BR"_s},
                      {u"country"_s, u"Brazil"_s},
                      {u"city"_s, city}};
    if (!latitude.isUndefined()) {
        reply.insert(u"latitude"_s, latitude);
    }
    if (!longitude.isUndefined()) {
        reply.insert(u"longitude"_s, longitude);
    }
    m_answer = [&](const HttpRequest &, const HttpResponderPtr &responder) {
        responder->sendJson(200, reply);
    };
    QVERIFY(load({server(u"1"_s, u"192.0.2.10:443"_s)}));

    // The second pass reads what the first one cached.
    for (int pass = 0; pass < 2; ++pass) {
        m_geolocator->startAddressLookups();
        QTRY_VERIFY(m_catalogue->record(u"1"_s)->geoLocation);
        const api::GeoLocation geo = geoOf(*m_catalogue, u"1"_s);
        QCOMPARE(geo.city, city.left(Geolocator::maxTextLength));
        QCOMPARE(geo.latitude.has_value(), hasCoordinates);
        QCOMPARE(geo.longitude.has_value(), hasCoordinates);
        const ServerLocation location = serverLocation(*m_catalogue->record(u"1"_s));
        QCOMPARE(location.country, u"Brazil"_s);
        QCOMPARE(location.hasCoordinates, hasCoordinates);
        QCOMPARE(QSettings().contains(u"geoIpCache/192.0.2.10/latitude"_s), hasCoordinates);
        QVERIFY(load(m_servers));
    }
    QCOMPARE(m_network->requests.size(), 1);
}

void TestGeolocator::lateReplyAfterSignOut()
{
    QVERIFY(load({server(u"1"_s, u"192.0.2.10:443"_s)}));
    m_answer = [this](const HttpRequest &, const HttpResponderPtr &reply) {
        m_held.push_back(reply);
    };
    m_geolocator->startAddressLookups();
    QTRY_COMPARE(m_held.size(), 1u);
    QSignalSpy changed(m_geolocator.get(), &Geolocator::serversChanged);

    m_geolocator->forgetAddresses();
    m_held.front()->sendJson(200, answer(u"DE"_s, u"Berlin"_s));
    QTRY_VERIFY(m_network->replies.first().isNull());
    QCOMPARE(settings::geoIpCache(u"192.0.2.10"_s).city, u"Berlin"_s);
    QVERIFY(!m_catalogue->record(u"1"_s)->geoLocation);
    QCOMPARE(changed.count(), 0);
}

void TestGeolocator::ownLocation_data()
{
    QTest::addColumn<int>("hoursAgo"); // 0: nothing cached
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("requested");
    QTest::addColumn<QString>("city"); // empty: no position found

    QTest::newRow("fresh") << 23 << 200 << true << false << u"Cached"_s;
    QTest::newRow("stale") << 25 << 200 << true << true << u"Berlin"_s;
    QTest::newRow("none") << 0 << 200 << true << true << u"Berlin"_s;
    QTest::newRow("service fails") << 25 << 503 << true << true << QString();
    QTest::newRow("disabled") << 1 << 200 << false << false << QString();
}

void TestGeolocator::ownLocation()
{
    QFETCH(int, hoursAgo);
    QFETCH(int, status);
    QFETCH(bool, enabled);
    QFETCH(bool, requested);
    QFETCH(QString, city);
    if (hoursAgo > 0) {
        writeCache(QString(), QDateTime::currentDateTimeUtc().addSecs(-hoursAgo * 3600),
                   u"Cached"_s);
    }
    m_answer = [&](const HttpRequest &, const HttpResponderPtr &reply) {
        reply->sendJson(status, answer(u"de"_s, u"Berlin"_s));
    };
    QSignalSpy found(m_geolocator.get(), &Geolocator::ownLocationFound);

    m_geolocator->setEnabled(enabled);
    m_geolocator->loadOwnLocation();
    QCOMPARE(m_network->requests.size(), requested ? 1 : 0);
    if (requested) {
        QCOMPARE(m_network->requests.first().url().toString(), serviceUrl());
        QTRY_VERIFY(m_network->replies.first().isNull());
    }
    QCOMPARE(found.count(), city.isEmpty() ? 0 : 1);
    if (!city.isEmpty()) {
        const auto location = found.first().first().value<ServerLocation>();
        QCOMPARE(location.city, city);
        QCOMPARE(location.countryCode, u"DE"_s);
        QVERIFY(location.hasCoordinates);
        QCOMPARE(settings::myGeoLocation().city, city);
    }
}

QTEST_GUILESS_MAIN(TestGeolocator)
#include "tst_geolocator.moc"
