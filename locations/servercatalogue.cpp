#include "locations/servercatalogue.h"

#include "api/apiclient.h"
#include "api/backendcatalogue.h"
#include "api/replyrules.h"

using namespace Qt::Literals::StringLiterals;

// A complete load from the backend is never cut short by the ceiling.
static_assert(qsizetype(ServerCatalogue::lastPage) * backend::pageSize <=
              ServerCatalogue::maximumServers);

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
    m_incoming.clear();
    emit loadStarted();
    requestPage(1, ++m_generation);
    return true;
}

void ServerCatalogue::clear()
{
    ++m_generation;
    m_loading = false;
    m_incoming.clear();
    replaceServers({});
}

void ServerCatalogue::loadRecords(const QJsonArray &servers)
{
    ++m_generation;
    m_loading = false;
    m_incoming.clear();
    QList<api::ServerRecord> usable;
    api::appendUsableServers(usable, servers, maximumServers);
    replaceServers(std::move(usable));
    emit loaded();
}

void ServerCatalogue::replaceServers(QList<api::ServerRecord> servers)
{
    m_servers = std::move(servers);
    m_positions.clear();
    for (qsizetype index = m_servers.size() - 1; index >= 0; --index) {
        // Counting down, so the first record of an id repeated by the backend wins.
        m_positions.insert(m_servers.at(index).id, index);
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
                          m_incoming.clear();
                          emit loadFailed(result.status, result.cancelled);
                          return;
                      }
                      const QJsonArray items = api::pageItems(result.body);
                      api::appendUsableServers(m_incoming, items, maximumServers);
                      if (items.size() == backend::pageSize && page < lastPage) {
                          requestPage(page + 1, generation);
                          return;
                      }
                      m_loading = false;
                      replaceServers(std::move(m_incoming));
                      m_incoming.clear();
                      emit loaded();
                  });
}

const api::ServerRecord *ServerCatalogue::record(const QString &id) const
{
    const auto found = m_positions.constFind(id);
    return found == m_positions.constEnd() ? nullptr : &m_servers.at(*found);
}

bool ServerCatalogue::contains(const QString &id) const
{
    return !id.isEmpty() && record(id) != nullptr;
}

QString ServerCatalogue::firstFreeServer() const
{
    for (const api::ServerRecord &server : m_servers) {
        if (server.tier == u"free"_s) {
            return server.id;
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
    api::ServerRecord &server = m_servers[*found];
    if (server.resolvedIp == address) {
        return false;
    }
    server.resolvedIp = address;
    return true;
}

bool ServerCatalogue::setGeoLocation(const QSet<QString> &ids, const api::GeoLocation &geo)
{
    bool changed = false;
    for (api::ServerRecord &server : m_servers) {
        if (ids.contains(server.id) && server.geoLocation != geo) {
            server.geoLocation = geo;
            changed = true;
        }
    }
    return changed;
}
