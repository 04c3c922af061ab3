#include "ui/clientservices.h"

#include "vpn/windowsvless.h"

#include <QDesktopServices>

namespace {

constexpr int latencySweepIntervalMs = 30000;

} // namespace

ClientServices::ClientServices(std::unique_ptr<TunnelAdapter> adapter, Lookups lookups,
                               QObject *parent)
    : QObject(parent)
    , m_lookups(lookups)
    , m_urlOpener([](const QUrl &url) { return QDesktopServices::openUrl(url); })
    , m_session(m_api)
    , m_adapter(adapter ? std::move(adapter) : std::make_unique<WindowsVless>())
    , m_controller(m_api, *m_adapter)
    , m_catalogue(m_api)
    , m_geolocator(m_catalogue)
    , m_clientLog(m_api, m_session, m_catalogue, *m_adapter, m_controller)
{
    m_geolocator.setEnabled(lookupsEnabled());
    connect(&m_catalogue, &ServerCatalogue::loaded, this, [this] {
        m_controller.setServers(m_catalogue.servers());
        m_geolocator.startAddressLookups();
        startLatencySweep();
    });
    connect(&m_session, &Session::changed, this, [this](bool authenticated) {
        if (!authenticated) {
            m_latencyProbe.stop();
            m_geolocator.forgetAddresses();
            m_catalogue.clear();
        }
    });
    m_sweepTimer.setInterval(latencySweepIntervalMs);
    connect(&m_sweepTimer, &QTimer::timeout, this, &ClientServices::startPeriodicSweep);
    m_sweepTimer.start();
}

// The controller stops using the adapter before the adapter goes: members end in reverse order.
ClientServices::~ClientServices() = default;

void ClientServices::lookUpOwnLocation()
{
    // Through a running tunnel the lookup would find the VPN's exit: it waits for the first
    // report that no tunnel of ours runs.
    if (m_controller.managedTunnel().isEmpty()) {
        m_geolocator.loadOwnLocation();
        return;
    }
    m_ownLocationWait = connect(m_adapter.get(), &TunnelAdapter::stateChanged, this,
                                [this](const ConnectionState &state) {
                                    // An unreadable service state says nothing about the tunnel.
                                    if (state.phase == ConnectionState::Phase::NotConnected) {
                                        disconnect(m_ownLocationWait);
                                        m_geolocator.loadOwnLocation();
                                    }
                                });
}

void ClientServices::startLatencySweep()
{
    if (lookupsEnabled()) {
        m_latencyProbe.start(m_catalogue.servers());
    }
}

void ClientServices::startPeriodicSweep()
{
    if (lookupsEnabled() && m_session.authenticated() && !m_controller.connecting() &&
        !m_controller.busy()) {
        m_latencyProbe.startIfIdle(m_catalogue.servers());
    }
}
