#pragma once

#include "common/tunnelcontract.h"

#include <QString>

#include <cstdint>

// The "--service" mode: the process the service manager starts for one tunnel.
namespace tunnelservice {

// Connects to the service manager as "SolvikVPN$" + tunnel name and runs the tunnel in the
// service thread until it stops, as `options` ask (EngineSupervisor); a resume or
// network change control asks the running tunnel for a check. Returns 0 once the service has run
// and stopped, else the error of connecting to the manager (1063 when started from a command
// prompt).
std::uint32_t runServiceMode(const QString &tunnelName, const QString &profilePath,
                             const QString &applicationDirectory,
                             const tunnelcontract::TunnelOptions &options);

} // namespace tunnelservice
