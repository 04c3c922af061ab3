#include "engineconfig.h"

#include "jsonobjectreader.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

namespace engineconfig {
namespace {

// A tag named somewhere that must exist among the outbounds or the DNS servers.
struct Reference
{
    QString path;
    QString tag;
};

struct Decoder
{
    DecodeErrors &errors;
    Document &document;
    QStringList inboundTags;
    QStringList outboundTags;
    QStringList dnsTags;
    QList<Reference> outboundReferences;
    QList<Reference> dnsReferences;
};

QString indexed(const QString &path, qsizetype index)
{
    return path + u'[' + QString::number(index) + u']';
}

// The "type" or "action" member read before the object's own member list is known.
QString peekString(DecodeErrors &errors, const QJsonValue &value, const QString &path,
                   const QString &member, bool required)
{
    if (errors.failed())
        return {};
    if (!value.isObject()) {
        errors.decodeError(path, u"json: cannot unmarshal "_s + jsonKindName(value) +
                                     u" into Go value of type object"_s);
        return {};
    }
    const QJsonValue found = value.toObject().value(member);
    if (found.isUndefined() || found.isNull()) {
        if (required)
            errors.decodeError(path, u"missing required field \""_s + member + u'"');
        return {};
    }
    if (!found.isString()) {
        errors.decodeError(path + u'.' + member, u"json: cannot unmarshal "_s +
                                                     jsonKindName(found) +
                                                     u" into Go value of type string"_s);
        return {};
    }
    return found.toString();
}

void requireNonEmpty(JsonObjectReader &reader, const QString &name, const QString &value)
{
    if (!reader.errors().failed() && value.isEmpty())
        reader.errors().valueError(reader.path(name), u"missing value"_s);
}

void addTag(JsonObjectReader &reader, QStringList &tags, const QString &kind)
{
    const QString tag = reader.string(u"tag"_s);
    requireNonEmpty(reader, u"tag"_s, tag);
    if (reader.errors().failed())
        return;
    if (tags.contains(tag))
        reader.errors().valueError(reader.path(u"tag"_s),
                                   u"duplicate "_s + kind + u" tag: "_s + tag);
    tags.append(tag);
}

quint16 port(JsonObjectReader &reader, const QString &name)
{
    const auto value = quint16(reader.unsignedInteger(name, 65535, u"uint16"_s));
    if (!reader.errors().failed() && value == 0)
        reader.errors().valueError(reader.path(name), u"port 0 is not allowed here"_s);
    return value;
}

void decodeLog(Decoder &d, const QJsonValue &value)
{
    JsonObjectReader log(d.errors, value, u"log"_s, {u"level"_s, u"disabled"_s});
    const QString level = log.string(u"level"_s);
    d.document.logDisabled = log.boolean(u"disabled"_s);
    if (!d.errors.failed() && !EngineLog::levelFromName(level, &d.document.logLevel))
        d.errors.valueError(log.path(u"level"_s), u"unknown log level: "_s + level);
}

void decodeDnsServer(Decoder &d, const QJsonValue &value, const QString &path)
{
    const QString type = peekString(d.errors, value, path, u"type"_s, true);
    if (type == u"udp"_s) {
        JsonObjectReader server(d.errors, value, path, {u"type"_s, u"tag"_s, u"server"_s});
        addTag(server, d.dnsTags, u"DNS server"_s);
        const QString address = server.string(u"server"_s);
        // Plain DNS is the bootstrap resolver: nothing could resolve a name given here.
        if (!d.errors.failed() && QHostAddress(address).isNull())
            d.errors.valueError(server.path(u"server"_s), u"invalid IP address: "_s + address);
    } else if (type == u"https"_s) {
        JsonObjectReader server(d.errors, value, path,
                                {u"type"_s, u"tag"_s, u"server"_s, u"tls"_s, u"detour"_s});
        addTag(server, d.dnsTags, u"DNS server"_s);
        requireNonEmpty(server, u"server"_s, server.string(u"server"_s));
        JsonObjectReader tls(d.errors, server.value(u"tls"_s), server.path(u"tls"_s),
                             {u"enabled"_s, u"server_name"_s});
        if (!tls.boolean(u"enabled"_s) && !d.errors.failed())
            d.errors.valueError(tls.path(u"enabled"_s), u"DNS over HTTPS needs TLS enabled"_s);
        requireNonEmpty(tls, u"server_name"_s, tls.string(u"server_name"_s));
        d.outboundReferences.append({server.path(u"detour"_s), server.string(u"detour"_s)});
    } else if (!d.errors.failed()) {
        d.errors.decodeError(path, u"unknown DNS server type: "_s + type);
    }
}

void decodeDns(Decoder &d, const QJsonValue &value)
{
    JsonObjectReader dns(d.errors, value, u"dns"_s, {u"servers"_s, u"final"_s});
    const QJsonArray servers = dns.array(u"servers"_s);
    for (qsizetype i = 0; i < servers.size(); ++i)
        decodeDnsServer(d, servers.at(i), indexed(dns.path(u"servers"_s), i));
    d.dnsReferences.append({dns.path(u"final"_s), dns.string(u"final"_s)});
}

void decodeTun(Decoder &d, const QJsonValue &value, const QString &path)
{
    JsonObjectReader tun(d.errors, value, path,
                         {u"type"_s, u"tag"_s, u"interface_name"_s, u"address"_s, u"mtu"_s,
                          u"auto_route"_s, u"strict_route"_s});
    addTag(tun, d.inboundTags, u"inbound"_s);
    const QString name = tun.string(u"interface_name"_s);
    const QStringList addresses = tun.stringList(u"address"_s);
    const qint64 mtu = tun.unsignedInteger(u"mtu"_s, 0xffffffffLL, u"uint32"_s);
    tun.boolean(u"auto_route"_s);
    tun.boolean(u"strict_route"_s);
    if (d.errors.failed())
        return;
    // The traffic chart finds the adapter by this exact name.
    if (name != u"SolvikVPN"_s)
        d.errors.valueError(tun.path(u"interface_name"_s), u"adapter must be named SolvikVPN"_s);
    if (!d.document.tunInterface.isEmpty())
        d.errors.valueError(path, u"only one tun inbound is supported"_s);
    if (addresses.isEmpty())
        d.errors.valueError(tun.path(u"address"_s), u"missing value"_s);
    for (qsizetype i = 0; i < addresses.size(); ++i) {
        if (QHostAddress::parseSubnet(addresses.at(i)).second < 0) {
            d.errors.valueError(indexed(tun.path(u"address"_s), i),
                                u"invalid prefix: "_s + addresses.at(i));
        }
    }
    // The adapter carries an IPv6 address, and IPv6 needs at least 1280 bytes.
    if (mtu < 1280 || mtu > 65535)
        d.errors.valueError(tun.path(u"mtu"_s), u"MTU out of range: "_s + QString::number(mtu));
    d.document.tunTag = d.inboundTags.value(d.inboundTags.size() - 1);
    d.document.tunInterface = name;
    d.document.tunMtu = int(mtu);
}

void decodeMixed(Decoder &d, const QJsonValue &value, const QString &path)
{
    JsonObjectReader mixed(d.errors, value, path,
                           {u"type"_s, u"tag"_s, u"listen"_s, u"listen_port"_s, u"users"_s});
    addTag(mixed, d.inboundTags, u"inbound"_s);
    MixedInbound inbound;
    inbound.tag = d.inboundTags.value(d.inboundTags.size() - 1);
    const QString listen = mixed.string(u"listen"_s);
    inbound.port = port(mixed, u"listen_port"_s);
    inbound.listen = QHostAddress(listen);
    // The probe proxy forwards anywhere: it must never be reachable from another machine.
    if (!d.errors.failed() && !inbound.listen.isLoopback())
        d.errors.valueError(mixed.path(u"listen"_s), u"must be a loopback address: "_s + listen);
    const QJsonArray users = mixed.array(u"users"_s);
    if (!d.errors.failed() && users.isEmpty())
        d.errors.valueError(mixed.path(u"users"_s), u"missing value"_s);
    for (qsizetype i = 0; i < users.size() && !d.errors.failed(); ++i) {
        JsonObjectReader user(d.errors, users.at(i), indexed(mixed.path(u"users"_s), i),
                              {u"username"_s, u"password"_s});
        const ProxyUser entry{user.string(u"username"_s), user.string(u"password"_s)};
        requireNonEmpty(user, u"username"_s, entry.username);
        requireNonEmpty(user, u"password"_s, entry.password);
        inbound.users.append(entry);
    }
    d.document.mixedInbounds.append(inbound);
}

void decodeInbounds(Decoder &d, const QJsonArray &inbounds)
{
    for (qsizetype i = 0; i < inbounds.size() && !d.errors.failed(); ++i) {
        const QString path = indexed(u"inbounds"_s, i);
        const QString type = peekString(d.errors, inbounds.at(i), path, u"type"_s, true);
        if (type == u"tun"_s)
            decodeTun(d, inbounds.at(i), path);
        else if (type == u"mixed"_s)
            decodeMixed(d, inbounds.at(i), path);
        else if (!d.errors.failed())
            d.errors.decodeError(path, u"unknown inbound type: "_s + type);
    }
}

void decodeReality(Decoder &d, JsonObjectReader &tls, bool utlsEnabled)
{
    JsonObjectReader reality(d.errors, tls.value(u"reality"_s), tls.path(u"reality"_s),
                             {u"enabled"_s, u"public_key"_s, u"short_id"_s});
    const bool enabled = reality.boolean(u"enabled"_s);
    const QString publicKey = reality.string(u"public_key"_s);
    const QString shortId = reality.string(u"short_id"_s);
    if (d.errors.failed())
        return;
    if (!enabled)
        d.errors.valueError(reality.path(u"enabled"_s), u"the proxy outbound needs REALITY"_s);
    if (!utlsEnabled)
        d.errors.valueError(reality.path(), u"uTLS is required by reality client"_s);
    const auto key = QByteArray::fromBase64Encoding(publicKey.toLatin1(),
                                                    QByteArray::Base64UrlEncoding |
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!key || key.decoded.size() != 32 || publicKey.size() != 43)
        d.errors.valueError(reality.path(u"public_key"_s), u"decode public_key: invalid key"_s);
    static const QRegularExpression hexPairs(u"^(?:[0-9A-Fa-f]{2}){0,8}$"_s);
    if (!hexPairs.match(shortId).hasMatch())
        d.errors.valueError(reality.path(u"short_id"_s), u"decode short_id: invalid short id"_s);
}

void decodeVlessTls(Decoder &d, JsonObjectReader &vless)
{
    JsonObjectReader tls(d.errors, vless.value(u"tls"_s), vless.path(u"tls"_s),
                         {u"enabled"_s, u"server_name"_s, u"utls"_s, u"reality"_s});
    if (!tls.boolean(u"enabled"_s) && !d.errors.failed())
        d.errors.valueError(tls.path(u"enabled"_s), u"the proxy outbound needs TLS"_s);
    requireNonEmpty(tls, u"server_name"_s, tls.string(u"server_name"_s));
    JsonObjectReader utls(d.errors, tls.value(u"utls"_s), tls.path(u"utls"_s),
                          {u"enabled"_s, u"fingerprint"_s});
    const bool utlsEnabled = utls.boolean(u"enabled"_s);
    const QString fingerprint = utls.string(u"fingerprint"_s);
    static const QStringList fingerprints{u"chrome"_s, u"firefox"_s,   u"edge"_s, u"safari"_s,
                                          u"360"_s,    u"qq"_s,        u"ios"_s,  u"android"_s,
                                          u"random"_s, u"randomized"_s};
    if (!d.errors.failed() && !fingerprints.contains(fingerprint))
        d.errors.valueError(utls.path(u"fingerprint"_s),
                            u"unknown uTLS fingerprint: "_s + fingerprint);
    decodeReality(d, tls, utlsEnabled);
}

void decodeVless(Decoder &d, const QJsonValue &value, const QString &path)
{
    JsonObjectReader vless(
        d.errors, value, path,
        {u"type"_s, u"tag"_s, u"server"_s, u"server_port"_s, u"uuid"_s, u"flow"_s, u"tls"_s});
    addTag(vless, d.outboundTags, u"outbound"_s);
    const QString server = vless.string(u"server"_s);
    port(vless, u"server_port"_s);
    const QString uuid = vless.string(u"uuid"_s);
    const QString flow = vless.string(u"flow"_s);
    if (!d.errors.failed()) {
        // A colon means an IPv6 literal, which the engine wants without brackets.
        const bool badHost = server.isEmpty() || server.contains(u'[') ||
                             (server.contains(u':') && QHostAddress(server).isNull());
        if (badHost)
            d.errors.valueError(vless.path(u"server"_s), u"invalid server address: "_s + server);
        static const QRegularExpression uuidPattern(
            u"^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"_s);
        if (!uuidPattern.match(uuid).hasMatch())
            d.errors.valueError(vless.path(u"uuid"_s), u"parse uuid: invalid UUID"_s);
        if (!flow.isEmpty() && flow != u"xtls-rprx-vision"_s)
            d.errors.valueError(vless.path(u"flow"_s), u"unsupported flow: "_s + flow);
    }
    decodeVlessTls(d, vless);
}

void decodeOutbounds(Decoder &d, const QJsonArray &outbounds)
{
    for (qsizetype i = 0; i < outbounds.size() && !d.errors.failed(); ++i) {
        const QString path = indexed(u"outbounds"_s, i);
        const QString type = peekString(d.errors, outbounds.at(i), path, u"type"_s, true);
        if (type == u"vless"_s) {
            decodeVless(d, outbounds.at(i), path);
        } else if (type == u"direct"_s) {
            JsonObjectReader direct(d.errors, outbounds.at(i), path, {u"type"_s, u"tag"_s});
            addTag(direct, d.outboundTags, u"outbound"_s);
        } else if (!d.errors.failed()) {
            d.errors.decodeError(path, u"unknown outbound type: "_s + type);
        }
    }
}

// Returns true when the rule is a sniff action.
bool decodeRule(Decoder &d, const QJsonValue &value, const QString &path, bool sniffed)
{
    const QStringList matches{u"protocol"_s, u"ip_is_private"_s};
    const QString action = peekString(d.errors, value, path, u"action"_s, false);
    QStringList known{u"action"_s};
    QStringList optional = matches;
    if (action.isEmpty() || action == u"route"_s) {
        known = QStringList{u"outbound"_s};
        optional.append(u"action"_s);
    } else if (action != u"sniff"_s && action != u"hijack-dns"_s && action != u"reject"_s) {
        d.errors.decodeError(path, u"unknown rule action: "_s + action);
        return false;
    }
    JsonObjectReader rule(d.errors, value, path, known, optional);
    if (known.contains(u"outbound"_s))
        d.outboundReferences.append({rule.path(u"outbound"_s), rule.string(u"outbound"_s)});
    if (rule.has(u"ip_is_private"_s))
        rule.boolean(u"ip_is_private"_s);
    static const QStringList protocols{u"http"_s,       u"tls"_s,  u"quic"_s, u"stun"_s, u"dns"_s,
                                       u"bittorrent"_s, u"dtls"_s, u"ssh"_s,  u"rdp"_s,  u"ntp"_s};
    const QStringList wanted = rule.stringList(u"protocol"_s);
    for (const QString &protocol : wanted) {
        if (!d.errors.failed() && !protocols.contains(protocol))
            d.errors.valueError(rule.path(u"protocol"_s), u"unknown protocol: "_s + protocol);
    }
    // Without an earlier sniff the protocol is never known, so such a rule would never match.
    if (!d.errors.failed() && !wanted.isEmpty() && !sniffed)
        d.errors.valueError(rule.path(u"protocol"_s), u"protocol match needs an earlier sniff"_s);
    return action == u"sniff"_s;
}

void decodeRoute(Decoder &d, const QJsonValue &value)
{
    JsonObjectReader route(
        d.errors, value, u"route"_s,
        {u"auto_detect_interface"_s, u"default_domain_resolver"_s, u"final"_s, u"rules"_s});
    route.boolean(u"auto_detect_interface"_s);
    JsonObjectReader resolver(d.errors, route.value(u"default_domain_resolver"_s),
                              route.path(u"default_domain_resolver"_s),
                              {u"server"_s, u"strategy"_s});
    d.dnsReferences.append({resolver.path(u"server"_s), resolver.string(u"server"_s)});
    const QString strategy = resolver.string(u"strategy"_s);
    static const QStringList strategies{u"prefer_ipv4"_s, u"prefer_ipv6"_s, u"ipv4_only"_s,
                                        u"ipv6_only"_s};
    if (!d.errors.failed() && !strategies.contains(strategy))
        d.errors.valueError(resolver.path(u"strategy"_s), u"unknown strategy: "_s + strategy);
    d.outboundReferences.append({route.path(u"final"_s), route.string(u"final"_s)});
    const QJsonArray rules = route.array(u"rules"_s);
    bool sniffed = false;
    for (qsizetype i = 0; i < rules.size() && !d.errors.failed(); ++i)
        sniffed =
            decodeRule(d, rules.at(i), indexed(route.path(u"rules"_s), i), sniffed) || sniffed;
}

void checkReferences(DecodeErrors &errors, const QList<Reference> &references,
                     const QStringList &tags, const QString &kind)
{
    for (const Reference &reference : references) {
        if (!errors.failed() && !tags.contains(reference.tag))
            errors.valueError(reference.path, kind + u" not found: "_s + reference.tag);
    }
}

} // namespace

bool decode(const QByteArray &bytes, const QString &source, Document *document, QString *error)
{
    DecodeErrors errors(source);
    QJsonParseError parseError;
    const QJsonDocument json = QJsonDocument::fromJson(bytes, &parseError);
    if (bytes.trimmed().isEmpty()) {
        errors.decodeError(QString(), u"unexpected end of JSON input"_s);
    } else if (parseError.error != QJsonParseError::NoError) {
        errors.decodeError(QString(), parseError.errorString() + u" at offset "_s +
                                          QString::number(parseError.offset));
    }
    Decoder d{errors, *document, {}, {}, {}, {}, {}};
    const QJsonValue root = json.isObject() ? QJsonValue(json.object()) : QJsonValue(json.array());
    JsonObjectReader top(errors, root, QString(),
                         {u"log"_s, u"dns"_s, u"inbounds"_s, u"outbounds"_s, u"route"_s});
    decodeLog(d, top.value(u"log"_s));
    decodeDns(d, top.value(u"dns"_s));
    decodeInbounds(d, top.array(u"inbounds"_s));
    decodeOutbounds(d, top.array(u"outbounds"_s));
    decodeRoute(d, top.value(u"route"_s));
    checkReferences(errors, d.outboundReferences, d.outboundTags, u"outbound"_s);
    checkReferences(errors, d.dnsReferences, d.dnsTags, u"DNS server"_s);
    if (errors.failed())
        *error = errors.message();
    return !errors.failed();
}

} // namespace engineconfig
