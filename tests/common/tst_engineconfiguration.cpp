#include "common/engineconfiguration.h"
#include "support/handwrittenengineconfiguration.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString password = QString::fromLatin1(handwrittenProbePassword);

TunnelProfile profileOf(const QString &link)
{
    return parseTunnelProfile(QJsonObject{{u"uri"_s, link}}).value_or(TunnelProfile{});
}

const QByteArray publicKey = "ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM";

} // namespace

class EngineConfigurationTest : public QObject
{
    Q_OBJECT

private slots:
    void documentBytes_data();
    void documentBytes();
    void equalInputsGiveEqualBytes();
    void textIsEscapedNotInjected();
};

void EngineConfigurationTest::documentBytes_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<int>("proxyPort");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("ipv4, upper-case short id")
        << u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@203.0.113.7:443?security=reality"
           u"&type=tcp&encryption=none&sni=www.example.com"
           u"&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123ABCD&fp=chrome"
           u"&flow=xtls-rprx-vision"_s
        << 20808
        << handwrittenEngineConfiguration({"203.0.113.7", "443", "www.example.com", "chrome",
                                           publicKey, "0123ABCD",
                                           "d342d11e-d424-4583-b36e-524ab1f0afa4", "20808"});
    QTest::newRow("ipv6 without brackets")
        << u"vless://D342D11E-D424-4583-B36E-524AB1F0AFA4@[2001:db8::1]:8443?fp=qq&sid=ab"
           u"&flow=xtls-rprx-vision&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM"
           u"&sni=cdn.example.org&security=reality&type=tcp&encryption=none#Tokyo"_s
        << 65535
        << handwrittenEngineConfiguration({"2001:db8::1", "8443", "cdn.example.org", "qq",
                                           publicKey, "ab", "D342D11E-D424-4583-B36E-524AB1F0AFA4",
                                           "65535"});
}

void EngineConfigurationTest::documentBytes()
{
    QFETCH(QString, link);
    QFETCH(int, proxyPort);
    QFETCH(QByteArray, expected);

    const TunnelProfile profile = profileOf(link);
    QVERIFY(!profile.uri.isEmpty());
    const QByteArray document = buildEngineConfiguration(
        profile, quint16(proxyPort), QString::fromLatin1(engineProbeProxyUser), password);
    QCOMPARE(document, expected);
}

void EngineConfigurationTest::equalInputsGiveEqualBytes()
{
    const TunnelProfile profile =
        profileOf(u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@vpn.example.net:443"
                  u"?security=reality&type=tcp&encryption=none&sni=vpn.example.net"
                  u"&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=01&fp=ios"
                  u"&flow=xtls-rprx-vision"_s);
    QVERIFY(!profile.uri.isEmpty());
    const TunnelProfile copy = profile;
    const QByteArray first = buildEngineConfiguration(profile, 30000, u"solvikvpn"_s, password);
    const QByteArray second = buildEngineConfiguration(copy, 30000, u"solvikvpn"_s, password);
    QVERIFY(first == second);
    QVERIFY(first != buildEngineConfiguration(profile, 30001, u"solvikvpn"_s, password));
}

void EngineConfigurationTest::textIsEscapedNotInjected()
{
    // The builder trusts its inputs to be validated, but a password is still only ever a value.
    TunnelProfile profile =
        profileOf(u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@203.0.113.7:443?security=reality"
                  u"&type=tcp&encryption=none&sni=www.example.com"
                  u"&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123abcd&fp=chrome"
                  u"&flow=xtls-rprx-vision"_s);
    const QString hostile = u"x\",\"log\":{\"level\":\"trace\"},\"y\":\""_s;
    const QJsonObject parsed =
        QJsonDocument::fromJson(buildEngineConfiguration(profile, 2000, u"solvikvpn"_s, hostile))
            .object();
    QCOMPARE(parsed.value(u"log"_s).toObject().value(u"level"_s).toString(), u"warn"_s);
    QCOMPARE(parsed.keys(),
             (QStringList{u"dns"_s, u"inbounds"_s, u"log"_s, u"outbounds"_s, u"route"_s}));
}

QTEST_GUILESS_MAIN(EngineConfigurationTest)
#include "tst_engineconfiguration.moc"
