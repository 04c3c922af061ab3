// The profile half of VpnController: finding, creating, fetching, replacing and storing this
// device's VPN profile.
#include "vpncontroller.h"

#include "api/apiclient.h"
#include "api/backendcatalogue.h"
#include "api/devicecredentials.h"
#include "api/failuremessages.h"
#include "api/replyrules.h"
#include "common/protectedstore.h"
#include "common/secretwipe.h"
#include "profilerecord.h"
#include "tunneladapter.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QPointer>
#include <QUuid>

namespace {

// Discovery gives up paging here and asks for a new profile instead.
constexpr int lastDiscoveryPage = 1000;

QByteArray sha256Hex(const QString &text)
{
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex();
}

// The profile inside a creation or fetch reply, which some backends nest under "profile" or
// "device" (the latter with the connection beside it).
QJsonObject extractProfile(const QJsonObject &reply)
{
    const QJsonObject outer = api::unwrapData(reply);
    const QJsonValue profile = outer.value(QLatin1String("profile"));
    if (profile.isObject())
        return api::unwrapData(profile.toObject());
    const QJsonValue device = outer.value(QLatin1String("device"));
    if (device.isObject()) {
        QJsonObject record = api::unwrapData(device.toObject());
        if (!record.contains(profilerecord::connection))
            record.insert(profilerecord::connection, outer.value(profilerecord::connection));
        return record;
    }
    return outer;
}

QString idOf(const QJsonObject &record)
{
    return api::jsonText(record.value(profilerecord::id));
}

} // namespace

QString VpnController::storageKeyFor(const QString &apiUrl, const QString &userId,
                                     const QString &accountDeviceId)
{
    return QStringLiteral("vless_device_") +
           QString::fromLatin1(sha256Hex(apiUrl + u'|' + userId + u'|' + accountDeviceId));
}

QString VpnController::tunnelNameFor(const QString &storageKey, const QString &profileId)
{
    return QStringLiteral("tnel_") +
           QString::fromLatin1(sha256Hex(storageKey + profileId).left(20));
}

void VpnController::setAccount(const QString &apiUrl, const QString &userId,
                               const QString &accountDeviceId)
{
    m_accountApplied = true;
    ++m_generation;
    leaveConnecting();
    m_starting = false;
    m_switchAfterStop = false;
    m_storageKey.clear();
    m_profile = {};
    m_pendingProfile = {};
    m_accountDeviceId = accountDeviceId;

    if (!userId.isEmpty() && !accountDeviceId.isEmpty()) {
        m_storageKey = storageKeyFor(apiUrl, userId, accountDeviceId);
        loadState();
        if (!m_profile.isEmpty() && !isBoundToDevice(m_profile)) {
            m_profile = {};
            m_pendingProfile = {};
        }
        const QString tunnel = m_profile.value(profilerecord::tunnelName).toString();
        if (running() && tunnel != m_managedTunnel)
            disconnectVpn();
        if (!running() && !m_busy)
            m_managedTunnel = tunnel;
        if (!m_managedTunnel.isEmpty())
            m_adapter.refresh(m_managedTunnel);
    } else if (running()) {
        disconnectVpn();
    }
    emit changed();
}

void VpnController::loadState()
{
    QByteArray bytes = protectedstore::readProtected(m_storageKey);
    const QJsonObject state = QJsonDocument::fromJson(bytes).object();
    secretwipe::wipe(bytes);
    m_profile = state.value(profilerecord::local).toObject();
    m_pendingProfile = state.value(profilerecord::pendingProfile).toObject();
}

bool VpnController::saveState()
{
    bool saved = false;
    if (!m_storageKey.isEmpty()) {
        QByteArray bytes =
            QJsonDocument(QJsonObject{{profilerecord::local, m_profile},
                                      {profilerecord::pendingProfile, m_pendingProfile}})
                .toJson(QJsonDocument::Compact);
        saved = protectedstore::writeProtected(m_storageKey, bytes);
        secretwipe::wipe(bytes);
    }
    if (!saved)
        fail(QStringLiteral("Could not securely save your VPN profile. Please try again."));
    return saved;
}

bool VpnController::isBoundToDevice(const QJsonObject &record) const
{
    return !m_accountDeviceId.isEmpty() &&
           api::jsonText(record.value(profilerecord::accountDeviceId)) == m_accountDeviceId;
}

void VpnController::adoptProfile()
{
    m_profile.insert(profilerecord::tunnelName, tunnelNameFor(m_storageKey, idOf(m_profile)));
}

void VpnController::send(const QByteArray &method, const QString &path, const QJsonObject &body,
                         ResultHandler onResult)
{
    const quint64 issued = m_generation;
    const QPointer<VpnController> self(this);
    m_api.request(method, path, body, true,
                  [self, issued, onResult = std::move(onResult)](const ApiResult &result) {
                      // A reply issued for an earlier account must have no effect at all.
                      if (self && self->m_generation == issued)
                          onResult(result);
                  });
}

void VpnController::failFor(const QString &path, const ApiResult &result)
{
    if (result.status == 400 && path.startsWith(backend::vpnProfiles))
        fail(QStringLiteral(
            "Could not set up this VPN connection. Try another server or contact support."));
    else
        fail(api::failureMessage(result.status, result.cancelled));
}

void VpnController::request(const QByteArray &method, const QString &path, const QJsonObject &body,
                            SuccessHandler onSuccess)
{
    send(method, path, body,
         [this, path, onSuccess = std::move(onSuccess)](const ApiResult &result) {
             if (result.successful())
                 onSuccess(result.body);
             else
                 failFor(path, result);
         });
}

void VpnController::continueAfterAccessCheck(const QJsonObject &reply)
{
    const QJsonValue plan = api::unwrapData(reply).value(QLatin1String("plan"));
    if (!plan.isObject() || plan.toObject().value(QLatin1String("enabled")) != QJsonValue(true)) {
        fail(QStringLiteral("VPN access is currently unavailable. Please contact support."));
        return;
    }
    if (!m_profile.isEmpty())
        fetchExisting();
    else if (!m_pendingProfile.isEmpty())
        submit();
    else
        discoverProfile(1);
}

void VpnController::discoverProfile(int page)
{
    request("GET", backend::vpnProfilesPage(page), {},
            [this, page](const QJsonObject &body) { handleDiscoveryPage(page, body); });
}

void VpnController::handleDiscoveryPage(int page, const QJsonObject &body)
{
    const QJsonArray items = api::pageItems(body);
    QJsonObject found;
    for (const QJsonValue &item : items) {
        const QJsonObject record = item.toObject();
        if (!isBoundToDevice(record) || record.value(profilerecord::revoked).toBool() ||
            record.value(profilerecord::migrationRequired).toBool() || idOf(record).isEmpty())
            continue;
        found = record;
        break;
    }
    if (!found.isEmpty()) {
        m_profile = found;
        adoptProfile();
        if (!saveState())
            return;
        const bool otherServer =
            !m_targetServerId.isEmpty() && m_targetServerId != currentServerId();
        if (otherServer || found.value(profilerecord::active) != QJsonValue(true)) {
            m_switchTargetId = m_targetServerId;
            replaceProfile();
        } else {
            applyProfile();
        }
        return;
    }
    if (items.size() == backend::pageSize && page < lastDiscoveryPage) {
        discoverProfile(page + 1);
        return;
    }
    startCreation();
}

void VpnController::startCreation()
{
    m_pendingProfile = QJsonObject{
        {profilerecord::name, api::deviceName(m_hostName ? m_hostName() : QString())},
        {profilerecord::requestKey, QUuid::createUuid().toString(QUuid::WithoutBraces)}};
    if (!m_targetServerId.isEmpty())
        m_pendingProfile.insert(profilerecord::serverId, m_targetServerId);
    submit();
}

void VpnController::submit()
{
    // The request key must be on disk before the request leaves: a lost reply is then repeated
    // with the same key, and the backend hands back the profile it already made.
    if (!saveState())
        return;
    QJsonObject body{
        {profilerecord::name, m_pendingProfile.value(profilerecord::name)},
        {profilerecord::requestKey, m_pendingProfile.value(profilerecord::requestKey)}};
    if (m_pendingProfile.contains(profilerecord::serverId))
        body.insert(profilerecord::serverId, m_pendingProfile.value(profilerecord::serverId));
    request("POST", QString(backend::vpnProfiles), body, [this](const QJsonObject &reply) {
        QJsonObject created = extractProfile(reply);
        if (!isBoundToDevice(created)) {
            fail(
                QStringLiteral("The VPN profile belongs to another device. Please sign in again."));
            return;
        }
        if (idOf(created).isEmpty()) {
            fail(QStringLiteral(
                "The server did not return a profile ID. Retrying will keep the same request."));
            return;
        }
        if (!created.contains(profilerecord::serverId) &&
            m_pendingProfile.contains(profilerecord::serverId))
            created.insert(profilerecord::serverId,
                           m_pendingProfile.value(profilerecord::serverId));
        m_profile = created;
        adoptProfile();
        m_pendingProfile = {};
        if (saveState())
            applyProfile();
    });
}

void VpnController::fetchExisting()
{
    // Not through request(): a 404 here is an answer, not a failure.
    send("GET", backend::vpnProfile(idOf(m_profile)), {}, [this](const ApiResult &result) {
        if (result.status == 404 && !result.cancelled)
            clearProfileAndRediscover();
        else if (!result.successful())
            fail(api::failureMessage(result.status, result.cancelled));
        else
            handleFetchedProfile(result.body);
    });
}

void VpnController::handleFetchedProfile(const QJsonObject &body)
{
    const QJsonObject fetched = extractProfile(body);
    if (!isBoundToDevice(fetched) || fetched.value(profilerecord::migrationRequired).toBool()) {
        fail(QStringLiteral("This profile is not bound to this device. Please sign in again."));
        return;
    }
    if (fetched.value(profilerecord::revoked).toBool()) {
        // Revoked profiles are dropped locally only; the backend keeps its record.
        clearProfileAndRediscover();
        return;
    }
    if (fetched.value(profilerecord::active) != QJsonValue(true)) {
        m_switchTargetId = m_targetServerId;
        replaceProfile();
        return;
    }
    // Members only the stored record has, such as "tunnelName", stay.
    for (auto member = fetched.begin(); member != fetched.end(); ++member)
        m_profile.insert(member.key(), member.value());
    if (saveState())
        applyProfile();
}

void VpnController::clearProfileAndRediscover()
{
    m_profile = {};
    if (saveState())
        discoverProfile(1);
}

void VpnController::replaceProfile()
{
    m_state.phase = ConnectionState::Phase::Connecting;
    emit changed();
    emit status(QStringLiteral("Switching servers\u2026"));
    const QString path = backend::vpnProfile(idOf(m_profile));
    send("DELETE", path, {}, [this, path](const ApiResult &result) {
        // A profile the backend no longer knows is as good as deleted; failing here would leave
        // the stored record blocking every later server change.
        if (!result.successful() && (result.cancelled || result.status != 404)) {
            failFor(path, result);
            return;
        }
        m_profile = {};
        m_pendingProfile = {};
        // The setting keeps the old name until the next start.
        m_managedTunnel.clear();
        if (!saveState())
            return;
        leaveConnecting();
        connectVpn(m_switchTargetId);
    });
}
