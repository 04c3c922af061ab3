#pragma once

#include "api/apiclient.h"
#include "api/session.h"
#include "locations/geolocator.h"
#include "locations/latencyprobe.h"
#include "locations/servercatalogue.h"
#include "ui/clientlog.h"
#include "vpn/tunneladapter.h"
#include "vpn/vpncontroller.h"

#include <QObject>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

// The objects the window works with, built in this order and kept for the window's life: the
// backend client, the session bound to it, the tunnel adapter, the VPN controller bound to both,
// then the server catalogue with its geolocation and latency measurement. They are wired to each
// other here: a loaded catalogue reaches the controller and starts the lookups and a measurement, a
// sign-out forgets the servers and the measurement repeats every 30 s. Pages receive what they use
// from here through their constructors. Tests build it with their own adapter and point the client
// at a development backend.
class ClientServices : public QObject
{
    Q_OBJECT

public:
    // Smoke, preview and capture runs look nothing up and measure nothing.
    enum class Lookups
    {
        Enabled,
        Disabled
    };
    // Shows an address in the default browser; false when nothing could show it.
    using UrlOpener = std::function<bool(const QUrl &)>;

    // Without an adapter the real one, which drives the tunnel program, is used.
    explicit ClientServices(std::unique_ptr<TunnelAdapter> adapter = nullptr,
                            Lookups lookups = Lookups::Enabled, QObject *parent = nullptr);
    ~ClientServices() override;

    ApiClient &api() { return m_api; }
    Session &session() { return m_session; }
    TunnelAdapter &adapter() { return *m_adapter; }
    VpnController &controller() { return m_controller; }
    ServerCatalogue &catalogue() { return m_catalogue; }
    Geolocator &geolocator() { return m_geolocator; }
    LatencyProbe &latencyProbe() { return m_latencyProbe; }
    ClientLog &clientLog() { return m_clientLog; }

    bool lookupsEnabled() const { return m_lookups == Lookups::Enabled; }
    // Looks the user's own position up once, reported by the geolocator's ownLocationFound.
    void lookUpOwnLocation();
    // Measures every server of the catalogue anew.
    void startLatencySweep();
    // The periodic measurement: only while signed in, with the VPN neither connecting nor busy,
    // and never over a sweep that has not finished.
    void startPeriodicSweep();

    bool openUrl(const QUrl &url) const { return m_urlOpener(url); }
    // Tests watch what would be opened instead of starting a browser.
    void setUrlOpener(UrlOpener opener) { m_urlOpener = std::move(opener); }

private:
    Lookups m_lookups;
    UrlOpener m_urlOpener;
    ApiClient m_api;
    Session m_session;
    std::unique_ptr<TunnelAdapter> m_adapter;
    VpnController m_controller;
    ServerCatalogue m_catalogue;
    Geolocator m_geolocator;
    LatencyProbe m_latencyProbe;
    ClientLog m_clientLog;
    QTimer m_sweepTimer;
    QMetaObject::Connection m_ownLocationWait;
};
