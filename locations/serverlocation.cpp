#include "locations/serverlocation.h"

#include <algorithm>

#include "api/replyrules.h"

#include <QHash>
#include <QHostAddress>
#include <QRegularExpression>

#include <array>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

struct TableRow
{
    const char16_t *alternatives;
    const char16_t *code;
    const char16_t *country;
    const char16_t *city;
    double longitude;
    double latitude;
};

// Cities first: a name that mentions a city and its country gets the city.
constexpr std::array<TableRow, 30> table{{
    {u"amsterdam|амстердам", u"NL", u"Netherlands", u"Amsterdam", 4.9, 52.37},
    {u"frankfurt|франкфурт", u"DE", u"Germany", u"Frankfurt", 8.68, 50.11},
    {u"berlin|берлин", u"DE", u"Germany", u"Berlin", 13.4, 52.52},
    {u"helsinki|хельсинки", u"FI", u"Finland", u"Helsinki", 24.94, 60.17},
    {u"warsaw|warszawa|варшава", u"PL", u"Poland", u"Warsaw", 21.01, 52.23},
    {u"paris|париж", u"FR", u"France", u"Paris", 2.35, 48.86},
    {u"london|лондон", u"GB", u"United Kingdom", u"London", -0.12, 51.51},
    {u"stockholm|стокгольм", u"SE", u"Sweden", u"Stockholm", 18.07, 59.33},
    {u"zurich|zürich|цюрих", u"CH", u"Switzerland", u"Zurich", 8.54, 47.38},
    {u"new york|new-york|нью-йорк", u"US", u"United States", u"New York", -74.01, 40.71},
    {u"los angeles|los-angeles|лос-анджелес", u"US", u"United States", u"Los Angeles", -118.24,
     34.05},
    {u"toronto|торонто", u"CA", u"Canada", u"Toronto", -79.38, 43.65},
    {u"tokyo|токио", u"JP", u"Japan", u"Tokyo", 139.69, 35.69},
    {u"singapore|сингапур|sg", u"SG", u"Singapore", u"Singapore", 103.82, 1.35},
    {u"sydney|сидней", u"AU", u"Australia", u"Sydney", 151.21, -33.87},
    {u"netherlands|holland|нидерланды|голландия|nl", u"NL", u"Netherlands", u"", 5.3, 52.1},
    {u"germany|германия|de", u"DE", u"Germany", u"", 10.45, 51.17},
    {u"finland|финляндия|fi", u"FI", u"Finland", u"", 25.75, 61.92},
    {u"poland|польша|pl", u"PL", u"Poland", u"", 19.15, 51.92},
    {u"france|франция|fr", u"FR", u"France", u"", 2.21, 46.23},
    {u"united kingdom|britain|великобритания|uk|gb", u"GB", u"United Kingdom", u"", -2.5, 54.0},
    {u"sweden|швеция|se", u"SE", u"Sweden", u"", 15.0, 62.0},
    {u"switzerland|швейцария|ch", u"CH", u"Switzerland", u"", 8.23, 46.82},
    {u"united states|usa|сша|us", u"US", u"United States", u"", -98.0, 39.0},
    {u"canada|канада|ca", u"CA", u"Canada", u"", -106.0, 56.0},
    {u"japan|япония|jp", u"JP", u"Japan", u"", 138.25, 36.2},
    {u"australia|австралия|au", u"AU", u"Australia", u"", 134.0, -25.0},
    {u"ukraine|украина|україна|ua", u"UA", u"Ukraine", u"", 31.2, 49.0},
    {u"turkey|türkiye|турция|tr", u"TR", u"Turkey", u"", 35.0, 39.0},
    {u"russia|россия|ru", u"RU", u"Russia", u"", 37.62, 55.75},
}};

// An alternative must not touch a letter on either side: "de" matches in "de-fra-1" and
// "Server DE" but not inside "Sweden". Compiled once per thread.
const std::array<QRegularExpression, table.size()> &patterns()
{
    thread_local const std::array<QRegularExpression, table.size()> compiled = [] {
        std::array<QRegularExpression, table.size()> result;
        for (std::size_t row = 0; row < table.size(); ++row) {
            result[row] = QRegularExpression(u"(?:^|[^\\p{L}])(?:%1)(?:$|[^\\p{L}])"_s.arg(
                                                 QString::fromUtf16(table[row].alternatives)),
                                             QRegularExpression::CaseInsensitiveOption |
                                                 QRegularExpression::UseUnicodePropertiesOption);
        }
        return result;
    }();
    return compiled;
}

// Server names are many but finite; the bound keeps a hostile catalogue from growing the cache.
constexpr qsizetype maximumCachedTexts = 10000;

bool isCoordinate(const std::optional<double> &value, double limit)
{
    return value && std::isfinite(*value) && std::abs(*value) <= limit;
}

} // namespace

ServerLocation inferLocation(const QString &text)
{
    // A catalogue names the same codes and countries over and over; the table is searched once
    // per text.
    thread_local QHash<QString, ServerLocation> found;
    const auto cached = found.constFind(text);
    if (cached != found.constEnd()) {
        return *cached;
    }
    ServerLocation location{QString(), u"Other locations"_s, QString(), 0, 0, false, false};
    for (std::size_t row = 0; row < table.size(); ++row) {
        if (patterns()[row].match(text).hasMatch()) {
            const TableRow &entry = table[row];
            location = ServerLocation{QString::fromUtf16(entry.code),
                                      QString::fromUtf16(entry.country),
                                      QString::fromUtf16(entry.city),
                                      entry.longitude,
                                      entry.latitude,
                                      true,
                                      true};
            break;
        }
    }
    if (found.size() < maximumCachedTexts) {
        found.insert(text, location);
    }
    return location;
}

ServerLocation serverLocation(const api::ServerRecord &record)
{
    const api::GeoLocation geo = record.geoLocation.value_or(api::GeoLocation());
    // The geolocation comes from a public service: its texts are bounded here too.
    const auto field = [](const QString &fromGeo, const QString &fromRecord) {
        return api::boundedText(fromGeo.isEmpty() ? fromRecord : fromGeo);
    };
    const QString code = field(geo.countryCode, record.countryCode);
    const QString country = field(geo.country, record.country);
    const QString city = field(geo.city, record.city);
    if (code.isEmpty() && country.isEmpty()) {
        return inferLocation(record.name);
    }
    ServerLocation location = inferLocation(code.isEmpty() ? country : code);
    if (!country.isEmpty()) {
        location.country = country;
    }
    if (!code.isEmpty()) {
        location.countryCode = code.toUpper();
    }
    if (!city.isEmpty()) {
        location.city = city;
    }
    if (isCoordinate(geo.latitude, 90) && isCoordinate(geo.longitude, 180)) {
        location.latitude = *geo.latitude;
        location.longitude = *geo.longitude;
        location.hasCoordinates = true;
    }
    location.known = true;
    return location;
}

QString hostOfEndpoint(const QString &endpoint)
{
    QString text = endpoint.trimmed();
    if (text.startsWith(u"udp://"_s, Qt::CaseInsensitive)) {
        text.remove(0, 6);
    }
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        return close > 1 ? text.mid(1, close - 1) : QString();
    }
    if (QHostAddress(text).protocol() != QAbstractSocket::UnknownNetworkLayerProtocol) {
        return text;
    }
    const qsizetype colon = text.indexOf(u':');
    if (colon > 0 && text.count(u':') == 1) {
        bool isNumber = false;
        const int port = text.mid(colon + 1).toInt(&isNumber);
        if (isNumber && port >= 1) {
            return text.left(colon);
        }
    }
    return text;
}

bool matchesSearch(const api::ServerRecord &record, const QString &query)
{
    const ServerLocation location = serverLocation(record);
    const QString texts[] = {location.country,      location.countryCode,
                             location.city,         record.name,
                             serverAddress(record), hostOfEndpoint(record.endpoint)};
    return std::any_of(std::begin(texts), std::end(texts), [&query](const QString &text) {
        return text.contains(query, Qt::CaseInsensitive);
    });
}

QString serverAddress(const api::ServerRecord &record)
{
    // The endpoint itself stays whole: it is what the client connects to and matches profiles by.
    return api::boundedText(record.resolvedIp.value_or(hostOfEndpoint(record.endpoint)));
}
