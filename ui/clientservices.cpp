#include "ui/clientservices.h"

#include "vpn/windowsvless.h"

ClientServices::ClientServices(std::unique_ptr<TunnelAdapter> adapter, QObject *parent)
    : QObject(parent)
    , m_session(m_api)
    , m_adapter(adapter ? std::move(adapter) : std::make_unique<WindowsVless>())
    , m_controller(m_api, *m_adapter)
{}

// The controller stops using the adapter before the adapter goes: members end in reverse order.
ClientServices::~ClientServices() = default;
