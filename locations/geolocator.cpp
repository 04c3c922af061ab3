#include "locations/geolocator.h"

#include "api/replyreader.h"
#include "api/replyrules.h"
#include "locations/servercatalogue.h"
#include "settings/settingskeys.h"

#include <QDateTime>
#include <QHostInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

void lookUpHost(const QString &host, QObject *context,
                std::function<void(const QList<QHostAddress> &)> done)
{
    QHostInfo::lookupHost(host, context, [done = std::move(done)](const QHostInfo &info) {
        done(info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>());
    });
}

bool isCoordinate(const std::optional<double> &value, double limit)
{
    return value && std::isfinite(*value) && std::abs(*value) <= limit;
}

// Texts cut to a sane length, and coordinates kept only as a valid pair: a missing or wild
// value must not place a server anywhere.
settings::CachedLocation bounded(settings::CachedLocation location)
{
    location.country.truncate(Geolocator::maxTextLength);
    location.countryCode.truncate(Geolocator::maxTextLength);
    location.city.truncate(Geolocator::maxTextLength);
    if (!isCoordinate(location.latitude, 90) || !isCoordinate(location.longitude, 180)) {
        location.latitude.reset();
        location.longitude.reset();
    }
    return location;
}

std::optional<double> number(const QJsonValue &value)
{
    return value.isDouble() ? std::optional<double>(value.toDouble()) : std::nullopt;
}

// The service's answer, or nothing when the reply failed (a too large one was aborted) or says
// no location.
std::optional<settings::CachedLocation> readServiceReply(ReplyReader &reader)
{
    const QNetworkReply *reply = reader.reply();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError || status < 200 || status > 299) {
        return std::nullopt;
    }
    const QJsonObject object = QJsonDocument::fromJson(reader.takeBody()).object();
    settings::CachedLocation location;
    location.countryCode = object.value(u"country_code"_s).toString();
    location.country = object.value(u"country"_s).toString();
    location.city = object.value(u"city"_s).toString();
    location.latitude = number(object.value(u"latitude"_s));
    location.longitude = number(object.value(u"longitude"_s));
    if (object.value(u"success"_s) != QJsonValue(true) || location.countryCode.isEmpty()) {
        return std::nullopt;
    }
    return bounded(location);
}

api::GeoLocation geoLocation(const settings::CachedLocation &location)
{
    api::GeoLocation geo{location.countryCode, location.country, location.city, {}, {}};
    if (location.latitude && location.longitude) {
        geo.latitude = location.latitude;
        geo.longitude = location.longitude;
    }
    return geo;
}

ServerLocation ownLocation(const settings::CachedLocation &location)
{
    ServerLocation result;
    result.countryCode = location.countryCode.toUpper();
    result.country = location.country;
    result.city = location.city;
    result.known = true;
    if (location.latitude && location.longitude) {
        result.latitude = *location.latitude;
        result.longitude = *location.longitude;
        result.hasCoordinates = true;
    }
    return result;
}

// Fresh up to the 29th calendar day (UTC) after the lookup.
bool isFreshServerEntry(const settings::CachedLocation &location)
{
    if (location.checkedAt < 1) {
        return false;
    }
    const QDate checked = QDateTime::fromMSecsSinceEpoch(location.checkedAt, Qt::UTC).date();
    return checked.daysTo(QDateTime::currentDateTimeUtc().date()) <= Geolocator::maxCacheDays;
}

} // namespace

QUrl geolocationServiceUrl()
{
    return QUrl(u"https://ipwho.is/"_s);
}

bool isPublicAddress(const QString &text)
{
    const QHostAddress address(text);
    if (address.isNull() || address.isLoopback() || address.isLinkLocal() ||
        address.isMulticast()) {
        return false;
    }
    // A subnet of the other protocol never contains the address, so one list serves both.
    static const QList<QPair<QHostAddress, int>> excluded = [] {
        QList<QPair<QHostAddress, int>> subnets;
        for (const char16_t *subnet :
             {u"::/128", u"fc00::/7", u"2001:db8::/32", u"0.0.0.0/8", u"10.0.0.0/8",
              u"100.64.0.0/10", u"172.16.0.0/12", u"192.0.0.0/24", u"192.168.0.0/16",
              u"198.18.0.0/15", u"198.51.100.0/24", u"203.0.113.0/24", u"224.0.0.0/3"}) {
            subnets.append(QHostAddress::parseSubnet(QString::fromUtf16(subnet)));
        }
        return subnets;
    }();
    return std::none_of(excluded.begin(), excluded.end(),
                        [&](const auto &subnet) { return address.isInSubnet(subnet); });
}

Geolocator::Geolocator(ServerCatalogue &catalogue, QNetworkAccessManager &network, QObject *parent)
    : Geolocator(catalogue, parent)
{
    m_network = &network;
}

Geolocator::Geolocator(ServerCatalogue &catalogue, QObject *parent)
    : QObject(parent)
    , m_catalogue(catalogue)
    , m_serviceUrl(geolocationServiceUrl())
    , m_resolveHost(lookUpHost)
{}

void Geolocator::startAddressLookups()
{
    forgetAddresses();
    if (!m_enabled) {
        return;
    }
    const qint64 generation = m_catalogue.generation();
    // A copy: records change while the pass runs.
    const QList<api::ServerRecord> servers = m_catalogue.servers();
    for (const api::ServerRecord &server : servers) {
        const QString host = hostOfEndpoint(server.endpoint);
        if (!server.id.isEmpty() && !host.isEmpty()) {
            resolveServer(server.id, host, generation);
        }
    }
}

void Geolocator::forgetAddresses()
{
    m_serversByAddress.clear();
    m_lookedUp.clear();
    m_queued.clear();
    m_geoQueue.clear();
}

void Geolocator::resolveServer(const QString &id, const QString &host, qint64 generation)
{
    const QHostAddress literal(host);
    if (!literal.isNull()) {
        onServerAddress(id, literal.toString(), generation);
        return;
    }
    static const QRegularExpression hostName(u"^[A-Za-z0-9.-]+$"_s);
    if (!hostName.match(host).hasMatch()) {
        return;
    }
    m_resolveHost(host, this, [this, id, generation](const QList<QHostAddress> &addresses) {
        const auto found = std::find_if(addresses.begin(), addresses.end(), [](const auto &a) {
            return isPublicAddress(a.toString());
        });
        if (found != addresses.end()) {
            onServerAddress(id, found->toString(), generation);
        }
    });
}

void Geolocator::onServerAddress(const QString &id, const QString &address, qint64 generation)
{
    if (generation != m_catalogue.generation() || !isPublicAddress(address)) {
        return;
    }
    if (m_catalogue.setResolvedAddress(id, address)) {
        emit serversChanged({id});
    }
    m_serversByAddress[address].insert(id);

    const settings::CachedLocation cached = settings::geoIpCache(address);
    if (isFreshServerEntry(cached)) {
        if (!cached.countryCode.isEmpty()) {
            applyGeolocation(address, bounded(cached), false);
        }
        return;
    }
    if (m_lookedUp.contains(address) || m_queued.contains(address) ||
        m_inFlight.contains(address)) {
        return;
    }
    m_queued.insert(address);
    m_geoQueue.append(address);
    pumpGeoQueue();
}

void Geolocator::pumpGeoQueue()
{
    while (m_inFlight.size() < maxRequests && !m_geoQueue.isEmpty()) {
        const QString address = m_geoQueue.takeFirst();
        m_queued.remove(address);
        if (m_lookedUp.contains(address)) {
            continue;
        }
        m_lookedUp.insert(address);
        m_inFlight.insert(address);
        // IPv6 addresses keep their colons.
        ReplyReader *reader = get(QUrl(m_serviceUrl.toString(QUrl::FullyEncoded) +
                                       QString::fromLatin1(QUrl::toPercentEncoding(address, ":"))));
        connect(reader->reply(), &QNetworkReply::finished, this,
                [this, address, reader] { onGeoReply(address, *reader); });
    }
}

void Geolocator::onGeoReply(const QString &address, ReplyReader &reader)
{
    m_inFlight.remove(address);
    const std::optional<settings::CachedLocation> location = readServiceReply(reader);
    reader.reply()->deleteLater();
    if (location) {
        applyGeolocation(address, *location, true);
    }
    pumpGeoQueue();
}

void Geolocator::applyGeolocation(const QString &address, const settings::CachedLocation &location,
                                  bool store)
{
    if (store) {
        settings::CachedLocation entry = location;
        entry.checkedAt = QDateTime::currentMSecsSinceEpoch();
        settings::setGeoIpCache(address, entry);
    }
    const QSet<QString> ids = m_serversByAddress.value(address);
    if (m_catalogue.setGeoLocation(ids, geoLocation(location))) {
        emit serversChanged(ids);
    }
}

void Geolocator::loadOwnLocation()
{
    if (!m_enabled) {
        return;
    }
    const settings::CachedLocation cached = settings::myGeoLocation();
    if (cached.checkedAt > 0 &&
        QDateTime::currentMSecsSinceEpoch() - cached.checkedAt < ownLocationLifetimeMs) {
        if (!cached.countryCode.isEmpty()) {
            emit ownLocationFound(ownLocation(bounded(cached)));
        }
        return;
    }
    ReplyReader *reader = get(m_serviceUrl);
    connect(reader->reply(), &QNetworkReply::finished, this, [this, reader] {
        std::optional<settings::CachedLocation> location = readServiceReply(*reader);
        reader->reply()->deleteLater();
        if (!location) {
            return;
        }
        location->checkedAt = QDateTime::currentMSecsSinceEpoch();
        settings::setMyGeoLocation(*location);
        emit ownLocationFound(ownLocation(*location));
    });
}

ReplyReader *Geolocator::get(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(m_transferTimeoutMs);
    ReplyReader::askUncompressed(request);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    // Made at the first request: the lookups start after the window is drawn.
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
    }
    return new ReplyReader(m_network->get(request), maxReplyBytes);
}
