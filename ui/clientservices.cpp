#include "ui/clientservices.h"

#include "vpn/windowsvless.h"

#include <QDesktopServices>

ClientServices::ClientServices(std::unique_ptr<TunnelAdapter> adapter, Lookups lookups,
                               QObject *parent)
    : QObject(parent)
    , m_lookups(lookups)
    , m_urlOpener([](const QUrl &url) { return QDesktopServices::openUrl(url); })
    , m_session(m_api)
    , m_adapter(adapter ? std::move(adapter) : std::make_unique<WindowsVless>())
    , m_controller(m_api, *m_adapter)
    , m_catalogue(m_api)
    , m_geolocator(m_catalogue, m_geolocationNetwork)
{
    m_geolocator.setEnabled(lookupsEnabled());
}

// The controller stops using the adapter before the adapter goes: members end in reverse order.
ClientServices::~ClientServices() = default;

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
