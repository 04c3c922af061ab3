#pragma once

#include "locations/serverlocation.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class ReplyReader;
class ServerCatalogue;

namespace settings {
struct CachedLocation;
}

// The public IP-geolocation service: GET of this URL followed by an address, or of the URL
// itself for the caller's own position.
QUrl geolocationServiceUrl();

// Whether an address may be sent to the geolocation service: a unicast address outside the
// private, shared, benchmarking, documentation and reserved ranges.
bool isPublicAddress(const QString &text);

// Finds where the catalogue's servers are: resolves each endpoint host to a public address,
// asks the geolocation service about every address once per pass (answers are cached in the
// settings for 30 days) and writes "resolvedIp" and "geoLocation" into the records. Also finds
// the user's own position once per start (cached for 24 hours). Every failure is silent.
class Geolocator : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultTransferTimeoutMs = 8000;
    static constexpr int maxRequests = 4;
    // Replies are untrusted: anything larger is not a geolocation answer.
    static constexpr qint64 maxReplyBytes = 64 * 1024;
    static constexpr qsizetype maxTextLength = 100;
    // A cached server location is stale from the 30th calendar day on.
    static constexpr qint64 maxCacheDays = 29;
    static constexpr qint64 ownLocationLifetimeMs = 24 * 60 * 60 * 1000;

    // Looks a host name up and calls `done` on this thread with its addresses in the order
    // found, none when the lookup failed; `context` going away cancels the call.
    using HostResolver =
        std::function<void(const QString &host, QObject *context,
                           std::function<void(const QList<QHostAddress> &addresses)> done)>;

    // Requests go through `network`, or without it through a manager of the locator's own.
    Geolocator(ServerCatalogue &catalogue, QNetworkAccessManager &network,
               QObject *parent = nullptr);
    explicit Geolocator(ServerCatalogue &catalogue, QObject *parent = nullptr);

    // Off in the smoke, preview and capture runs: nothing is looked up or requested at all.
    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }
    void setServiceUrl(const QUrl &url) { m_serviceUrl = url; }
    void setTransferTimeout(int milliseconds) { m_transferTimeoutMs = milliseconds; }
    void setHostResolver(HostResolver resolver) { m_resolveHost = std::move(resolver); }

    // A new pass over the complete catalogue, run after every load.
    void startAddressLookups();
    // Sign-out: replies still running then only fill the cache.
    void forgetAddresses();
    // The user's own position, from the cache or the service; reported by ownLocationFound.
    void loadOwnLocation();

signals:
    // Records of these servers got a new "resolvedIp" or "geoLocation".
    void serversChanged(const QSet<QString> &ids);
    void ownLocationFound(const ServerLocation &location);

private:
    void resolveServer(const QString &id, const QString &host, qint64 generation);
    void onServerAddress(const QString &id, const QString &address, qint64 generation);
    void pumpGeoQueue();
    void onGeoReply(const QString &address, ReplyReader &reader);
    void applyGeolocation(const QString &address, const settings::CachedLocation &location,
                          bool store);
    // The reader takes in the body, within maxReplyBytes.
    ReplyReader *get(const QUrl &url);

    ServerCatalogue &m_catalogue;
    QNetworkAccessManager *m_network = nullptr;
    QUrl m_serviceUrl;
    int m_transferTimeoutMs = defaultTransferTimeoutMs;
    HostResolver m_resolveHost;
    bool m_enabled = true;
    // The pass: which servers resolved to an address, and where each address stands.
    QHash<QString, QSet<QString>> m_serversByAddress;
    QSet<QString> m_lookedUp;
    QSet<QString> m_queued;
    QStringList m_geoQueue;
    // Outlives a pass: a reply still running keeps its place among the four.
    QSet<QString> m_inFlight;
};
