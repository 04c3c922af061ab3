#include "common/engineconfiguration.h"

#include "common/tunnelcontract.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::Literals::StringLiterals;

namespace {

QString text(const char *constant)
{
    return QString::fromLatin1(constant);
}

QJsonObject dnsSection()
{
    const QJsonObject bootstrap{
        {u"type"_s, u"udp"_s},
        {u"tag"_s, u"bootstrap"_s},
        {u"server"_s, text(engineDnsResolverAddress)},
    };
    // Names are resolved through the tunnel so the local network never sees them.
    const QJsonObject remote{
        {u"type"_s, u"https"_s},
        {u"tag"_s, u"remote"_s},
        {u"server"_s, text(engineDnsResolverAddress)},
        {u"tls"_s,
         QJsonObject{{u"enabled"_s, true}, {u"server_name"_s, text(engineDnsResolverHostName)}}},
        {u"detour"_s, u"proxy"_s},
    };
    return QJsonObject{
        {u"servers"_s, QJsonArray{bootstrap, remote}},
        {u"final"_s, u"remote"_s},
    };
}

QJsonArray inbounds(quint16 proxyPort, const QString &proxyUser, const QString &proxyPassword)
{
    // The engine resolves DNS itself through the hijack rule; it refuses a "dns_mode" member.
    const QJsonObject tun{
        {u"type"_s, u"tun"_s},
        {u"tag"_s, u"tun-in"_s},
        {u"interface_name"_s, QString::fromLatin1(tunnelcontract::adapterAlias)},
        {u"address"_s, QJsonArray{u"172.29.255.1/30"_s, u"fdfe:dcba:9876::1/126"_s}},
        {u"mtu"_s, 1400},
        {u"auto_route"_s, true},
        {u"strict_route"_s, true},
    };
    const QJsonObject probe{
        {u"type"_s, u"mixed"_s},
        {u"tag"_s, u"probe"_s},
        {u"listen"_s, u"127.0.0.1"_s},
        {u"listen_port"_s, int(proxyPort)},
        {u"users"_s,
         QJsonArray{QJsonObject{{u"username"_s, proxyUser}, {u"password"_s, proxyPassword}}}},
    };
    return QJsonArray{tun, probe};
}

QJsonArray outbounds(const TunnelProfile &profile)
{
    const QJsonObject tls{
        {u"enabled"_s, true},
        {u"server_name"_s, profile.serverName},
        {u"utls"_s, QJsonObject{{u"enabled"_s, true}, {u"fingerprint"_s, profile.fingerprint}}},
        {u"reality"_s, QJsonObject{{u"enabled"_s, true},
                                   {u"public_key"_s, profile.publicKey},
                                   {u"short_id"_s, profile.shortId}}},
    };
    const QJsonObject proxy{
        {u"type"_s, u"vless"_s},
        {u"tag"_s, u"proxy"_s},
        {u"server"_s, profile.host},
        {u"server_port"_s, profile.port},
        {u"uuid"_s, profile.uuid},
        {u"flow"_s, profile.flow},
        {u"tls"_s, tls},
    };
    const QJsonObject direct{{u"type"_s, u"direct"_s}, {u"tag"_s, u"direct"_s}};
    return QJsonArray{proxy, direct};
}

QJsonObject routeSection()
{
    // The engine needs the sniff action before it can recognise DNS traffic to hijack.
    const QJsonArray rules{
        QJsonObject{{u"action"_s, u"sniff"_s}},
        QJsonObject{{u"action"_s, u"hijack-dns"_s}, {u"protocol"_s, u"dns"_s}},
        QJsonObject{{u"ip_is_private"_s, true}, {u"outbound"_s, u"direct"_s}},
    };
    return QJsonObject{
        {u"auto_detect_interface"_s, true},
        {u"default_domain_resolver"_s,
         QJsonObject{{u"server"_s, u"bootstrap"_s}, {u"strategy"_s, u"ipv4_only"_s}}},
        {u"final"_s, u"proxy"_s},
        {u"rules"_s, rules},
    };
}

} // namespace

QByteArray buildEngineConfiguration(const TunnelProfile &profile, quint16 proxyPort,
                                    const QString &proxyUser, const QString &proxyPassword)
{
    // QJsonObject keeps its members sorted by key, which makes the bytes reproducible.
    const QJsonObject document{
        {u"log"_s, QJsonObject{{u"level"_s, u"warn"_s}, {u"disabled"_s, false}}},
        {u"dns"_s, dnsSection()},
        {u"inbounds"_s, inbounds(proxyPort, proxyUser, proxyPassword)},
        {u"outbounds"_s, outbounds(profile)},
        {u"route"_s, routeSection()},
    };
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}
