#pragma once

#include "api/apiclient.h"
#include "api/session.h"
#include "vpn/tunneladapter.h"
#include "vpn/vpncontroller.h"

#include <QNetworkAccessManager>
#include <QObject>

#include <memory>

// The objects the window works with, built in this order and kept for the window's life: the
// backend client, the session bound to it, the tunnel adapter, the VPN controller bound to both,
// and the network access manager of the public geolocation lookups. Pages receive what they use
// from here through their constructors. Tests build it with their own adapter and point the
// client at a development backend.
class ClientServices : public QObject
{
    Q_OBJECT

public:
    // Without an adapter the real one, which drives the tunnel program, is used.
    explicit ClientServices(std::unique_ptr<TunnelAdapter> adapter = nullptr,
                            QObject *parent = nullptr);
    ~ClientServices() override;

    ApiClient &api() { return m_api; }
    Session &session() { return m_session; }
    TunnelAdapter &adapter() { return *m_adapter; }
    VpnController &controller() { return m_controller; }
    QNetworkAccessManager &geolocationNetwork() { return m_geolocationNetwork; }

private:
    ApiClient m_api;
    Session m_session;
    std::unique_ptr<TunnelAdapter> m_adapter;
    VpnController m_controller;
    QNetworkAccessManager m_geolocationNetwork;
};
