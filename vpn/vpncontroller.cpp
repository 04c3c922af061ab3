#include "vpncontroller.h"

#include "api/backendcatalogue.h"
#include "api/replyrules.h"
#include "common/tunnelprofile.h"
#include "profilerecord.h"
#include "settings/settingskeys.h"
#include "tunneladapter.h"

#include <QSysInfo>
#include <QTimer>

#include <optional>

namespace {

const QString connectingText = QStringLiteral("Connecting\u2026");
const QString disconnectingText = QStringLiteral("Disconnecting\u2026");
const QString failedText = QStringLiteral("Connection failed");
const QString unknownText = QStringLiteral("VPN status unknown");
const QString notConnectedText = QStringLiteral("Not connected");

} // namespace

VpnController::VpnController(ApiClient &api, TunnelAdapter &adapter, QObject *parent)
    : QObject(parent)
    , m_api(api)
    , m_adapter(adapter)
    , m_managedTunnel(settings::managedVlessTunnel())
    , m_pollTimer(new QTimer(this))
    , m_hostName([] { return QSysInfo::machineHostName(); })
{
    connect(&m_adapter, &TunnelAdapter::stateChanged, this, &VpnController::onAdapterStateChanged);
    connect(&m_adapter, &TunnelAdapter::failed, this, &VpnController::onAdapterFailed);
    connect(&m_adapter, &TunnelAdapter::busyChanged, this, &VpnController::onAdapterBusyChanged);
    connect(m_pollTimer, &QTimer::timeout, this, &VpnController::poll);
    m_pollTimer->start(pollIntervalMs);
    // A tunnel left running by an earlier run of the client is recognised at once.
    if (!m_managedTunnel.isEmpty())
        m_adapter.refresh(m_managedTunnel);
}

void VpnController::setPollInterval(int milliseconds)
{
    m_pollTimer->start(milliseconds);
}

int VpnController::pollInterval() const
{
    return m_pollTimer->interval();
}

void VpnController::setHostNameSource(HostNameSource source)
{
    m_hostName = std::move(source);
}

void VpnController::setServers(const QJsonArray &servers)
{
    m_servers = servers;
    emit changed();
}

QString VpnController::currentServerId() const
{
    const QString stored = api::jsonText(m_profile.value(profilerecord::serverId));
    if (!stored.isEmpty() || m_profile.isEmpty())
        return stored;
    const QString endpoint = currentEndpoint();
    if (endpoint.isEmpty())
        return {};
    for (const QJsonValue &server : m_servers) {
        const QJsonObject record = server.toObject();
        const QJsonValue serverEndpoint = record.value(QLatin1String("endpoint"));
        if (serverEndpoint.isString() && serverEndpoint.toString() == endpoint)
            return api::jsonText(record.value(profilerecord::id));
    }
    return {};
}

QString VpnController::currentEndpoint() const
{
    std::optional<TunnelProfile> tunnel =
        parseTunnelProfile(m_profile.value(profilerecord::connection).toObject());
    if (!tunnel)
        return {};
    const QString endpoint = tunnel->endpoint;
    // The rest of the parsed profile is a credential.
    wipeTunnelProfile(*tunnel);
    return endpoint;
}

void VpnController::connectVpn(const QString &serverId)
{
    if (m_connecting || m_busy || m_storageKey.isEmpty())
        return;
    if (!serverId.isEmpty() && !m_pendingProfile.isEmpty() &&
        api::jsonText(m_pendingProfile.value(profilerecord::serverId)) != serverId) {
        emit error(QStringLiteral(
            "A profile request is still pending. Use Quick connect to retry the same request."));
        return;
    }
    if (!serverId.isEmpty() && !m_profile.isEmpty() && currentServerId() != serverId) {
        emit serverChangeRequired(serverId);
        return;
    }
    if (m_running)
        return;
    m_targetServerId = serverId;
    m_connecting = true;
    emit changed();
    emit status(connectingText);
    request("GET", QString(backend::accessMe), {},
            [this](const QJsonObject &reply) { continueAfterAccessCheck(reply); });
}

void VpnController::switchServer(const QString &serverId)
{
    if (m_connecting || m_busy || m_storageKey.isEmpty() || serverId.isEmpty())
        return;
    if (m_profile.isEmpty()) {
        connectVpn(serverId);
        return;
    }
    m_switchTargetId = serverId;
    if (m_running) {
        m_switchAfterStop = true;
        m_connecting = true;
        emit changed();
        m_adapter.stop(m_managedTunnel);
        return;
    }
    replaceProfile();
}

void VpnController::disconnectVpn()
{
    if (m_busy || m_managedTunnel.isEmpty())
        return;
    m_disconnecting = true;
    emit status(disconnectingText);
    m_adapter.stop(m_managedTunnel);
}

void VpnController::poll()
{
    if (!m_busy && !m_connecting && !m_managedTunnel.isEmpty())
        m_adapter.refresh(m_managedTunnel);
}

void VpnController::applyProfile()
{
    if (!isBoundToDevice(m_profile)) {
        fail(QStringLiteral("The VPN profile is not bound to this device."));
        return;
    }
    const QJsonValue active = m_profile.value(profilerecord::active);
    if (m_profile.value(profilerecord::revoked).toBool() ||
        (!active.isUndefined() && active != QJsonValue(true))) {
        fail(QStringLiteral("The VPN profile is disabled on the server."));
        return;
    }
    const QJsonValue syncStatus = m_profile.value(profilerecord::syncStatus);
    if (!syncStatus.isUndefined() && syncStatus != QJsonValue(QStringLiteral("synced"))) {
        fail(QStringLiteral("The server gateway is not ready yet. Your profile is saved; try "
                            "connecting again shortly."));
        return;
    }
    std::optional<TunnelProfile> tunnel =
        parseTunnelProfile(m_profile.value(profilerecord::connection).toObject());
    if (!tunnel) {
        m_connecting = false;
        emit changed();
        emit status(failedText);
        emit startFailed(QStringLiteral(
            "The server returned an invalid VLESS/REALITY profile. Your profile is saved."));
        return;
    }
    m_managedTunnel = m_profile.value(profilerecord::tunnelName).toString();
    settings::setManagedVlessTunnel(m_managedTunnel);
    m_starting = true;
    m_adapter.start(m_managedTunnel, *tunnel);
    // The adapter keeps its own copy; the link is a credential.
    wipeTunnelProfile(*tunnel);
}

void VpnController::fail(const QString &message)
{
    m_connecting = false;
    m_starting = false;
    emit changed();
    emit status(failedText);
    emit error(message);
    emit connectFailed(message);
}

void VpnController::onAdapterBusyChanged(bool busy)
{
    m_busy = busy;
    emit changed();
}

void VpnController::onAdapterFailed(const QString &message)
{
    const bool awaitedStart = m_starting;
    m_disconnecting = false;
    m_switchAfterStop = false;
    m_starting = false;
    m_connecting = false;
    emit changed();
    emit status(failedText);
    if (awaitedStart && !m_profile.isEmpty())
        emit startFailed(message);
    else
        emit error(message);
}

bool VpnController::foreignTunnelRunning() const
{
    return m_running && m_accountApplied &&
           (m_storageKey.isEmpty() ||
            m_profile.value(profilerecord::tunnelName).toString() != m_managedTunnel);
}

void VpnController::updateStartTime(bool isRunning, bool unknown)
{
    if (!isRunning) {
        // An unreadable service state says nothing about the connection: keep its start.
        if (!unknown && (m_connectedSince.isValid() || settings::connectionStartedAt().isValid())) {
            m_connectedSince = QDateTime();
            settings::removeConnectionStartedAt();
        }
        return;
    }
    if (m_running)
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime stored = settings::connectionStartedAt();
    m_connectedSince = stored.isValid() && stored <= now ? stored : now;
    settings::setConnectionStartedAt(m_connectedSince);
}

void VpnController::onAdapterStateChanged(const QString &text, bool isRunning)
{
    const bool unknown = text.contains(QLatin1String("unknown"));
    const bool unexpectedStop = m_running && !isRunning && !m_disconnecting && !m_switchAfterStop &&
                                !m_starting && !m_busy && !unknown;
    updateStartTime(isRunning, unknown);
    m_running = isRunning;

    if (foreignTunnelRunning()) {
        // Deferred, so the report finishes first; the test is repeated in case the account or
        // profile changed meanwhile.
        QTimer::singleShot(0, this, [this] {
            if (foreignTunnelRunning())
                disconnectVpn();
        });
    }
    if (!m_busy)
        m_disconnecting = false;
    if (m_switchAfterStop && !m_running && !m_busy && !unknown) {
        m_switchAfterStop = false;
        replaceProfile();
        return;
    }
    const bool startFailure = m_starting && !m_running && !m_busy;
    if (!m_busy) {
        m_connecting = false;
        m_starting = false;
    }
    emit status(m_running ? connectedText() : (unknown ? unknownText : notConnectedText));
    emit changed();
    if (startFailure)
        emit startFailed(QStringLiteral("The VPN service did not start. Try connecting again."));
    else if (unexpectedStop) {
        const QString message = QStringLiteral(
            "The VPN tunnel stopped unexpectedly. Reconnect or choose another server.");
        emit error(message);
        emit stoppedUnexpectedly(message);
    }
}

QString VpnController::connectedText()
{
    return QStringLiteral("Connected \u00b7 VLESS + REALITY");
}
