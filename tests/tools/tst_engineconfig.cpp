#include "engineconfig.h"
#include "handwrittenengineconfig.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray baseDocument = handwrittenEngineConfiguration(20808);

} // namespace

class TestEngineConfig : public QObject
{
    Q_OBJECT

private slots:
    void acceptsTheClientsDocument()
    {
        engineconfig::Document document;
        QString error;
        QVERIFY2(engineconfig::decode(baseDocument, u"stdin"_s, &document, &error),
                 qPrintable(error));
        QCOMPARE(document.logLevel, EngineLog::Level::Warn);
        QCOMPARE(document.tunInterface, u"SolvikVPN"_s);
        QCOMPARE(document.tunMtu, 1400);
        QCOMPARE(document.mixedInbounds.size(), 1);
        const engineconfig::MixedInbound &probe = document.mixedInbounds.first();
        QCOMPARE(probe.tag, u"probe"_s);
        QCOMPARE(probe.listen, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(probe.port, quint16(20808));
        QCOMPARE(probe.users.size(), 1);
        QCOMPARE(probe.users.first().username, u"solvikvpn"_s);
        QVERIFY(probe.users.first().password == QLatin1String(handwrittenProbePassword));
    }

    // Each row edits the accepted document once; an empty message means it stays acceptable.
    void decodes_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("message");
        const auto row = [](const char *name, const char *from, const char *to,
                            const QString &message) {
            QTest::newRow(name) << QByteArray(from) << QByteArray(to) << message;
        };
        const QString decode = u"decode config at stdin: "_s;
        const QString create = u"create service: "_s;
        row("tun dns_mode is unknown", R"("mtu":1400,)", R"("mtu":1400,"dns_mode":"hijack",)",
            decode + uR"(inbounds[0].dns_mode: json: unknown field "dns_mode")"_s);
        row("unknown top-level member", R"({"dns":)", R"({"experimental":{},"dns":)",
            decode + uR"(experimental: json: unknown field "experimental")"_s);
        row("unknown member deep in tls", R"("short_id":"0123ABCD")",
            R"("short_id":"0123ABCD","x":1)",
            decode + uR"(outbounds[0].tls.reality.x: json: unknown field "x")"_s);
        row("unknown member in a user", R"("username":"solvikvpn")",
            R"("username":"solvikvpn","level":0)",
            decode + uR"(inbounds[1].users[0].level: json: unknown field "level")"_s);
        row("missing member", R"("auto_route":true,)", "",
            decode + uR"(inbounds[0]: missing required field "auto_route")"_s);
        row("port as a string", R"("listen_port":20808)", R"("listen_port":"20808")",
            decode +
                u"inbounds[1].listen_port: json: cannot unmarshal string into Go value of type uint16"_s);
        row("port out of range", R"("server_port":443)", R"("server_port":70000)",
            decode +
                u"outbounds[0].server_port: json: cannot unmarshal number 70000 into Go value of type uint16"_s);
        row("fractional mtu", R"("mtu":1400)", R"("mtu":1400.5)",
            decode +
                u"inbounds[0].mtu: json: cannot unmarshal number 1400.5 into Go value of type uint32"_s);
        row("bool as a string", R"("auto_detect_interface":true)",
            R"("auto_detect_interface":"true")",
            decode +
                u"route.auto_detect_interface: json: cannot unmarshal string into Go value of type bool"_s);
        row("unknown inbound type", R"("type":"mixed")", R"("type":"socks")",
            decode + u"inbounds[1]: unknown inbound type: socks"_s);
        row("unknown rule action", R"({"action":"sniff"})", R"({"action":"sniff-all"})",
            decode + u"route.rules[0]: unknown rule action: sniff-all"_s);
        row("outbound on a sniff rule", R"({"action":"sniff"})",
            R"({"action":"sniff","outbound":"direct"})",
            decode + uR"(route.rules[0].outbound: json: unknown field "outbound")"_s);
        row("route rule without outbound", R"({"ip_is_private":true,"outbound":"direct"})",
            R"({"ip_is_private":true})",
            decode + uR"(route.rules[2]: missing required field "outbound")"_s);
        row("dns match before any sniff", R"({"action":"sniff"},)", "",
            create + u"route.rules[0].protocol: protocol match needs an earlier sniff"_s);
        row("protocol list", R"("protocol":"dns")", R"("protocol":["dns","quic"])", QString());
        row("protocol list of numbers", R"("protocol":"dns")", R"("protocol":[53])",
            decode +
                u"route.rules[1].protocol[0]: json: cannot unmarshal number into Go value of type string"_s);
        row("adapter renamed", R"("interface_name":"SolvikVPN")", R"("interface_name":"tun0")",
            create + u"inbounds[0].interface_name: adapter must be named SolvikVPN"_s);
        row("probe open to the network", R"("listen":"127.0.0.1")", R"("listen":"0.0.0.0")",
            create + u"inbounds[1].listen: must be a loopback address: 0.0.0.0"_s);
        row("probe without users",
            R"("users":[{"password":"0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35","username":"solvikvpn"}])",
            R"("users":[])", create + u"inbounds[1].users: missing value"_s);
        row("empty password", R"("password":"0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35")",
            R"("password":"")", create + u"inbounds[1].users[0].password: missing value"_s);
        row("probe on port 0", R"("listen_port":20808)", R"("listen_port":0)",
            create + u"inbounds[1].listen_port: port 0 is not allowed here"_s);
        row("bracketed IPv6 server", R"("server":"203.0.113.7")", R"("server":"[2001:db8::1]")",
            create + u"outbounds[0].server: invalid server address: [2001:db8::1]"_s);
        row("bare IPv6 server", R"("server":"203.0.113.7")", R"("server":"2001:db8::1")",
            QString());
        row("host name server", R"("server":"203.0.113.7")", R"("server":"vpn.example.net")",
            QString());
        row("bad uuid", R"("uuid":"d342d11e-d424-4583-b36e-524ab1f0afa4")", R"("uuid":"d342d11e")",
            create + u"outbounds[0].uuid: parse uuid: invalid UUID"_s);
        row("other flow", R"("flow":"xtls-rprx-vision")", R"("flow":"xtls-rprx-direct")",
            create + u"outbounds[0].flow: unsupported flow: xtls-rprx-direct"_s);
        row("upper-case fingerprint", R"("fingerprint":"chrome")", R"("fingerprint":"Chrome")",
            create + u"outbounds[0].tls.utls.fingerprint: unknown uTLS fingerprint: Chrome"_s);
        row("reality without utls", R"("utls":{"enabled":true,)", R"("utls":{"enabled":false,)",
            create + u"outbounds[0].tls.reality: uTLS is required by reality client"_s);
        row("short public key", R"("public_key":"ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM")",
            R"("public_key":"ZGVmZ2hp")",
            create + u"outbounds[0].tls.reality.public_key: decode public_key: invalid key"_s);
        row("odd short id", R"("short_id":"0123ABCD")", R"("short_id":"0123ABC")",
            create + u"outbounds[0].tls.reality.short_id: decode short_id: invalid short id"_s);
        row("udp dns by name", R"("server":"1.1.1.1","tag":"bootstrap")",
            R"("server":"one.one","tag":"bootstrap")",
            create + u"dns.servers[0].server: invalid IP address: one.one"_s);
        row("dns detour to nowhere", R"("detour":"proxy")", R"("detour":"tunnel")",
            create + u"dns.servers[1].detour: outbound not found: tunnel"_s);
        row("dns final to nowhere", R"("final":"remote")", R"("final":"doh")",
            create + u"dns.final: DNS server not found: doh"_s);
        row("resolver to nowhere", R"("server":"bootstrap","strategy")",
            R"("server":"local","strategy")",
            create + u"route.default_domain_resolver.server: DNS server not found: local"_s);
        row("duplicate outbound tag", R"({"tag":"direct","type":"direct"})",
            R"({"tag":"proxy","type":"direct"})",
            create + u"outbounds[1].tag: duplicate outbound tag: proxy"_s);
        row("unknown log level", R"("level":"warn")", R"("level":"warning")",
            create + u"log.level: unknown log level: warning"_s);
        row("low mtu", R"("mtu":1400)", R"("mtu":1000)",
            create + u"inbounds[0].mtu: MTU out of range: 1000"_s);
        row("bad tun prefix", R"("172.29.255.1/30")", R"("172.29.255.1/33")",
            create + u"inbounds[0].address[0]: invalid prefix: 172.29.255.1/33"_s);
    }

    void decodes()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, message);
        QVERIFY2(baseDocument.count(from) == 1, "the row must edit exactly one place");
        QByteArray document = baseDocument;
        document.replace(from, to);
        engineconfig::Document decoded;
        QString error;
        const bool accepted = engineconfig::decode(document, u"stdin"_s, &decoded, &error);
        QCOMPARE(error, message);
        QCOMPARE(accepted, message.isEmpty());
    }

    // Qt words JSON syntax errors itself, so only the engine's part of those messages is fixed.
    void refusesMalformedDocuments_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<QString>("message");
        QTest::newRow("broken JSON") << QByteArray(R"({"dns":)") << u"decode config at stdin: "_s;
        QTest::newRow("empty") << QByteArray("  \n")
                               << u"decode config at stdin: unexpected end of JSON input"_s;
        QTest::newRow("array")
            << QByteArray("[]")
            << u"decode config at stdin: json: cannot unmarshal array into Go value of type object"_s;
        QTest::newRow("inbound not an object")
            << QByteArray(baseDocument).replace(R"("inbounds":[)", R"("inbounds":[7,)")
            << u"decode config at stdin: inbounds[0]: json: cannot unmarshal number into Go value of type object"_s;
    }

    void refusesMalformedDocuments()
    {
        QFETCH(QByteArray, document);
        QFETCH(QString, message);
        engineconfig::Document decoded;
        QString error;
        QVERIFY(!engineconfig::decode(document, u"stdin"_s, &decoded, &error));
        QVERIFY2(error.startsWith(message), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestEngineConfig)
#include "tst_engineconfig.moc"
