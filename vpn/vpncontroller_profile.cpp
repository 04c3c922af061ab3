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
#include "tunneladapter.h"

#include <QCryptographicHash>
#include <QPointer>
#include <QUuid>

namespace {

// Discovery gives up paging here and asks for a new profile instead.
constexpr int lastDiscoveryPage = 1000;

QByteArray sha256Hex(const QString &text)
{
    return QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex();
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
        const QString tunnel = m_profile.tunnelName();
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
    readProfileState(bytes, m_profile, m_pendingProfile);
    secretwipe::wipe(bytes);
}

bool VpnController::saveState()
{
    bool saved = false;
    if (!m_storageKey.isEmpty()) {
        QByteArray bytes = profileStateText(m_profile, m_pendingProfile);
        saved = protectedstore::writeProtected(m_storageKey, bytes);
        secretwipe::wipe(bytes);
    }
    if (!saved)
        fail(QStringLiteral("Could not securely save your VPN profile. Please try again."));
    return saved;
}

bool VpnController::isBoundToDevice(const VpnProfile &record) const
{
    return !m_accountDeviceId.isEmpty() && record.accountDeviceId() == m_accountDeviceId;
}

void VpnController::adoptProfile()
{
    m_profile.setTunnelName(tunnelNameFor(m_storageKey, m_profile.id()));
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
    if (!api::accessRecord(reply).plan.enabled) {
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
    VpnProfile found;
    for (const QJsonValue &item : items) {
        const VpnProfile record(item.toObject());
        if (!isBoundToDevice(record) || record.revoked() || record.migrationRequired() ||
            record.id().isEmpty())
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
        if (otherServer || !found.active().value_or(false)) {
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
    m_pendingProfile = {api::deviceName(m_hostName ? m_hostName() : QString()),
                        QUuid::createUuid().toString(QUuid::WithoutBraces), m_targetServerId};
    submit();
}

void VpnController::submit()
{
    // The request key must be on disk before the request leaves: a lost reply is then repeated
    // with the same key, and the backend hands back the profile it already made.
    if (!saveState())
        return;
    const QJsonObject body = m_pendingProfile.toJson();
    request("POST", QString(backend::vpnProfiles), body, [this](const QJsonObject &reply) {
        VpnProfile created = VpnProfile::fromReply(reply);
        if (!isBoundToDevice(created)) {
            fail(
                QStringLiteral("The VPN profile belongs to another device. Please sign in again."));
            return;
        }
        if (created.id().isEmpty()) {
            fail(QStringLiteral(
                "The server did not return a profile ID. Retrying will keep the same request."));
            return;
        }
        created.setMissingServerId(m_pendingProfile.serverId);
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
    send("GET", backend::vpnProfile(m_profile.id()), {}, [this](const ApiResult &result) {
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
    const VpnProfile fetched = VpnProfile::fromReply(body);
    if (!isBoundToDevice(fetched) || fetched.migrationRequired()) {
        fail(QStringLiteral("This profile is not bound to this device. Please sign in again."));
        return;
    }
    if (fetched.revoked()) {
        // Revoked profiles are dropped locally only; the backend keeps its record.
        clearProfileAndRediscover();
        return;
    }
    if (!fetched.active().value_or(false)) {
        m_switchTargetId = m_targetServerId;
        replaceProfile();
        return;
    }
    m_profile.merge(fetched);
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
    const QString path = backend::vpnProfile(m_profile.id());
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
