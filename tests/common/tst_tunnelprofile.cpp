#include "common/tunnelprofile.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString userId = u"d342d11e-d424-4583-b36e-524ab1f0afa4"_s;
const QString publicKey = u"ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM"_s;
const QString validLink = u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@203.0.113.7:443"
                          u"?security=reality&type=tcp&encryption=none&sni=www.example.com"
                          u"&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123abcd"
                          u"&fp=chrome&flow=xtls-rprx-vision"_s;

// The valid link with one piece of text replaced; the piece must occur in it.
QString linkWith(const QString &from, const QString &to)
{
    Q_ASSERT(validLink.contains(from));
    return QString(validLink).replace(from, to);
}

QString hostLink(const QString &host)
{
    return linkWith(u"203.0.113.7"_s, host);
}

QString linkOfLength(qsizetype length)
{
    const QString prefix = validLink + u"&pad="_s;
    return prefix + QString(length - prefix.size(), u'x');
}

std::optional<TunnelProfile> parseLink(const QString &link)
{
    return parseTunnelProfile(QJsonObject{{u"uri"_s, link}});
}

// Three labels of 63 characters and one of `lastLabel`: a host name of 192 + lastLabel
// characters that keeps every label within DNS limits.
QString longHostName(int lastLabel)
{
    return QString(63, u'a') + u'.' + QString(63, u'b') + u'.' + QString(63, u'c') + u'.' +
           QString(lastLabel, u'd');
}

} // namespace

class TunnelProfileTest : public QObject
{
    Q_OBJECT

private slots:
    void validation_data();
    void validation();
    void fieldsKeepWhatWasReceived();
    void uriMemberMustBeText_data();
    void uriMemberMustBeText();
    void wipeClearsEveryField();
};

void TunnelProfileTest::validation_data()
{
    QTest::addColumn<QString>("link");
    // Empty when the link must be refused.
    QTest::addColumn<QString>("endpoint");

    const QString accepted = u"203.0.113.7:443"_s;

    QTest::newRow("ipv4 host") << validLink << accepted;
    QTest::newRow("ipv6 host") << hostLink(u"[2001:db8::1]"_s) << u"[2001:db8::1]:443"_s;
    QTest::newRow("dns host") << hostLink(u"vpn-1.example.com"_s) << u"vpn-1.example.com:443"_s;
    QTest::newRow("8192 code units") << linkOfLength(8192) << accepted;
    QTest::newRow("8193 code units") << linkOfLength(8193) << QString();
    QTest::newRow("empty") << QString() << QString();

    QTest::newRow("space in query value") << linkWith(u"fp=chrome"_s, u"fp=chrome "_s) << QString();
    QTest::newRow("space in host") << hostLink(u"203.0.113.7 "_s) << QString();
    QTest::newRow("tab in query") << linkWith(u"&fp="_s, u"&\tfp="_s) << QString();
    QTest::newRow("tab at start") << u'\t' + validLink << QString();
    QTest::newRow("line feed at end") << validLink + u'\n' << QString();
    QTest::newRow("delete character") << linkWith(u"sni="_s, u"sni=\x7f"_s) << QString();
    QTest::newRow("nul character")
        << linkWith(u"sid="_s, QStringView(u"sid=\0", 5).toString()) << QString();
    QTest::newRow("encoded dot in sni passes")
        << linkWith(u"sni=www.example.com"_s, u"sni=www%2Eexample.com"_s) << accepted;
    QTest::newRow("encoded space in sni")
        << linkWith(u"sni=www.example.com"_s, u"sni=www%20example.com"_s) << QString();
    QTest::newRow("encoded line feed after sni")
        << linkWith(u"sni=www.example.com"_s, u"sni=www.example.com%0A"_s) << QString();
    QTest::newRow("encoded line feed after sid")
        << linkWith(u"sid=0123abcd"_s, u"sid=0123abcd%0A"_s) << QString();
    QTest::newRow("encoded user id passes")
        << linkWith(u"vless://d342"_s, u"vless://%64342"_s) << accepted;
    QTest::newRow("encoded line feed after user id")
        << linkWith(u"0afa4@"_s, u"0afa4%0A@"_s) << QString();

    QTest::newRow("upper-case scheme") << linkWith(u"vless:"_s, u"VLESS:"_s) << QString();
    QTest::newRow("other scheme") << linkWith(u"vless:"_s, u"vmess:"_s) << QString();
    QTest::newRow("not a url") << u"vless://%zz@203.0.113.7:443"_s << QString();
    QTest::newRow("password") << linkWith(u"0afa4@"_s, u"0afa4:secret@"_s) << QString();
    QTest::newRow("slash before query") << linkWith(u":443?"_s, u":443/?"_s) << QString();
    QTest::newRow("empty host") << hostLink(QString()) << QString();
    QTest::newRow("no port") << linkWith(u":443"_s, QString()) << QString();
    QTest::newRow("port 0") << linkWith(u":443"_s, u":0"_s) << QString();
    QTest::newRow("port 1") << linkWith(u":443"_s, u":1"_s) << u"203.0.113.7:1"_s;
    QTest::newRow("port 65535") << linkWith(u":443"_s, u":65535"_s) << u"203.0.113.7:65535"_s;
    QTest::newRow("port 65536") << linkWith(u":443"_s, u":65536"_s) << QString();

    QTest::newRow("user id missing group") << linkWith(u"-d424"_s, QString()) << QString();
    QTest::newRow("user id not hex") << linkWith(u"d342d11e"_s, u"g342d11e"_s) << QString();
    QTest::newRow("no user id") << linkWith(userId + u'@', QString()) << QString();

    // The host is what the link writes, never a normal form of it: a shortened IPv4 address
    // would otherwise reach the engine as another address than the one named.
    QTest::newRow("host as written")
        << hostLink(u"VPN-1.Example.com"_s) << u"VPN-1.Example.com:443"_s;
    QTest::newRow("ipv6 as written") << hostLink(u"[2001:DB8:0::1]"_s) << u"[2001:DB8:0::1]:443"_s;
    QTest::newRow("three-part ipv4") << hostLink(u"203.0.113"_s) << QString();
    QTest::newRow("ipv4 as one number") << hostLink(u"1234"_s) << QString();
    QTest::newRow("ipv4 part above 255") << hostLink(u"203.0.113.256"_s) << QString();
    QTest::newRow("ipv4 leading zero") << hostLink(u"203.0.113.07"_s) << QString();
    QTest::newRow("ipv4 five parts") << hostLink(u"203.0.113.7.1"_s) << QString();
    QTest::newRow("ipv4 lowest") << hostLink(u"0.0.0.0"_s) << u"0.0.0.0:443"_s;
    QTest::newRow("host with underscore") << hostLink(u"vpn_1.example.com"_s) << QString();
    QTest::newRow("host leading hyphen") << hostLink(u"-vpn.example.com"_s) << QString();
    QTest::newRow("host trailing hyphen") << hostLink(u"vpn.example.com-"_s) << QString();
    QTest::newRow("host leading dot") << hostLink(u".vpn.example.com"_s) << QString();
    QTest::newRow("host trailing dot") << hostLink(u"vpn.example.com."_s) << QString();
    QTest::newRow("host 253 characters")
        << hostLink(longHostName(61)) << longHostName(61) + u":443"_s;
    QTest::newRow("host 254 characters") << hostLink(longHostName(62)) << QString();
    QTest::newRow("sni with underscore")
        << linkWith(u"sni=www.example.com"_s, u"sni=www_1.example.com"_s) << QString();
    QTest::newRow("sni 254 characters")
        << linkWith(u"sni=www.example.com"_s, u"sni="_s + longHostName(62)) << QString();

    QTest::newRow("security upper case")
        << linkWith(u"security=reality"_s, u"security=REALITY"_s) << QString();
    QTest::newRow("security tls") << linkWith(u"security=reality"_s, u"security=tls"_s)
                                  << QString();
    QTest::newRow("type upper case") << linkWith(u"type=tcp"_s, u"type=TCP"_s) << QString();
    QTest::newRow("type ws") << linkWith(u"type=tcp"_s, u"type=ws"_s) << QString();
    QTest::newRow("encryption upper case")
        << linkWith(u"encryption=none"_s, u"encryption=NONE"_s) << QString();
    QTest::newRow("flow upper case")
        << linkWith(u"flow=xtls-rprx-vision"_s, u"flow=XTLS-RPRX-VISION"_s) << QString();
    QTest::newRow("fp upper case") << linkWith(u"fp=chrome"_s, u"fp=Chrome"_s) << QString();
    QTest::newRow("fp unknown") << linkWith(u"fp=chrome"_s, u"fp=chrome_auto"_s) << QString();
    QTest::newRow("fp qq") << linkWith(u"fp=chrome"_s, u"fp=qq"_s) << accepted;
    QTest::newRow("fp 360") << linkWith(u"fp=chrome"_s, u"fp=360"_s) << accepted;
    QTest::newRow("fp randomized") << linkWith(u"fp=chrome"_s, u"fp=randomized"_s) << accepted;
    QTest::newRow("missing security") << linkWith(u"security=reality&"_s, QString()) << QString();
    QTest::newRow("missing type") << linkWith(u"&type=tcp"_s, QString()) << QString();
    QTest::newRow("missing encryption") << linkWith(u"&encryption=none"_s, QString()) << QString();
    QTest::newRow("missing sni") << linkWith(u"&sni=www.example.com"_s, QString()) << QString();
    QTest::newRow("missing flow") << linkWith(u"&flow=xtls-rprx-vision"_s, QString()) << QString();
    QTest::newRow("missing fp") << linkWith(u"&fp=chrome"_s, QString()) << QString();
    QTest::newRow("missing query")
        << linkWith(validLink.mid(validLink.indexOf(u'?')), QString()) << QString();

    QTest::newRow("sni twice with equal values")
        << validLink + u"&sni=www.example.com"_s << QString();
    QTest::newRow("unknown key twice") << validLink + u"&x=1&x=1"_s << QString();
    QTest::newRow("keys differing in case") << validLink + u"&SNI=other.example.com"_s << accepted;
    QTest::newRow("unknown items ignored")
        << linkWith(u"&fp="_s, u"&spx=%2F&headerType=none&fp="_s) << accepted;
    QTest::newRow("fragment ignored") << validLink + u"#Frankfurt%201"_s << accepted;

    QTest::newRow("key with spare bits")
        << linkWith(publicKey, publicKey.chopped(1) + u'N') << QString();
    QTest::newRow("key of 43 A") << linkWith(publicKey, QString(43, u'A')) << QString();
    QTest::newRow("key padded to 44") << linkWith(publicKey, publicKey + u"%3D"_s) << QString();
    QTest::newRow("key of 42 characters") << linkWith(publicKey, publicKey.chopped(1)) << QString();
    QTest::newRow("key in standard alphabet")
        << linkWith(publicKey, QString(publicKey).replace(u'-', u'+')) << QString();
    QTest::newRow("missing key") << linkWith(u"&pbk="_s + publicKey, QString()) << QString();

    QTest::newRow("short id of 1 digit") << linkWith(u"sid=0123abcd"_s, u"sid=a"_s) << QString();
    QTest::newRow("short id of 2 digits") << linkWith(u"sid=0123abcd"_s, u"sid=0a"_s) << accepted;
    QTest::newRow("short id of 16 digits")
        << linkWith(u"sid=0123abcd"_s, u"sid=0123456789abcdef"_s) << accepted;
    QTest::newRow("short id of 18 digits")
        << linkWith(u"sid=0123abcd"_s, u"sid=0123456789abcdef01"_s) << QString();
    QTest::newRow("short id not hex")
        << linkWith(u"sid=0123abcd"_s, u"sid=0123abcz"_s) << QString();
    QTest::newRow("missing short id") << linkWith(u"&sid=0123abcd"_s, QString()) << QString();
}

void TunnelProfileTest::validation()
{
    QFETCH(QString, link);
    QFETCH(QString, endpoint);

    const std::optional<TunnelProfile> profile = parseLink(link);
    QCOMPARE(profile.has_value(), !endpoint.isEmpty());
    if (profile) {
        QCOMPARE(profile->endpoint, endpoint);
        QVERIFY(profile->uri == link);
    }
}

void TunnelProfileTest::fieldsKeepWhatWasReceived()
{
    const QString link = u"vless://D342D11E-d424-4583-B36E-524ab1f0afa4@[2001:db8::1]:8443"
                         u"?flow=xtls-rprx-vision&fp=safari&sid=0123ABCD&pbk="_s +
                         publicKey +
                         u"&sni=cdn.example.org&encryption=none&type=tcp"
                         u"&security=reality"_s;
    const std::optional<TunnelProfile> profile = parseLink(link);
    QVERIFY(profile.has_value());
    QVERIFY(profile->uri == link);
    QCOMPARE(profile->endpoint, u"[2001:db8::1]:8443"_s);
    QCOMPARE(profile->host, u"2001:db8::1"_s);
    QVERIFY(profile->uuid == u"D342D11E-d424-4583-B36E-524ab1f0afa4"_s);
    QCOMPARE(profile->serverName, u"cdn.example.org"_s);
    QVERIFY(profile->publicKey == publicKey);
    QCOMPARE(profile->shortId, u"0123ABCD"_s);
    QCOMPARE(profile->fingerprint, u"safari"_s);
    QCOMPARE(profile->flow, u"xtls-rprx-vision"_s);
    QCOMPARE(profile->port, 8443);
}

void TunnelProfileTest::uriMemberMustBeText_data()
{
    QTest::addColumn<QJsonObject>("connection");
    QTest::newRow("missing") << QJsonObject{};
    QTest::newRow("number") << QJsonObject{{u"uri"_s, 443}};
    QTest::newRow("array") << QJsonObject{{u"uri"_s, QJsonArray{validLink}}};
    QTest::newRow("other member") << QJsonObject{{u"url"_s, validLink}};
}

void TunnelProfileTest::uriMemberMustBeText()
{
    QFETCH(QJsonObject, connection);
    QVERIFY(!parseTunnelProfile(connection).has_value());
}

void TunnelProfileTest::wipeClearsEveryField()
{
    std::optional<TunnelProfile> profile = parseLink(validLink);
    QVERIFY(profile.has_value());
    wipeTunnelProfile(*profile);
    for (const QString *field :
         {&profile->uri, &profile->endpoint, &profile->host, &profile->uuid, &profile->serverName,
          &profile->publicKey, &profile->shortId, &profile->fingerprint, &profile->flow}) {
        QVERIFY(field->isEmpty());
    }
    QCOMPARE(profile->port, 0);
}

QTEST_GUILESS_MAIN(TunnelProfileTest)
#include "tst_tunnelprofile.moc"
