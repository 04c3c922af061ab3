#pragma once

#include "common/tunnelcontract.h"

#include <QString>

#include <cstdint>

// The elevated helper's service-control sequences. Every operation returns a Windows error
// number (0 on success) that becomes the process exit code.
namespace tunnelhelper {

// Which earlier installations a clean-up removes.
enum class CleanupScope
{
    EarlierProducts,
    All
};

// Service names a clean-up may remove.
inline constexpr char earlierProductServicePattern[] =
    "^(?:WireGuardTunnel\\$zelv_|PelgraVPN\\$tnel_)[a-f0-9]{20}$";
inline constexpr char productServicePattern[] = "^SolvikVPN\\$tnel_[a-f0-9]{20}$";

bool isCleanupTarget(const QString &serviceName, CleanupScope scope);

// Stops the service (waiting up to 20 s for STOPPED) and, with `remove`, deletes it. A service
// that does not exist counts as done.
std::uint32_t stopTunnelService(const QString &serviceName, bool remove);

// "--stop": stops and deletes the tunnel's service and, once it is gone, its error and status
// files, and lifts the firewall block (which a service that crashed or gave up left up).
std::uint32_t stopTunnel(const QString &tunnelName);

// Stops and deletes every service the scope names, and for All lifts the firewall block; the
// error of the last failure, or 0.
std::uint32_t cleanupServices(CleanupScope scope);

// True when the service program, its folder, the engine's folder and the engine, as far as they
// exist, can be changed only by administrators (platform::isChangeableOnlyByAdministrators):
// otherwise whoever can change them would run code as LocalSystem at the next connect.
bool isInstalledSafely(const QString &serviceProgramPath);

// The command line the service manager starts the service with: the quoted service program,
// "--service", the tunnel name and the quoted profile path, in native separators, then the
// option switches.
QString serviceCommandLine(const QString &serviceProgramPath, const QString &tunnelName,
                           const QString &profilePath,
                           const tunnelcontract::TunnelOptions &options);

// Validates the profile path (87), refuses, when privileged, programs that others could change
// (5), makes the error-file folder safe (1338) and clears leftover error and status files, clears
// earlier products' services and any earlier service of this tunnel, creates and starts the service
// running `serviceProgramPath`, waits up to 25 s for RUNNING and proves the tunnel with the
// health check through the probe proxy of the profile it read. On every failure after creation
// the service is removed again, and no block is left up.
std::uint32_t installTunnel(const QString &tunnelName, const QString &profilePath,
                            const QString &serviceProgramPath,
                            const tunnelcontract::TunnelOptions &options);

} // namespace tunnelhelper
