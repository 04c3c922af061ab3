#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

// This device's VPN profile as the backend issues it, read from the wire once. The record is
// stored as it arrived, members the client never reads included, so the wire object travels
// with it for storing and merging; everything is read through the typed fields.
class VpnProfile
{
public:
    VpnProfile() = default;
    // A record as stored or as a discovery page lists it (pageItems() has unwrapped it).
    explicit VpnProfile(const QJsonObject &record);
    // The profile inside a creation or fetch reply, which some backends nest under "profile" or
    // "device" (the latter with the connection beside it).
    static VpnProfile fromReply(const QJsonObject &reply);

    bool isEmpty() const { return m_record.isEmpty(); }
    const QJsonObject &record() const { return m_record; }

    // Identifiers read as text, whether the backend sends strings or numbers.
    const QString &id() const { return m_id; }
    const QString &accountDeviceId() const { return m_accountDeviceId; }
    const QString &serverId() const { return m_serverId; }
    bool revoked() const { return m_revoked; }
    bool migrationRequired() const { return m_migrationRequired; }
    // Absent when the record does not say; otherwise whether it says JSON true. Discovery and
    // fetch take an absent value as inactive, starting a tunnel takes it as active.
    std::optional<bool> active() const { return m_active; }
    // No "syncStatus", or exactly "synced".
    bool gatewayReady() const { return m_gatewayReady; }
    // The VLESS/REALITY connection object, for parseTunnelProfile().
    const QJsonObject &connection() const { return m_connection; }
    // Set by the client when it adopts the profile; the backend never sends it.
    const QString &tunnelName() const { return m_tunnelName; }

    void setTunnelName(const QString &name);
    // A record without any "serverId" member is for `serverId` (when that is non-empty): the
    // server its creation request named.
    void setMissingServerId(const QString &serverId);
    // Every member of `fetched` is written over this record; members only this one has, such as
    // "tunnelName", stay.
    void merge(const VpnProfile &fetched);

private:
    QJsonObject m_record;
    QString m_id;
    QString m_accountDeviceId;
    QString m_serverId;
    bool m_revoked = false;
    bool m_migrationRequired = false;
    std::optional<bool> m_active;
    bool m_gatewayReady = true;
    QJsonObject m_connection;
    QString m_tunnelName;
};

// A creation request the backend has not confirmed yet; stored as exactly the body it sends, so
// a lost reply is repeated with the same key.
struct PendingProfile
{
    QString name;
    QString requestKey;
    // Empty when the backend chooses the server.
    QString serverId;

    bool isEmpty() const { return name.isEmpty() && requestKey.isEmpty() && serverId.isEmpty(); }
    // {"name", "requestKey", ["serverId"]}; an empty object when there is no request.
    QJsonObject toJson() const;
    static PendingProfile fromJson(const QJsonObject &object);
};

// The compact JSON text of {"local": profile, "pendingProfile": pending}, an account's stored
// state.
QByteArray profileStateText(const VpnProfile &profile, const PendingProfile &pending);
// Reads such a text; a missing, unreadable or malformed one holds neither.
void readProfileState(const QByteArray &text, VpnProfile &profile, PendingProfile &pending);
