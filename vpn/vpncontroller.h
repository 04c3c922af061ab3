#pragma once

#include "api/backendrecords.h"
#include "vpn/connectionstate.h"
#include "vpn/vpnprofile.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>

class ApiClient;
struct ApiResult;
class QTimer;
class TunnelAdapter;

// Obtains this device's VPN profile from the backend and runs connections through the tunnel
// adapter. The profile and a creation request the backend has not confirmed yet are kept in a
// protected file per account, so a restart neither loses a profile nor creates a second one.
class VpnController : public QObject
{
    Q_OBJECT

public:
    using HostNameSource = std::function<QString()>;

    static constexpr int pollIntervalMs = 3000;

    VpnController(ApiClient &api, TunnelAdapter &adapter, QObject *parent = nullptr);

    // Called on every session change; two empty ids mean signed out.
    void setAccount(const QString &apiUrl, const QString &userId, const QString &accountDeviceId);
    // An empty id lets the backend choose the server, or repeats a pending creation request.
    void connectVpn(const QString &serverId);
    void switchServer(const QString &serverId);
    void disconnectVpn();
    QString currentServerId() const;
    // The endpoint of the current profile's tunnel; empty when its connection does not parse.
    QString currentEndpoint() const;
    // The full server catalogue after each complete load. A copy, not the catalogue itself: the
    // catalogue lives above this layer, and the copy's arrival is what tells listeners of changed()
    // that server names can be shown.
    void setServers(const QList<api::ServerRecord> &servers);

    const VpnProfile &profile() const { return m_profile; }
    const PendingProfile &pendingProfile() const { return m_pendingProfile; }
    const QList<api::ServerRecord> &servers() const { return m_servers; }
    QString storageKey() const { return m_storageKey; }
    QString managedTunnel() const { return m_managedTunnel; }
    QString accountDeviceId() const { return m_accountDeviceId; }
    QDateTime connectedSince() const { return m_state.since; }

    // The connection as the window shows it; while the tunnel runs, its server is the current
    // profile's.
    ConnectionState state() const;
    bool connecting() const { return m_state.phase == ConnectionState::Phase::Connecting; }
    bool busy() const { return m_busy; }
    // The tunnel runs, also while it is being stopped or brought back.
    bool running() const;
    bool starting() const { return m_starting; }
    bool switchAfterStop() const { return m_switchAfterStop; }
    bool disconnecting() const { return m_state.phase == ConnectionState::Phase::Disconnecting; }
    // The tunnel dropped for good and its service holds traffic back until a reconnect or a stop.
    bool blocked() const { return m_state.phase == ConnectionState::Phase::Blocked; }
    bool accountApplied() const { return m_accountApplied; }

    // Tests shorten the poll and replace the machine's host name.
    void setPollInterval(int milliseconds);
    int pollInterval() const;
    void setHostNameSource(HostNameSource source);

    // "vless_device_" + SHA-256 hex of apiUrl|userId|accountDeviceId.
    static QString storageKeyFor(const QString &apiUrl, const QString &userId,
                                 const QString &accountDeviceId);
    // "tnel_" + the first 20 hex digits of SHA-256 of storageKey + profileId.
    static QString tunnelNameFor(const QString &storageKey, const QString &profileId);

signals:
    void changed();
    void status(const QString &message);
    void error(const QString &message);
    void startFailed(const QString &message);
    // A connect ended before the tunnel came up, for a reason found before starting it.
    void connectFailed(const QString &message);
    // The tunnel stopped without anyone asking.
    void stoppedUnexpectedly(const QString &message);
    void serverChangeRequired(const QString &serverId);

private:
    using SuccessHandler = std::function<void(const QJsonObject &body)>;
    using ResultHandler = std::function<void(const ApiResult &result)>;

    // Connection state machine.
    void onAdapterStateChanged(const ConnectionState &report);
    void onAdapterFailed(const QString &message);
    void onAdapterBusyChanged(bool busy);
    void poll();
    bool foreignTunnelRunning() const;
    void updateStartTime(bool isRunning, bool unknown);
    // Ends a connect or switch under way: Connected while the tunnel still runs, else
    // NotConnected.
    void leaveConnecting();
    void applyProfile();
    void fail(const QString &message);

    // Profile lifecycle.
    void continueAfterAccessCheck(const QJsonObject &reply);
    // Authenticated; the handler runs only while the account it was issued under is current.
    void send(const QByteArray &method, const QString &path, const QJsonObject &body,
              ResultHandler onResult);
    // send() that turns any unsuccessful result into fail().
    void request(const QByteArray &method, const QString &path, const QJsonObject &body,
                 SuccessHandler onSuccess);
    void failFor(const QString &path, const ApiResult &result);
    void discoverProfile(int page);
    void handleDiscoveryPage(int page, const QJsonObject &body);
    void submit();
    void fetchExisting();
    void handleFetchedProfile(const QJsonObject &body);
    void replaceProfile();
    void startCreation();
    void adoptProfile();
    bool isBoundToDevice(const VpnProfile &record) const;
    bool saveState();
    void loadState();
    void clearProfileAndRediscover();

    ApiClient &m_api;
    TunnelAdapter &m_adapter;
    QString m_storageKey;
    QString m_managedTunnel;
    QString m_accountDeviceId;
    VpnProfile m_profile;
    PendingProfile m_pendingProfile;
    // Phase and start; the server is filled in when read.
    ConnectionState m_state;
    QList<api::ServerRecord> m_servers;
    bool m_busy = false;
    bool m_starting = false;
    bool m_switchAfterStop = false;
    bool m_accountApplied = false;
    QString m_targetServerId;
    QString m_switchTargetId;
    quint64 m_generation = 0;

    QTimer *m_pollTimer;
    HostNameSource m_hostName;
};
