#include "common/tunnelprofile.h"

#include "common/secretwipe.h"

#include <QByteArray>
#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qsizetype maximumLinkLength = 8192;
constexpr qsizetype publicKeyBytes = 32;

bool matches(const QString &text, const QRegularExpression &pattern)
{
    return pattern.match(text).hasMatch();
}

// Compiled once; matching a shared pattern is safe from any thread. Not thread_local: a
// thread-local object on a thread the system created (the service manager's) is destroyed by the
// MinGW runtime after its memory was freed, which corrupted the tunnel service's heap at exit.
// Whole-text anchoring matters: "$" alone would also accept a value ending in a line feed ("%0A").
const QRegularExpression &forbiddenCharacters()
{
    static const QRegularExpression pattern(QStringLiteral(R"([\x00-\x20\x7f])"));
    return pattern;
}

const QRegularExpression &userIdPattern()
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("^[A-Fa-f0-9]{8}-(?:[A-Fa-f0-9]{4}-){3}[A-Fa-f0-9]{12}$")));
    return pattern;
}

const QRegularExpression &hostNamePattern()
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?$")));
    return pattern;
}

const QRegularExpression &publicKeyPattern()
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("^[A-Za-z0-9_-]{43}$")));
    return pattern;
}

const QRegularExpression &shortIdPattern()
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("^(?:[A-Fa-f0-9]{2}){1,8}$")));
    return pattern;
}

bool isKnownFingerprint(const QString &name)
{
    static const QStringList fingerprints{QStringLiteral("chrome"), QStringLiteral("firefox"),
                                          QStringLiteral("safari"), QStringLiteral("edge"),
                                          QStringLiteral("ios"),    QStringLiteral("android"),
                                          QStringLiteral("random"), QStringLiteral("randomized"),
                                          QStringLiteral("360"),    QStringLiteral("qq")};
    return fingerprints.contains(name, Qt::CaseSensitive);
}

// Four decimal parts from 0 to 255 without leading zeros: the only way a link may write an IPv4
// address. Shorter forms ("203.0.113", "1234") mean different addresses to different resolvers.
const QRegularExpression &ipv4Pattern()
{
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QStringLiteral(R"(^(?:(?:25[0-5]|2[0-4][0-9]|1[0-9]{2}|[1-9]?[0-9])\.){3})"
                       R"((?:25[0-5]|2[0-4][0-9]|1[0-9]{2}|[1-9]?[0-9])$)")));
    return pattern;
}

bool isDigitsAndDots(const QString &host)
{
    return std::all_of(host.cbegin(), host.cend(),
                       [](QChar c) { return c == u'.' || (c >= u'0' && c <= u'9'); });
}

bool isIpv6Address(const QString &host)
{
    // A scope id ("fe80::1%eth0") is not part of a server address.
    QHostAddress address;
    return host.contains(u':') && !host.contains(u'%') && address.setAddress(host) &&
           address.protocol() == QAbstractSocket::IPv6Protocol;
}

// The host exactly as the link writes it, percent-decoded. QUrl keeps hosts in a normal form of
// its own (it reads "203.0.113" as 203.0.0.113), and the engine must dial what the link names.
// The link already passed QUrl's strict parse, so the authority runs from "//" to the first
// "/", "?" or "#", and a port follows the host.
QString hostAsWritten(const QString &link)
{
    const qsizetype start = link.indexOf(u"//") + 2;
    qsizetype end = link.size();
    for (const QChar delimiter : {u'/', u'?', u'#'}) {
        const qsizetype at = link.indexOf(delimiter, start);
        if (at >= 0) {
            end = std::min(end, at);
        }
    }
    QStringView authority = QStringView(link).mid(start, end - start);
    authority = authority.mid(authority.lastIndexOf(u'@') + 1);
    const QStringView host = authority.startsWith(u'[')
                                 ? authority.mid(1, authority.indexOf(u']') - 1)
                                 : authority.left(authority.lastIndexOf(u':'));
    return QUrl::fromPercentEncoding(host.toUtf8());
}

bool isAcceptedHost(const QString &host)
{
    if (isDigitsAndDots(host)) {
        return matches(host, ipv4Pattern());
    }
    return isIpv6Address(host) || matches(host, hostNamePattern());
}

bool isCanonicalPublicKey(const QString &text)
{
    if (!matches(text, publicKeyPattern())) {
        return false;
    }
    const QByteArray encoded = text.toLatin1();
    auto decoded = QByteArray::fromBase64Encoding(
        encoded, QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    QByteArray &bytes = decoded.decoded;
    const bool accepted =
        decoded && bytes.size() == publicKeyBytes &&
        std::any_of(bytes.cbegin(), bytes.cend(), [](char c) { return c != 0; }) &&
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals) == encoded;
    secretwipe::wipe(bytes);
    return accepted;
}

void wipeQueryItems(QList<std::pair<QString, QString>> &items)
{
    for (auto &[key, value] : items) {
        secretwipe::wipe(key);
        secretwipe::wipe(value);
    }
    items.clear();
}

// Every rule after the length and character checks: the URL's form, the user id and host, then
// the query items. Fills `profile` as it
// goes; the caller wipes it when the link is refused.
bool readLink(const QString &text, TunnelProfile &profile)
{
    // QUrl lower-cases the scheme, so its exact spelling is checked on the text itself.
    if (!text.startsWith(u"vless:")) {
        return false;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"vless" || !url.password().isEmpty() ||
        !url.path().isEmpty() || url.host().isEmpty()) {
        return false;
    }
    const int port = url.port();
    if (port < 1 || port > 65535) {
        return false;
    }
    profile.uuid = url.userName(QUrl::FullyDecoded);
    profile.host = hostAsWritten(text);
    profile.port = port;
    if (!matches(profile.uuid, userIdPattern()) || !isAcceptedHost(profile.host)) {
        return false;
    }

    auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    QStringList keys;
    keys.reserve(items.size());
    for (const auto &item : items) {
        keys.append(item.first);
    }
    keys.sort(Qt::CaseSensitive);
    const bool repeatedKey = std::adjacent_find(keys.cbegin(), keys.cend()) != keys.cend();
    auto value = [&items](QStringView key) {
        const auto found = std::find_if(items.cbegin(), items.cend(),
                                        [key](const auto &item) { return item.first == key; });
        return found == items.cend() ? QString() : found->second;
    };
    const bool fixedValuesMatch = value(u"security") == u"reality" && value(u"type") == u"tcp" &&
                                  value(u"encryption") == u"none";
    if (!repeatedKey && fixedValuesMatch) {
        profile.serverName = value(u"sni");
        profile.publicKey = value(u"pbk");
        profile.shortId = value(u"sid");
        profile.fingerprint = value(u"fp");
        profile.flow = value(u"flow");
    }
    wipeQueryItems(items);
    if (repeatedKey || !fixedValuesMatch) {
        return false;
    }

    if (!matches(profile.serverName, hostNamePattern()) || profile.flow != u"xtls-rprx-vision" ||
        !isKnownFingerprint(profile.fingerprint) || !isCanonicalPublicKey(profile.publicKey) ||
        !matches(profile.shortId, shortIdPattern())) {
        return false;
    }
    profile.endpoint = profile.host.contains(u':')
                           ? u'[' + profile.host + u"]:"_s + QString::number(port)
                           : profile.host + u':' + QString::number(port);
    return true;
}

} // namespace

std::optional<TunnelProfile> parseTunnelProfile(const QJsonObject &connection)
{
    TunnelProfile profile;
    profile.uri = connection.value(QLatin1String("uri")).toString();
    if (profile.uri.isEmpty() || profile.uri.size() > maximumLinkLength ||
        matches(profile.uri, forbiddenCharacters()) || !readLink(profile.uri, profile)) {
        wipeTunnelProfile(profile);
        return std::nullopt;
    }
    return profile;
}

void wipeTunnelProfile(TunnelProfile &profile)
{
    for (QString *field :
         {&profile.uri, &profile.endpoint, &profile.host, &profile.uuid, &profile.serverName,
          &profile.publicKey, &profile.shortId, &profile.fingerprint, &profile.flow}) {
        secretwipe::wipe(*field);
    }
    profile.port = 0;
}
