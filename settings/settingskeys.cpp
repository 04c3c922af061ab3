#include "settings/settingskeys.h"

#include <QSettings>

namespace settings {
namespace {

QString text(QLatin1StringView key, QLatin1StringView fallback = {})
{
    return QSettings().value(key, QString(fallback)).toString();
}

bool flag(QLatin1StringView key)
{
    return QSettings().value(key, false).toBool();
}

void write(QLatin1StringView key, const QVariant &value)
{
    QSettings().setValue(key, value);
}

namespace location {
constexpr QLatin1StringView checkedAt{"checkedAt"};
constexpr QLatin1StringView country{"country"};
constexpr QLatin1StringView countryCode{"countryCode"};
constexpr QLatin1StringView city{"city"};
constexpr QLatin1StringView latitude{"latitude"};
constexpr QLatin1StringView longitude{"longitude"};
} // namespace location

std::optional<double> readCoordinate(const QSettings &store, QLatin1StringView key)
{
    bool isNumber = false;
    const double value = store.value(key).toDouble(&isNumber);
    return isNumber ? std::optional<double>(value) : std::nullopt;
}

void writeCoordinate(QSettings &store, QLatin1StringView key, const std::optional<double> &value)
{
    if (value) {
        store.setValue(key, *value);
    } else {
        store.remove(key);
    }
}

CachedLocation readLocation(const QString &group)
{
    QSettings store;
    store.beginGroup(group);
    CachedLocation result;
    result.checkedAt = store.value(location::checkedAt, 0).toLongLong();
    result.country = store.value(location::country).toString();
    result.countryCode = store.value(location::countryCode).toString();
    result.city = store.value(location::city).toString();
    result.latitude = readCoordinate(store, location::latitude);
    result.longitude = readCoordinate(store, location::longitude);
    return result;
}

void writeLocation(const QString &group, const CachedLocation &value)
{
    QSettings store;
    store.beginGroup(group);
    store.setValue(location::checkedAt, value.checkedAt);
    store.setValue(location::country, value.country);
    store.setValue(location::countryCode, value.countryCode);
    store.setValue(location::city, value.city);
    writeCoordinate(store, location::latitude, value.latitude);
    writeCoordinate(store, location::longitude, value.longitude);
}

} // namespace

QString theme()
{
    return text(keys::theme, darkTheme);
}

void setTheme(const QString &theme)
{
    write(keys::theme, theme);
}

bool isLightTheme()
{
    return theme() == lightTheme;
}

QString accent()
{
    return text(keys::accent, defaultAccent);
}

void setAccent(const QString &accent)
{
    write(keys::accent, accent);
}

bool guidedTourSeen()
{
    return flag(keys::guidedTourSeen);
}

void setGuidedTourSeen(bool seen)
{
    write(keys::guidedTourSeen, seen);
}

bool legacySettingsMigrated()
{
    return flag(keys::legacySettingsMigrated);
}

QString apiUrl()
{
    return text(keys::apiUrl);
}

void setApiUrl(const QString &url)
{
    write(keys::apiUrl, url);
}

bool production()
{
    return flag(keys::production);
}

void setProduction(bool production)
{
    write(keys::production, production);
}

CachedLocation myGeoLocation()
{
    return readLocation(keys::myGeoLocation);
}

void setMyGeoLocation(const CachedLocation &location)
{
    writeLocation(keys::myGeoLocation, location);
}

CachedLocation geoIpCache(const QString &address)
{
    return readLocation(keys::geoIpCachePrefix + address);
}

void setGeoIpCache(const QString &address, const CachedLocation &location)
{
    writeLocation(keys::geoIpCachePrefix + address, location);
}

QString managedVlessTunnel()
{
    return text(keys::managedVlessTunnel);
}

void setManagedVlessTunnel(const QString &tunnelName)
{
    write(keys::managedVlessTunnel, tunnelName);
}

QDateTime connectionStartedAt()
{
    const QDateTime stored = QSettings().value(keys::connectionStartedAt).toDateTime();
    return stored.isValid() ? stored.toUTC() : QDateTime();
}

void setConnectionStartedAt(const QDateTime &startedAt)
{
    write(keys::connectionStartedAt, startedAt.toUTC());
}

void removeConnectionStartedAt()
{
    QSettings().remove(keys::connectionStartedAt);
}

bool showNotifications()
{
    return QSettings().value(keys::showNotifications, true).toBool();
}

void setShowNotifications(bool show)
{
    write(keys::showNotifications, show);
}

bool connectOnStart()
{
    return flag(keys::connectOnStart);
}

void setConnectOnStart(bool connect)
{
    write(keys::connectOnStart, connect);
}

bool reconnectAutomatically()
{
    return QSettings().value(keys::reconnectAutomatically, true).toBool();
}

void setReconnectAutomatically(bool reconnect)
{
    write(keys::reconnectAutomatically, reconnect);
}

bool blockIfVpnDrops()
{
    return QSettings().value(keys::blockIfVpnDrops, true).toBool();
}

void setBlockIfVpnDrops(bool block)
{
    write(keys::blockIfVpnDrops, block);
}

bool allowLocalNetwork()
{
    return flag(keys::allowLocalNetwork);
}

void setAllowLocalNetwork(bool allow)
{
    write(keys::allowLocalNetwork, allow);
}

bool startAtLogin()
{
    return flag(keys::startAtLogin);
}

void setStartAtLogin(bool start)
{
    write(keys::startAtLogin, start);
}

QString lastServerId()
{
    return QSettings().value(keys::lastServerId).toString();
}

void setLastServerId(const QString &id)
{
    write(keys::lastServerId, id);
}

void removeLastServerId()
{
    QSettings().remove(keys::lastServerId);
}

void clearAll()
{
    QSettings store;
    store.clear();
    store.sync();
}

} // namespace settings
