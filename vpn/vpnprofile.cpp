#include "vpnprofile.h"

#include "api/replyrules.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QLatin1StringView>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr QLatin1StringView serverIdKey{"serverId"};
constexpr QLatin1StringView connectionKey{"connection"};
constexpr QLatin1StringView tunnelNameKey{"tunnelName"};
constexpr QLatin1StringView nameKey{"name"};
constexpr QLatin1StringView requestKeyKey{"requestKey"};
constexpr QLatin1StringView localKey{"local"};
constexpr QLatin1StringView pendingProfileKey{"pendingProfile"};

} // namespace

VpnProfile::VpnProfile(const QJsonObject &record)
    : m_record(record)
    , m_id(api::jsonText(record.value(u"id"_s)))
    , m_accountDeviceId(api::jsonText(record.value(u"accountDeviceId"_s)))
    , m_serverId(api::jsonText(record.value(serverIdKey)))
    , m_revoked(record.value(u"revoked"_s).toBool())
    , m_migrationRequired(record.value(u"migrationRequired"_s).toBool())
    , m_connection(record.value(connectionKey).toObject())
    , m_tunnelName(record.value(tunnelNameKey).toString())
{
    const QJsonValue active = record.value(u"active"_s);
    if (!active.isUndefined())
        m_active = active == QJsonValue(true);
    const QJsonValue syncStatus = record.value(u"syncStatus"_s);
    m_gatewayReady = syncStatus.isUndefined() || syncStatus == QJsonValue(u"synced"_s);
}

VpnProfile VpnProfile::fromReply(const QJsonObject &reply)
{
    const QJsonObject outer = api::unwrapData(reply);
    const QJsonValue profile = outer.value(u"profile"_s);
    if (profile.isObject())
        return VpnProfile(api::unwrapData(profile.toObject()));
    const QJsonValue device = outer.value(u"device"_s);
    if (device.isObject()) {
        QJsonObject record = api::unwrapData(device.toObject());
        if (!record.contains(connectionKey))
            record.insert(connectionKey, outer.value(connectionKey));
        return VpnProfile(record);
    }
    return VpnProfile(outer);
}

void VpnProfile::setTunnelName(const QString &name)
{
    QJsonObject record = m_record;
    record.insert(tunnelNameKey, name);
    *this = VpnProfile(record);
}

void VpnProfile::setMissingServerId(const QString &serverId)
{
    if (m_record.contains(serverIdKey) || serverId.isEmpty())
        return;
    QJsonObject record = m_record;
    record.insert(serverIdKey, serverId);
    *this = VpnProfile(record);
}

void VpnProfile::merge(const VpnProfile &fetched)
{
    QJsonObject record = m_record;
    for (auto member = fetched.m_record.begin(); member != fetched.m_record.end(); ++member)
        record.insert(member.key(), member.value());
    *this = VpnProfile(record);
}

QJsonObject PendingProfile::toJson() const
{
    if (isEmpty())
        return {};
    QJsonObject object{{nameKey, name}, {requestKeyKey, requestKey}};
    if (!serverId.isEmpty())
        object.insert(serverIdKey, serverId);
    return object;
}

PendingProfile PendingProfile::fromJson(const QJsonObject &object)
{
    return {object.value(nameKey).toString(), object.value(requestKeyKey).toString(),
            api::jsonText(object.value(serverIdKey))};
}

QByteArray profileStateText(const VpnProfile &profile, const PendingProfile &pending)
{
    return QJsonDocument(
               QJsonObject{{localKey, profile.record()}, {pendingProfileKey, pending.toJson()}})
        .toJson(QJsonDocument::Compact);
}

void readProfileState(const QByteArray &text, VpnProfile &profile, PendingProfile &pending)
{
    const QJsonObject state = QJsonDocument::fromJson(text).object();
    profile = VpnProfile(state.value(localKey).toObject());
    pending = PendingProfile::fromJson(state.value(pendingProfileKey).toObject());
}
