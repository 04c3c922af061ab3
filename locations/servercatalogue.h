#pragma once

#include "api/backendrecords.h"

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

class ApiClient;

// The servers the backend offers the signed-in account, loaded page by page and kept in the
// order received, without the records this client cannot use. A load collects its pages aside
// and replaces the catalogue only once complete, so the catalogue on show stays whole while a
// refresh runs and when it fails.
class ServerCatalogue : public QObject
{
    Q_OBJECT

public:
    // A full page means another one follows; the load stops after this one whatever it holds.
    static constexpr int lastPage = 100;
    // The most servers a catalogue holds, whatever the backend or the sample data send.
    static constexpr qsizetype maximumServers = 10000;

    explicit ServerCatalogue(ApiClient &api, QObject *parent = nullptr);

    // Starts a load from page 1; false (and nothing happens) while a load runs.
    bool load();
    bool isLoading() const { return m_loading; }
    // Voids the running load's replies and empties the catalogue (sign-out).
    void clear();
    // Takes `servers` as a complete load would, without asking the backend: the sample data of
    // the preview and capture runs.
    void loadRecords(const QJsonArray &servers);

    const QList<api::ServerRecord> &servers() const { return m_servers; }
    // Changes with every load and every clear(); work tied to a load compares it.
    qint64 generation() const { return m_generation; }

    // The record with `id`, or nullptr; valid until the catalogue changes.
    const api::ServerRecord *record(const QString &id) const;
    bool contains(const QString &id) const;
    // The first record whose "tier" is exactly "free": where a free account may go.
    QString firstFreeServer() const;

    // Records the public address the server's host resolved to; true when that changed.
    bool setResolvedAddress(const QString &id, const QString &address);
    // Gives the servers `ids` the geolocation `geo`; true when any record changed.
    bool setGeoLocation(const QSet<QString> &ids, const api::GeoLocation &geo);

signals:
    void loadStarted();
    // A page failed; the catalogue is as it was before the load.
    void loadFailed(int status, bool cancelled);
    // A complete catalogue replaced the previous one.
    void loaded();

private:
    void requestPage(int page, qint64 generation);

    void replaceServers(QList<api::ServerRecord> servers);

    ApiClient &m_api;
    QList<api::ServerRecord> m_servers;
    // Position of each id in m_servers: rows, tool tips and lookups ask by id all the time.
    QHash<QString, qsizetype> m_positions;
    QList<api::ServerRecord> m_incoming;
    qint64 m_generation = 0;
    bool m_loading = false;
};
