#include "vpncontroller.h"

#include "api/backendcatalogue.h"
#include "common/tunnelprofile.h"
#include "settings/settingskeys.h"
#include "tunneladapter.h"

#include <QSysInfo>
#include <QTimer>

#include <optional>

namespace {

using Phase = ConnectionState::Phase;

const QString failedText = QStringLiteral("Connection failed");

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

void VpnController::setServers(const QList<api::ServerRecord> &servers)
{
    m_servers = servers;
    emit changed();
}

ConnectionState VpnController::state() const
{
    ConnectionState shown = m_state;
    if (running())
        shown.serverId = currentServerId();
    return shown;
}

bool VpnController::running() const
{
    switch (m_state.phase) {
    case Phase::Connected:
    // The service keeps running while it brings the tunnel back; a stop ends it as any other.
    case Phase::Reconnecting:
    case Phase::Disconnecting:
        return true;
    case Phase::Connecting:
        // A switch first stops the tunnel it replaces.
        return m_switchAfterStop;
    default:
        return false;
    }
}

QString VpnController::currentServerId() const
{
    const QString &stored = m_profile.serverId();
    if (!stored.isEmpty() || m_profile.isEmpty())
        return stored;
    const QString endpoint = currentEndpoint();
    if (endpoint.isEmpty())
        return {};
    for (const api::ServerRecord &server : m_servers) {
        if (server.endpoint == endpoint)
            return server.id;
    }
    return {};
}

QString VpnController::currentEndpoint() const
{
    std::optional<TunnelProfile> tunnel = parseTunnelProfile(m_profile.connection());
    if (!tunnel)
        return {};
    const QString endpoint = tunnel->endpoint;
    // The rest of the parsed profile is a credential.
    wipeTunnelProfile(*tunnel);
    return endpoint;
}

void VpnController::connectVpn(const QString &serverId)
{
    if (connecting() || m_busy || m_storageKey.isEmpty())
        return;
    if (!serverId.isEmpty() && !m_pendingProfile.isEmpty() &&
        m_pendingProfile.serverId != serverId) {
        emit error(QStringLiteral(
            "A profile request is still pending. Use Quick connect to retry the same request."));
        return;
    }
    if (!serverId.isEmpty() && !m_profile.isEmpty() && currentServerId() != serverId) {
        emit serverChangeRequired(serverId);
        return;
    }
    if (running())
        return;
    // A reconnect after a block replaces it: the new service puts its own up first.
    m_targetServerId = serverId;
    m_state.phase = Phase::Connecting;
    emit changed();
    emit status(m_state.statusText());
    request("GET", QString(backend::accessMe), {},
            [this](const QJsonObject &reply) { continueAfterAccessCheck(reply); });
}

void VpnController::switchServer(const QString &serverId)
{
    if (connecting() || m_busy || m_storageKey.isEmpty() || serverId.isEmpty())
        return;
    if (m_profile.isEmpty()) {
        connectVpn(serverId);
        return;
    }
    m_switchTargetId = serverId;
    if (running()) {
        m_switchAfterStop = true;
        m_state.phase = Phase::Connecting;
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
    m_state.phase = Phase::Disconnecting;
    emit status(m_state.statusText());
    m_adapter.stop(m_managedTunnel);
}

void VpnController::poll()
{
    if (!m_busy && !connecting() && !m_managedTunnel.isEmpty())
        m_adapter.refresh(m_managedTunnel);
}

void VpnController::applyProfile()
{
    if (!isBoundToDevice(m_profile)) {
        fail(QStringLiteral("The VPN profile is not bound to this device."));
        return;
    }
    if (m_profile.revoked() || !m_profile.active().value_or(true)) {
        fail(QStringLiteral("The VPN profile is disabled on the server."));
        return;
    }
    if (!m_profile.gatewayReady()) {
        fail(QStringLiteral("The server gateway is not ready yet. Your profile is saved; try "
                            "connecting again shortly."));
        return;
    }
    std::optional<TunnelProfile> tunnel = parseTunnelProfile(m_profile.connection());
    if (!tunnel) {
        leaveConnecting();
        emit changed();
        emit status(failedText);
        emit startFailed(QStringLiteral(
            "The server returned an invalid VLESS/REALITY profile. Your profile is saved."));
        return;
    }
    m_managedTunnel = m_profile.tunnelName();
    settings::setManagedVlessTunnel(m_managedTunnel);
    m_starting = true;
    m_adapter.start(m_managedTunnel, *tunnel);
    // The adapter keeps its own copy; the link is a credential.
    wipeTunnelProfile(*tunnel);
}

void VpnController::leaveConnecting()
{
    if (connecting())
        m_state.phase = running() ? Phase::Connected : Phase::NotConnected;
}

void VpnController::fail(const QString &message)
{
    leaveConnecting();
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
    // A stop that failed leaves the tunnel up.
    if (disconnecting())
        m_state.phase = Phase::Connected;
    leaveConnecting();
    m_switchAfterStop = false;
    m_starting = false;
    emit changed();
    emit status(failedText);
    if (awaitedStart && !m_profile.isEmpty())
        emit startFailed(message);
    else
        emit error(message);
}

bool VpnController::foreignTunnelRunning() const
{
    return running() && m_accountApplied &&
           (m_storageKey.isEmpty() || m_profile.tunnelName() != m_managedTunnel);
}

void VpnController::updateStartTime(bool isRunning, bool unknown)
{
    if (!isRunning) {
        // An unreadable service state says nothing about the connection: keep its start.
        if (!unknown && (m_state.since.isValid() || settings::connectionStartedAt().isValid())) {
            m_state.since = QDateTime();
            settings::removeConnectionStartedAt();
        }
        return;
    }
    if (running())
        return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDateTime stored = settings::connectionStartedAt();
    m_state.since = stored.isValid() && stored <= now ? stored : now;
    settings::setConnectionStartedAt(m_state.since);
}

void VpnController::onAdapterStateChanged(const ConnectionState &report)
{
    const bool isRunning = report.phase == Phase::Connected || report.phase == Phase::Reconnecting;
    const bool unknown = report.phase == Phase::Unknown;
    const bool unexpectedStop = running() && !isRunning && !disconnecting() && !m_switchAfterStop &&
                                !m_starting && !m_busy && !unknown;
    updateStartTime(isRunning, unknown);
    // A connect or stop under way keeps its phase until the adapter is idle again.
    if (!m_busy || !(connecting() || disconnecting())) {
        m_state.phase = report.phase;
        m_state.attempt = report.attempt;
    }

    if (foreignTunnelRunning()) {
        // Deferred, so the report finishes first; the test is repeated in case the account or
        // profile changed meanwhile.
        QTimer::singleShot(0, this, [this] {
            if (foreignTunnelRunning())
                disconnectVpn();
        });
    }
    if (m_switchAfterStop && !isRunning && !m_busy && !unknown) {
        m_switchAfterStop = false;
        replaceProfile();
        return;
    }
    const bool startFailure = m_starting && !isRunning && !m_busy;
    if (!m_busy)
        m_starting = false;
    emit status(report.statusText());
    emit changed();
    if (startFailure)
        emit startFailed(QStringLiteral("The VPN service did not start. Try connecting again."));
    else if (unexpectedStop && report.phase == Phase::Blocked) {
        // The status line says it; the tray tells a hidden window.
        emit stoppedUnexpectedly(report.statusText());
    } else if (unexpectedStop) {
        const QString message = QStringLiteral(
            "The VPN tunnel stopped unexpectedly. Reconnect or choose another server.");
        emit error(message);
        emit stoppedUnexpectedly(message);
    }
}
