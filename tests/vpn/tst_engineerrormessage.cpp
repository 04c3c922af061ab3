#include "vpn/engineerrormessage.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString secureMessage =
    u"Could not establish a secure connection to this server. Try another server or contact support."_s;
const QString accessMessage =
    u"Windows denied access to the VPN network adapter. Allow administrator "
    u"access and check your security software."_s;
const QString adapterMessage =
    u"The VPN network adapter could not start. Restart Windows and retry; "
    u"reinstall Solvik VPN if the problem continues."_s;
const QString configurationMessage = u"The VPN engine could not load its network configuration. "
                                     u"Update Solvik VPN or contact support."_s;
const QString refusedMessage =
    u"The VPN server refused the connection. Choose another server or contact support."_s;
const QString unreachableMessage = u"The VPN server could not be reached. Check your internet "
                                   u"connection or choose another server."_s;

} // namespace

class TestEngineErrorMessage : public QObject
{
    Q_OBJECT

private slots:
    void mapsDiagnostics_data();
    void mapsDiagnostics();
};

void TestEngineErrorMessage::mapsDiagnostics_data()
{
    QTest::addColumn<QByteArray>("diagnostics");
    QTest::addColumn<QString>("expected");

    QTest::newRow("reality") << QByteArray("ERROR[0003] connection: open connection to "
                                           "203.0.113.7:443 using outbound/vless[proxy]: reality "
                                           "verification failed")
                             << secureMessage;
    QTest::newRow("access is denied, mixed case")
        << QByteArray("open tun: Access Is DENIED.") << accessMessage;
    QTest::newRow("permission denied")
        << QByteArray("open /dev/net/tun: permission denied") << accessMessage;
    QTest::newRow("wintun") << QByteArray("FATAL[0000] load WINTUN driver") << adapterMessage;
    QTest::newRow("create tun") << QByteArray("create tun interface: no such device")
                                << adapterMessage;
    QTest::newRow("configure tun") << QByteArray("start service: start inbound/tun[tun-in]: "
                                                 "configure tun interface: operation not permitted")
                                   << adapterMessage;
    QTest::newRow("start dns-transport")
        << QByteArray("start dns-transport[remote]: bad") << configurationMessage;
    QTest::newRow("decode config") << QByteArray("FATAL[0000] decode config at stdin: "
                                                 "inbounds[0].x: json: unknown field \"x\"")
                                   << configurationMessage;
    QTest::newRow("parse config") << QByteArray("Parse Config: unexpected end")
                                  << configurationMessage;
    QTest::newRow("connection refused")
        << QByteArray("dial tcp 203.0.113.7:443: connect: connection refused") << refusedMessage;
    QTest::newRow("i/o timeout") << QByteArray("dial tcp 203.0.113.7:443: I/O timeout")
                                 << unreachableMessage;
    QTest::newRow("network is unreachable")
        << QByteArray("connect: network is unreachable") << unreachableMessage;
    QTest::newRow("earlier group wins over a later one")
        << QByteArray("connection refused while wintun was starting") << adapterMessage;
    QTest::newRow("reality wins over everything after it")
        << QByteArray("i/o timeout; access is denied; reality verification failed")
        << secureMessage;
    QTest::newRow("phrase on a later line of binary output")
        << QByteArray("\x01\x02garbage\0\nline two: decode config", 34) << configurationMessage;
    QTest::newRow("no phrase") << QByteArray("WARN[0001] something else went wrong") << QString();
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("phrase split across words is no match")
        << QByteArray("connection was refused") << QString();
    QTest::newRow("non-ASCII letters are not folded") << QByteArray("\xc3\x84"
                                                                    "ccess is denied")
                                                      << QString();
}

void TestEngineErrorMessage::mapsDiagnostics()
{
    QFETCH(QByteArray, diagnostics);
    QFETCH(QString, expected);
    QCOMPARE(engineErrorMessage(diagnostics), expected);
}

QTEST_GUILESS_MAIN(TestEngineErrorMessage)
#include "tst_engineerrormessage.moc"
