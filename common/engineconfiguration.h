#pragma once

#include "common/tunnelprofile.h"

#include <QByteArray>
#include <QString>

// The public resolver used for plain DNS (bootstrap) and DNS-over-HTTPS through the tunnel; it
// serves both at the same address.
inline constexpr char engineDnsResolverAddress[] = "1.1.1.1";
inline constexpr char engineDnsResolverHostName[] = "cloudflare-dns.com";

// The user name of the engine's loopback probe proxy.
inline constexpr char engineProbeProxyUser[] = "solvikvpn";

// The engine's JSON configuration for one tunnel: compact UTF-8, members of every object in
// ascending key order, so equal inputs give equal bytes on the client and in the service.
// The result holds credentials: callers wipe it once it has been written to the engine.
QByteArray buildEngineConfiguration(const TunnelProfile &profile, quint16 proxyPort,
                                    const QString &proxyUser, const QString &proxyPassword);
