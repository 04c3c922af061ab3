#pragma once

#include "common/tunnelprofile.h"
#include "platform/winerror.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// What the desktop client and the privileged tunnel program agree on: tunnel names, service
// names, file paths, the helper's command lines and exit codes, and the tunnel profile file.
namespace tunnelcontract {

inline constexpr char tunnelNamePattern[] = "^tnel_[a-f0-9]{20}$";
// The engine's TUN adapter, named in its configuration and measured by the traffic chart.
inline constexpr char adapterAlias[] = "SolvikVPN";
bool isValidTunnelName(const QString &name);

// "SolvikVPN$" + tunnel name.
QString serviceName(const QString &tunnelName);
// "Solvik VPN VLESS Tunnel (" + tunnel name + ")". The service manager refuses a second service
// with a display name already in use, and a stopped service of another tunnel stays registered
// (after a reboot, or when its engine ended), so the tunnel name keeps each one distinct.
QString serviceDisplayName(const QString &tunnelName);

// The tunnel helper beside the client: application directory + "/solvikvpn-tunnel" + the
// platform's executable suffix. Forward slashes; callers convert to native form to start it.
QString helperPath(const QString &applicationDirectory);
// tunnelName + ".vless.dpapi": the only name the privileged side accepts for the profile file.
QString tunnelProfileFileName(const QString &tunnelName);
// dataDirectory + "/" + tunnelProfileFileName(tunnelName).
QString tunnelProfilePath(const QString &dataDirectory, const QString &tunnelName);
// The tunnel error file, tunnelProfileFileName + ".error.dpapi", in the folder that only the
// system and administrators can change (platform::tunnelErrorDirectory): the service writes it
// there and the helper removes it, so neither ever acts in a folder the user controls.
QString tunnelErrorPath(const QString &tunnelName);
// The tunnel status file (TunnelStatus), tunnelProfileFileName + ".status.dpapi", beside the
// tunnel error file and written the same way.
QString tunnelStatusPath(const QString &tunnelName);
// The tunnel service's log, tunnelProfileFileName + ".log.dpapi", beside the tunnel error file
// and written the same way; kept after a stop, for the problem report.
QString tunnelLogPath(const QString &tunnelName);

// How the service keeps a tunnel: whether it starts an engine again that ended by itself, and
// whether it blocks traffic outside the tunnel while the tunnel is meant to be up, with or
// without the local network.
struct TunnelOptions
{
    bool reconnect = true;
    bool block = false;
    bool allowLocalNetwork = false; // only with `block`

    bool operator==(const TunnelOptions &) const = default;
};

// The switches after the profile path of "--install" and "--service", in this order, each at
// most once: the service then ends with an engine that ended by itself; it blocks traffic
// outside the tunnel; the block lets the local network through (after blockSwitch only).
inline constexpr char noReconnectSwitch[] = "--no-reconnect";
inline constexpr char blockSwitch[] = "--block";
inline constexpr char allowLocalNetworkSwitch[] = "--allow-lan";
// The switches `options` asks for, in their order.
QStringList optionSwitches(const TunnelOptions &options);
// What follows the profile path on the command lines of "--install" and "--service": a space
// before each of optionSwitches, or nothing.
QString optionArguments(const TunnelOptions &options);

// "--install <name> "<native profile path>"" and the option switches: the quotes keep a path
// with spaces one argument.
QString installArguments(const QString &tunnelName, const QString &profilePath,
                         const TunnelOptions &options = {});
// "--stop <name>".
QString stopArguments(const QString &tunnelName);

// The two public pages that answer 204 with an empty body; the health check fetches them in
// this order through the engine's probe proxy.
QList<QUrl> connectivityCheckUrls();

// What the helper's and the service's exit codes mean to the client. The numbers are Windows
// error numbers; any other code is the error number of a failing service-manager call.
namespace exitcode {
// From "--install": the programs lie in a folder that someone other than the administrators can
// change, so the privileged helper refuses to register them. (The service reports the same
// number when the engine could not be put into its kill-on-close job.)
inline constexpr int programFolderNotProtected = platform::winerror::accessDenied;
// From "--install": the folder of the tunnel error files could not be created, or exists with an
// owner or access list that lets others change it.
inline constexpr int errorFolderNotProtected = platform::winerror::invalidSecurityDescriptor;
// The tunnel profile file is unreadable, malformed or fails validation.
inline constexpr int invalidTunnelProfile = platform::winerror::invalidData;
// Malformed command line, a tunnel name not matching its pattern, or a refused profile path.
inline constexpr int invalidCommandLine = platform::winerror::invalidParameter;
// The service did not reach the awaited state in time, or a status query failed without an
// error number.
inline constexpr int serviceTimeout = platform::winerror::serviceRequestTimeout;
// The service stopped while starting and reported exit code 0.
inline constexpr int serviceStoppedWhileStarting = platform::winerror::serviceNotActive;
// The service ran but the end-to-end health check failed; the service was removed again.
inline constexpr int healthCheckFailed = platform::winerror::connectionAborted;
// The service could not put up the block that keeps traffic inside the tunnel, so it did not
// start the engine: it never connects unprotected.
inline constexpr int firewallFailed = platform::winerror::serviceDependencyFailed;
} // namespace exitcode

// The service accepts only unprivileged loopback ports for the probe proxy.
inline constexpr int minimumProxyPort = 1024;
inline constexpr int maximumProxyPort = 65535;

// The plain content of the tunnel profile file, as validated on the receiving side.
struct TunnelProfileFile
{
    TunnelProfile profile;
    quint16 proxyPort = 0;
    QString proxyPassword;
};

// {"connection":{"uri":...},"proxyPassword":...,"proxyPort":...} as compact UTF-8 JSON.
// The result holds credentials: the caller wipes it after writing the protected file.
QByteArray serializeTunnelProfileFile(const QString &uri, quint16 proxyPort,
                                      const QString &proxyPassword);

// Parses and re-validates the plain bytes of a tunnel profile file: exactly the three members,
// "connection" holding exactly "uri" and passing parseTunnelProfile, "proxyPort" an integer from
// 1024 to 65535, "proxyPassword" 36 characters of lower-case hexadecimal digits and hyphens. Pure;
// nothing when any rule fails. The caller still owns and wipes `plain`.
std::optional<TunnelProfileFile> parseTunnelProfileFile(const QByteArray &plain);

// Zeroes the credentials the parsed file holds.
void wipeTunnelProfileFile(TunnelProfileFile &file);

} // namespace tunnelcontract
