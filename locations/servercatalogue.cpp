#include "locations/servercatalogue.h"

#include "api/apiclient.h"
#include "api/backendcatalogue.h"
#include "api/replyrules.h"

using namespace Qt::Literals::StringLiterals;

// A complete load from the backend is never cut short by the ceiling.
static_assert(qsizetype(ServerCatalogue::lastPage) * backend::pageSize <=
              ServerCatalogue::maximumServers);

namespace {

// The record with the texts the window shows of it bounded; the endpoint stays whole, as it is
// what the client connects to.
QJsonObject withBoundedTexts(QJsonObject record)
{
    for (const QString &key : {u"name"_s, u"country"_s, u"city"_s, u"countryCode"_s}) {
        const QJsonValue value = record.value(key);
        if (value.isString() && value.toString().size() > api::maximumTextLength) {
            record.insert(key, api::boundedText(value.toString()));
        }
    }
    return record;
}

} // namespace

ServerCatalogue::ServerCatalogue(ApiClient &api, QObject *parent)
    : QObject(parent)
    , m_api(api)
{}

bool ServerCatalogue::load()
{
    if (m_loading) {
        return false;
    }
    m_loading = true;
    m_incoming = QJsonArray();
    emit loadStarted();
    requestPage(1, ++m_generation);
    return true;
}

void ServerCatalogue::clear()
{
    ++m_generation;
    m_loading = false;
    m_incoming = QJsonArray();
    replaceServers(QJsonArray());
}

void ServerCatalogue::loadRecords(const QJsonArray &servers)
{
    ++m_generation;
    m_loading = false;
    m_incoming = QJsonArray();
    QJsonArray usable;
    appendUsable(usable, servers);
    replaceServers(usable);
    emit loaded();
}

void ServerCatalogue::appendUsable(QJsonArray &target, const QJsonArray &records)
{
    for (qsizetype index = 0; index < records.size() && target.size() < maximumServers; ++index) {
        const QJsonObject record = records.at(index).toObject();
        if (isUsable(record)) {
            target.append(withBoundedTexts(record));
        }
    }
}

void ServerCatalogue::replaceServers(const QJsonArray &servers)
{
    m_servers = servers;
    m_positions.clear();
    for (qsizetype index = m_servers.size() - 1; index >= 0; --index) {
        // Counting down, so the first record of an id repeated by the backend wins.
        m_positions.insert(serverId(m_servers.at(index)), index);
    }
}

void ServerCatalogue::requestPage(int page, qint64 generation)
{
    m_api.request("GET", backend::serversPage(page), QJsonObject(), true,
                  [this, page, generation](const ApiResult &result) {
                      if (generation != m_generation) {
                          return;
                      }
                      if (!result.successful()) {
                          m_loading = false;
                          m_incoming = QJsonArray();
                          emit loadFailed(result.status, result.cancelled);
                          return;
                      }
                      const QJsonArray items = api::pageItems(result.body);
                      appendUsable(m_incoming, items);
                      if (items.size() == backend::pageSize && page < lastPage) {
                          requestPage(page + 1, generation);
                          return;
                      }
                      m_loading = false;
                      replaceServers(m_incoming);
                      m_incoming = QJsonArray();
                      emit loaded();
                  });
}

QJsonObject ServerCatalogue::record(const QString &id) const
{
    const auto found = m_positions.constFind(id);
    return found == m_positions.constEnd() ? QJsonObject() : m_servers.at(*found).toObject();
}

bool ServerCatalogue::contains(const QString &id) const
{
    return !id.isEmpty() && !record(id).isEmpty();
}

QString ServerCatalogue::firstFreeServer() const
{
    for (const QJsonValue &server : m_servers) {
        if (server.toObject().value(u"tier"_s) == QJsonValue(u"free"_s)) {
            return serverId(server);
        }
    }
    return QString();
}

bool ServerCatalogue::setResolvedAddress(const QString &id, const QString &address)
{
    const auto found = m_positions.constFind(id);
    if (found == m_positions.constEnd()) {
        return false;
    }
    QJsonObject server = m_servers.at(*found).toObject();
    if (server.value(u"resolvedIp"_s) == QJsonValue(address)) {
        return false;
    }
    server.insert(u"resolvedIp"_s, address);
    m_servers.replace(*found, server);
    return true;
}

bool ServerCatalogue::setGeoLocation(const QSet<QString> &ids, const QJsonObject &geo)
{
    bool changed = false;
    for (qsizetype index = 0; index < m_servers.size(); ++index) {
        if (!ids.contains(serverId(m_servers.at(index)))) {
            continue;
        }
        QJsonObject server = m_servers.at(index).toObject();
        if (server.value(u"geoLocation"_s) != geo) {
            server.insert(u"geoLocation"_s, geo);
            m_servers.replace(index, server);
            changed = true;
        }
    }
    return changed;
}

QString ServerCatalogue::serverId(const QJsonValue &record)
{
    return api::jsonText(record.toObject().value(u"id"_s));
}

bool ServerCatalogue::isUsable(const QJsonObject &record)
{
    const QJsonValue enabled = record.value(u"enabled"_s);
    const QJsonValue protocol = record.value(u"protocol"_s);
    return !api::jsonText(record.value(u"id"_s)).isEmpty() &&
           !(enabled.isBool() && !enabled.toBool()) &&
           (protocol.isUndefined() || protocol == QJsonValue(u"vless-reality"_s));
}
