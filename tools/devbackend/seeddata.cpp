#include "seeddata.h"

#include <QCryptographicHash>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QUrl>
#include <QUuid>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace {

struct Place
{
    const char16_t *code;
    const char16_t *country;
    const char16_t *city;
    const char16_t *slug;
    const char16_t *camouflage;
};

constexpr std::array<Place, 16> places{{
    {u"NL", u"Netherlands", u"Amsterdam", u"ams", u"www.microsoft.com"},
    {u"DE", u"Germany", u"Frankfurt", u"fra", u"www.apple.com"},
    {u"FI", u"Finland", u"Helsinki", u"hel", u"dl.google.com"},
    {u"PL", u"Poland", u"Warsaw", u"waw", u"www.amazon.com"},
    {u"FR", u"France", u"Paris", u"par", u"www.cloudflare.com"},
    {u"GB", u"United Kingdom", u"London", u"lon", u"www.bing.com"},
    {u"SE", u"Sweden", u"Stockholm", u"sto", u"www.mozilla.org"},
    {u"CH", u"Switzerland", u"Zurich", u"zrh", u"www.samsung.com"},
    {u"US", u"United States", u"New York", u"nyc", u"www.nvidia.com"},
    {u"CA", u"Canada", u"Toronto", u"yyz", u"www.intel.com"},
    {u"JP", u"Japan", u"Tokyo", u"tyo", u"www.sony.com"},
    {u"AU", u"Australia", u"Sydney", u"syd", u"www.adobe.com"},
    {u"TR", u"Turkey", u"Istanbul", u"ist", u"www.oracle.com"},
    {u"AT", u"Austria", u"Vienna", u"vie", u"www.ibm.com"},
    {u"ES", u"Spain", u"Madrid", u"mad", u"www.cisco.com"},
    {u"SG", u"Singapore", u"Singapore", u"sin", u"www.dell.com"},
}};

QString text(const char16_t *value)
{
    return QString::fromUtf16(value);
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes;
}

// Public keys of the demo servers: random, and never the all-zero key the client refuses.
QString randomPublicKey()
{
    QByteArray key;
    do {
        key = randomBytes(32);
    } while (key.count('\0') == key.size());
    return QString::fromLatin1(
        key.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

QString hostFor(int index, const Place &place, int serial)
{
    // Mostly IPv4 documentation addresses, with IPv6 and DNS names mixed in so every endpoint
    // shape reaches the client.
    if (index % 10 == 9)
        return u"2001:db8::%1"_s.arg(index + 1, 0, 16);
    if (index % 7 == 6)
        return u"%1-%2-%3.vpn.solvik.test"_s.arg(text(place.code).toLower(), text(place.slug))
            .arg(serial);
    if (index < 200)
        return u"203.0.113.%1"_s.arg(10 + index % 240);
    return u"198.51.100.%1"_s.arg(10 + index % 240);
}

QJsonObject plan(const QString &id, const QString &tier, int days, const QString &currency,
                 int cents, bool enabled)
{
    return QJsonObject{{u"_id"_s, id},
                       {u"name"_s, days == 0 ? u"Free"_s : u"Premium"_s},
                       {u"tier"_s, tier},
                       {u"days"_s, days},
                       {u"currency"_s, currency},
                       {u"price"_s, cents},
                       {u"enabled"_s, enabled}};
}

} // namespace

namespace DevSeed {

QList<DevServer> servers(int count, int countries, bool unusable)
{
    const int placeCount = std::clamp(countries, 1, int(places.size()));
    QList<DevServer> result;
    for (int i = 0; i < count; ++i) {
        const Place &place = places.at(size_t(i % placeCount));
        const int serial = i / placeCount + 1;
        DevServer server;
        server.id = u"srv-%1-%2-%3"_s.arg(text(place.code).toLower(), text(place.slug)).arg(serial);
        server.name = u"%1 · %2 #%3"_s.arg(text(place.country), text(place.city)).arg(serial);
        server.host = hostFor(i, place, serial);
        server.port = i % 4 == 3 ? 8443 : 443;
        // The first server of every country is free, so a free account can reach each country.
        server.tier = serial == 1 ? u"free"_s : u"paid"_s;
        server.countryCode = text(place.code);
        server.country = text(place.country);
        server.city = text(place.city);
        server.publicKey = randomPublicKey();
        server.serverName = text(place.camouflage);
        result.append(server);
    }
    if (unusable) {
        DevServer disabled = result.isEmpty() ? DevServer() : result.first();
        disabled.id = u"srv-maintenance-1"_s;
        disabled.name = u"Maintenance #1"_s;
        disabled.host = u"198.51.100.250"_s;
        disabled.enabled = false;
        disabled.publicKey = randomPublicKey();
        disabled.serverName = u"www.microsoft.com"_s;
        result.append(disabled);
        DevServer other = disabled;
        other.id = u"srv-wireguard-1"_s;
        other.name = u"WireGuard #1"_s;
        other.host = u"198.51.100.251"_s;
        other.enabled = true;
        other.protocol = u"wireguard"_s;
        result.append(other);
    }
    return result;
}

QString freePlanId()
{
    return u"65f0a1c2e4b0d9a1f0000001"_s;
}

QString monthlyPlanId()
{
    return u"65f0a1c2e4b0d9a1f0000030"_s;
}

QJsonArray plans()
{
    return QJsonArray{
        plan(freePlanId(), u"free"_s, 0, u"USD"_s, 0, true),
        plan(monthlyPlanId(), u"paid"_s, 30, u"USD"_s, 499, true),
        plan(u"65f0a1c2e4b0d9a1f0000090"_s, u"paid"_s, 90, u"USD"_s, 1299, true),
        plan(u"65f0a1c2e4b0d9a1f0000365"_s, u"paid"_s, 365, u"USD"_s, 3999, true),
        plan(u"65f0a1c2e4b0d9a1f0000e30"_s, u"paid"_s, 30, u"EUR"_s, 459, true),
    };
}

QString randomToken(int bytes)
{
    QByteArray raw = randomBytes(bytes);
    const QString token = QString::fromLatin1(
        raw.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    raw.fill('\0');
    return token;
}

QString randomId(const QString &prefix)
{
    return prefix + QString::fromLatin1(randomBytes(12).toHex());
}

QString randomUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString randomShortId()
{
    const int bytes = 1 + int(QRandomGenerator::system()->bounded(8));
    return QString::fromLatin1(randomBytes(bytes).toHex());
}

QByteArray sha256(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QString vlessLink(const DevServer &server, const DevProfile &profile)
{
    const QString query =
        u"security=reality&type=tcp&encryption=none&sni=%1&pbk=%2&sid=%3&fp=chrome"
        u"&flow=xtls-rprx-vision"_s.arg(server.serverName, server.publicKey, profile.shortId);
    const QString fragment = QString::fromLatin1(QUrl::toPercentEncoding(server.name));
    return u"vless://%1@%2?%3#%4"_s.arg(profile.uuid, server.endpoint(), query, fragment);
}

} // namespace DevSeed
