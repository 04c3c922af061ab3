#pragma once

#include <QDateTime>
#include <QLatin1StringView>
#include <QString>

#include <optional>

// The catalogue of the client's persistent, non-secret preferences. Secrets never go here: they
// live in protected files. Every accessor opens the settings store afresh (QSettings with no
// arguments), so it follows the application identity of the current run and nothing caches a
// settings object across calls.
namespace settings {

namespace keys {
inline constexpr QLatin1StringView theme{"theme"};
inline constexpr QLatin1StringView accent{"accent"};
inline constexpr QLatin1StringView guidedTourSeen{"guidedTourSeen"};
inline constexpr QLatin1StringView legacySettingsMigrated{"legacySettingsMigrated"};
inline constexpr QLatin1StringView apiUrl{"apiUrl"};
inline constexpr QLatin1StringView production{"production"};
inline constexpr QLatin1StringView myGeoLocation{"myGeoLocation"};
// Followed by the address text: one group per looked-up public address.
inline constexpr QLatin1StringView geoIpCachePrefix{"geoIpCache/"};
inline constexpr QLatin1StringView managedVlessTunnel{"managedVlessTunnel"};
inline constexpr QLatin1StringView connectionStartedAt{"connectionStartedAt"};
inline constexpr QLatin1StringView showNotifications{"showNotifications"};
inline constexpr QLatin1StringView connectOnStart{"connectOnStart"};
inline constexpr QLatin1StringView reconnectAutomatically{"reconnectAutomatically"};
inline constexpr QLatin1StringView blockIfVpnDrops{"blockIfVpnDrops"};
inline constexpr QLatin1StringView allowLocalNetwork{"allowLocalNetwork"};
inline constexpr QLatin1StringView startAtLogin{"startAtLogin"};
inline constexpr QLatin1StringView lastServerId{"lastServerId"};
} // namespace keys

inline constexpr QLatin1StringView darkTheme{"dark"};
inline constexpr QLatin1StringView lightTheme{"light"};
inline constexpr QLatin1StringView defaultAccent{"#87d6c2"};

// "dark" or "light"; "dark" when absent.
QString theme();
void setTheme(const QString &theme);
// The one test every painter uses: exactly "light" (case-sensitive) selects the light theme.
bool isLightTheme();

// "#" and six hexadecimal digits; "#87d6c2" when absent.
QString accent();
void setAccent(const QString &accent);

bool guidedTourSeen();
void setGuidedTourSeen(bool seen);

bool legacySettingsMigrated();

// Backend base URL; empty until the first start stores the production address.
QString apiUrl();
void setApiUrl(const QString &url);

// Restricts the backend to HTTPS.
bool production();
void setProduction(bool production);

// A cached geolocation: the user's own position or that of one server address.
struct CachedLocation
{
    // Milliseconds since the Unix epoch (UTC); 0 when nothing is cached.
    qint64 checkedAt = 0;
    QString country;
    QString countryCode;
    QString city;
    // Absent when the lookup gave none: a stored 0 would place the location off the coast of
    // Africa.
    std::optional<double> latitude;
    std::optional<double> longitude;
};

CachedLocation myGeoLocation();
void setMyGeoLocation(const CachedLocation &location);
CachedLocation geoIpCache(const QString &address);
void setGeoIpCache(const QString &address, const CachedLocation &location);

// Name of the tunnel this client created; empty when none.
QString managedVlessTunnel();
void setManagedVlessTunnel(const QString &tunnelName);

// When the current connection came up, in UTC; invalid when absent.
QDateTime connectionStartedAt();
void setConnectionStartedAt(const QDateTime &startedAt);
void removeConnectionStartedAt();

// Notifications while the window is hidden; true when absent.
bool showNotifications();
void setShowNotifications(bool show);
// Connect when a restored session has loaded its locations; false when absent.
bool connectOnStart();
void setConnectOnStart(bool connect);
// The tunnel's service starts an engine that ended by itself again; true when absent. Read when a
// tunnel is installed.
bool reconnectAutomatically();
void setReconnectAutomatically(bool reconnect);
// The tunnel's service blocks traffic outside the tunnel while it is meant to be up; true when
// absent. Read when a tunnel is installed, as is the next one.
bool blockIfVpnDrops();
void setBlockIfVpnDrops(bool block);
// That block lets the local network through (never its name servers); false when absent.
bool allowLocalNetwork();
void setAllowLocalNetwork(bool allow);
// Mirrors the system's start-at-sign-in registration, which is the truth; false when absent.
bool startAtLogin();
void setStartAtLogin(bool start);
// The location the user chose last; empty when none.
QString lastServerId();
void setLastServerId(const QString &id);
void removeLastServerId();

// Removes every key of the current store (used only by the throw-away test identities).
void clearAll();

} // namespace settings
