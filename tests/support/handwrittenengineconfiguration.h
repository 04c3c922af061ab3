#pragma once

#include <QByteArray>

// The engine configuration typed out by hand, member by member in ascending key order, for
// golden tests. Only the values that come from a tunnel profile and the probe port vary; the
// probe password is always handwrittenProbePassword.
inline constexpr char handwrittenProbePassword[] = "0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35";

struct HandwrittenTunnel
{
    QByteArray server;
    QByteArray serverPort;
    QByteArray serverName;
    QByteArray fingerprint;
    QByteArray publicKey;
    QByteArray shortId;
    QByteArray uuid;
    QByteArray listenPort;
};

inline QByteArray handwrittenEngineConfiguration(const HandwrittenTunnel &tunnel)
{
    QByteArray document =
        R"({"dns":{"final":"remote","servers":[)"
        R"({"server":"1.1.1.1","tag":"bootstrap","type":"udp"},)"
        R"({"detour":"proxy","server":"1.1.1.1","tag":"remote",)"
        R"("tls":{"enabled":true,"server_name":"cloudflare-dns.com"},"type":"https"}]},)"
        R"("inbounds":[)"
        R"({"address":["172.29.255.1/30","fdfe:dcba:9876::1/126"],"auto_route":true,)"
        R"("interface_name":"SolvikVPN","mtu":1400,"strict_route":true,"tag":"tun-in","type":"tun"},)"
        R"({"listen":"127.0.0.1","listen_port":@LISTEN_PORT@,"tag":"probe","type":"mixed",)"
        R"("users":[{"password":"0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35","username":"solvikvpn"}]}],)"
        R"("log":{"disabled":false,"level":"warn"},)"
        R"("outbounds":[)"
        R"({"flow":"xtls-rprx-vision","server":"@SERVER@","server_port":@SERVER_PORT@,)"
        R"("tag":"proxy","tls":{"enabled":true,)"
        R"("reality":{"enabled":true,"public_key":"@PUBLIC_KEY@","short_id":"@SHORT_ID@"},)"
        R"("server_name":"@SERVER_NAME@","utls":{"enabled":true,"fingerprint":"@FINGERPRINT@"}},)"
        R"("type":"vless","uuid":"@UUID@"},)"
        R"({"tag":"direct","type":"direct"}],)"
        R"("route":{"auto_detect_interface":true,)"
        R"("default_domain_resolver":{"server":"bootstrap","strategy":"ipv4_only"},"final":"proxy",)"
        R"("rules":[{"action":"sniff"},{"action":"hijack-dns","protocol":"dns"},)"
        R"({"ip_is_private":true,"outbound":"direct"}]}})";
    return document.replace("@LISTEN_PORT@", tunnel.listenPort)
        .replace("@SERVER@", tunnel.server)
        .replace("@SERVER_PORT@", tunnel.serverPort)
        .replace("@PUBLIC_KEY@", tunnel.publicKey)
        .replace("@SHORT_ID@", tunnel.shortId)
        .replace("@SERVER_NAME@", tunnel.serverName)
        .replace("@FINGERPRINT@", tunnel.fingerprint)
        .replace("@UUID@", tunnel.uuid);
}
