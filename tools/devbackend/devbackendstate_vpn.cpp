#include "devbackendstate.h"

#include "seeddata.h"

#include <QJsonArray>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

QString textOf(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble() && value.toDouble() == double(value.toInteger()))
        return QString::number(value.toInteger());
    return {};
}

bool printable(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isPrint(); });
}

} // namespace

QString DevBackendState::effectiveTier(const DevAccount &account) const
{
    // A lapsed subscription falls back to the free tier, as the payment side would.
    const bool paying =
        account.subscriptionStatus == u"active" || account.subscriptionStatus == u"trialing";
    if (account.tier != u"free" && paying &&
        account.subscriptionEndsAt > QDateTime::currentDateTimeUtc())
        return account.tier;
    return u"free"_s;
}

DevReply DevBackendState::access(const DevCaller &caller) const
{
    const DevAccount *account = accountById(caller.accountId);
    if (!account)
        return error(401, u"UNAUTHORIZED"_s, u"Sign in to continue."_s);
    const QString tier = effectiveTier(*account);
    const QString planId = tier == u"free" ? DevSeed::freePlanId() : DevSeed::monthlyPlanId();
    QJsonObject plan;
    for (const QJsonValue &item : DevSeed::plans()) {
        if (item.toObject().value(u"_id").toString() == planId)
            plan = item.toObject();
    }
    const QJsonObject subscription{
        {u"status"_s, account->subscriptionStatus},
        {u"endsAt"_s, account->subscriptionEndsAt.isValid()
                          ? QJsonValue(account->subscriptionEndsAt.toString(Qt::ISODateWithMs))
                          : QJsonValue()},
        {u"planId"_s,
         account->tier == u"free" ? QJsonValue() : QJsonValue(DevSeed::monthlyPlanId())}};
    return object(
        200, QJsonObject{{u"tier"_s, tier}, {u"plan"_s, plan}, {u"subscription"_s, subscription}});
}

DevReply DevBackendState::plans(const QUrlQuery &query) const
{
    return page(DevSeed::plans(), query);
}

DevReply DevBackendState::servers(const QUrlQuery &query) const
{
    QJsonArray items;
    for (const DevServer &server : m_servers) {
        items.append(QJsonObject{{u"id"_s, server.id},
                                 {u"name"_s, server.name},
                                 {u"endpoint"_s, server.endpoint()},
                                 {u"enabled"_s, server.enabled},
                                 {u"protocol"_s, server.protocol},
                                 {u"tier"_s, server.tier},
                                 {u"countryCode"_s, server.countryCode},
                                 {u"country"_s, server.country},
                                 {u"city"_s, server.city}});
    }
    return page(items, query);
}

QJsonObject DevBackendState::profileJson(const DevProfile &profile) const
{
    const auto server =
        std::find_if(m_servers.cbegin(), m_servers.cend(),
                     [&profile](const DevServer &s) { return s.id == profile.serverId; });
    QJsonObject connection{{u"protocol"_s, u"vless-reality"_s}};
    if (server != m_servers.cend())
        connection.insert(u"uri"_s, DevSeed::vlessLink(*server, profile));
    return QJsonObject{{u"id"_s, profile.id},
                       {u"name"_s, profile.name},
                       {u"accountDeviceId"_s, deviceIdValue(profile.deviceId)},
                       {u"serverId"_s, profile.serverId},
                       {u"revoked"_s, profile.revoked},
                       {u"migrationRequired"_s, profile.migrationRequired},
                       {u"active"_s, profile.active},
                       {u"syncStatus"_s, u"synced"_s},
                       {u"createdAt"_s, profile.createdAt.toString(Qt::ISODateWithMs)},
                       {u"connection"_s, connection}};
}

DevReply DevBackendState::profiles(const DevCaller &caller, const QUrlQuery &query) const
{
    // The whole account's profiles, as the backend lists them; the client picks its own device's.
    QJsonArray items;
    for (const DevProfile &profile : m_profiles) {
        if (profile.accountId == caller.accountId)
            items.append(profileJson(profile));
    }
    return page(items, query);
}

const DevServer *DevBackendState::usableServer(const QString &serverId) const
{
    for (const DevServer &server : m_servers) {
        if (server.id == serverId)
            return server.enabled && server.protocol == u"vless-reality" ? &server : nullptr;
    }
    return nullptr;
}

DevReply DevBackendState::createProfile(const DevCaller &caller, const QJsonObject &body)
{
    const QString name = body.value(u"name").toString().trimmed();
    const QString requestKey = body.value(u"requestKey").toString();
    const QJsonValue serverValue = body.value(u"serverId");
    const QString serverId = textOf(serverValue);
    if (name.isEmpty() || name.size() > 120 || !printable(name))
        return DevBackendState::error(400, u"VALIDATION_ERROR"_s,
                                      u"\"name\" must be 1 to 120 characters."_s);
    if (requestKey.size() < 8 || requestKey.size() > 128 || !printable(requestKey) ||
        requestKey.contains(u' '))
        return error(400, u"VALIDATION_ERROR"_s,
                     u"\"requestKey\" must be 8 to 128 characters without spaces."_s);
    if (!serverValue.isUndefined() && !serverValue.isNull() && serverId.isEmpty())
        return error(400, u"VALIDATION_ERROR"_s, u"\"serverId\" must be a string."_s);

    // Idempotency: a repeated request key returns what the first request created.
    const QString keyed = caller.deviceId + u'\n' + requestKey;
    const QString earlier = m_profileByRequestKey.value(keyed);
    for (const DevProfile &profile : std::as_const(m_profiles)) {
        if (!earlier.isEmpty() && profile.id == earlier)
            return object(200, profileJson(profile));
    }

    const DevAccount *account = accountById(caller.accountId);
    if (!account)
        return error(401, u"UNAUTHORIZED"_s, u"Sign in to continue."_s);
    const bool freeTier = effectiveTier(*account) == u"free";
    const DevServer *server = nullptr;
    if (!serverId.isEmpty()) {
        server = usableServer(serverId);
        if (!server)
            return error(400, u"SERVER_UNAVAILABLE"_s, u"This server is not available."_s);
        if (freeTier && server->tier != u"free")
            return error(403, u"PLAN_REQUIRED"_s, u"This server needs a paid plan."_s);
    } else {
        for (const DevServer &candidate : std::as_const(m_servers)) {
            if (!server && usableServer(candidate.id) && (!freeTier || candidate.tier == u"free"))
                server = &candidate;
        }
        if (!server)
            return error(503, u"NO_SERVER"_s, u"No server is available right now."_s);
    }

    // One profile per device and server: a new key for a server this device already has returns it.
    for (const DevProfile &profile : std::as_const(m_profiles)) {
        if (profile.deviceId == caller.deviceId && profile.serverId == server->id &&
            !profile.revoked) {
            m_profileByRequestKey.insert(keyed, profile.id);
            return object(200, profileJson(profile));
        }
    }
    DevProfile created;
    created.id = DevSeed::randomId(u"vp_"_s);
    created.accountId = caller.accountId;
    created.deviceId = caller.deviceId;
    created.serverId = server->id;
    created.name = name;
    created.requestKey = requestKey;
    created.uuid = DevSeed::randomUuid();
    created.shortId = DevSeed::randomShortId();
    created.createdAt = QDateTime::currentDateTimeUtc();
    m_profiles.append(created);
    m_profileByRequestKey.insert(keyed, created.id);
    return object(201, profileJson(created));
}

DevReply DevBackendState::profile(const DevCaller &caller, const QString &profileId) const
{
    for (const DevProfile &profile : m_profiles) {
        if (profile.id == profileId && profile.accountId == caller.accountId)
            return object(200, profileJson(profile));
    }
    return error(404, u"NOT_FOUND"_s, u"No such VPN profile."_s);
}

DevReply DevBackendState::deleteProfile(const DevCaller &caller, const QString &profileId)
{
    const auto found =
        std::find_if(m_profiles.begin(), m_profiles.end(), [&](const DevProfile &profile) {
            return profile.id == profileId && profile.accountId == caller.accountId;
        });
    if (found == m_profiles.end())
        return error(404, u"NOT_FOUND"_s, u"No such VPN profile."_s);
    m_profiles.erase(found);
    m_profileByRequestKey.removeIf(
        [&profileId](const auto &entry) { return entry.value() == profileId; });
    return object(200, QJsonObject{{u"deleted"_s, true}});
}

void DevBackendState::revokeProfiles(const QString &deviceId)
{
    for (DevProfile &profile : m_profiles) {
        if (profile.deviceId == deviceId) {
            profile.revoked = true;
            profile.active = false;
        }
    }
}

void DevBackendState::requireMigration(const QString &deviceId)
{
    for (DevProfile &profile : m_profiles) {
        if (profile.deviceId == deviceId)
            profile.migrationRequired = true;
    }
}

void DevBackendState::setServerEnabled(const QString &serverId, bool enabled)
{
    for (DevServer &server : m_servers) {
        if (server.id == serverId)
            server.enabled = enabled;
    }
}

QStringList DevBackendState::serverIds() const
{
    QStringList ids;
    for (const DevServer &server : m_servers)
        ids.append(server.id);
    return ids;
}

int DevBackendState::profileCount(const QString &deviceId) const
{
    return int(std::count_if(m_profiles.cbegin(), m_profiles.cend(),
                             [&deviceId](const DevProfile &p) { return p.deviceId == deviceId; }));
}
