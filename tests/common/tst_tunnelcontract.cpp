#include "common/enginecommand.h"
#include "common/tunnelcontract.h"
#include "platform/systemfolder.h"

#include <QDir>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString tunnelName = u"tnel_0123456789abcdef0123"_s;
const QString profileLink = u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@203.0.113.7:443"
                            u"?security=reality&type=tcp&encryption=none&sni=www.example.com"
                            u"&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123abcd"
                            u"&fp=chrome&flow=xtls-rprx-vision"_s;
const QString password = u"0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35"_s;
const QString exeSuffix = QStringLiteral(SOLVIKVPN_EXE_SUFFIX);

// A tunnel profile file as the client writes it, with `replace` substituted for `field`.
QByteArray fileWith(const QByteArray &field, const QByteArray &replace)
{
    QByteArray file = R"({"connection":{"uri":")" + profileLink.toUtf8() +
                      R"("},"proxyPassword":"0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35",)"
                      R"("proxyPort":20808})";
    Q_ASSERT(file.contains(field));
    return file.replace(field, replace);
}

} // namespace

class TunnelContractTest : public QObject
{
    Q_OBJECT

private slots:
    void tunnelNames_data();
    void tunnelNames();
    void namesAndPaths();
    void commandLines();
    void profileFileAsWritten();
    void profileFileReader_data();
    void profileFileReader();
    void profileFileRoundTrip();
};

void TunnelContractTest::tunnelNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("valid");

    QTest::newRow("20 lower-case digits") << tunnelName << true;
    QTest::newRow("upper-case hex") << u"tnel_0123456789ABCDEF0123"_s << false;
    QTest::newRow("19 digits") << tunnelName.chopped(1) << false;
    QTest::newRow("21 digits") << tunnelName + u'4' << false;
    QTest::newRow("upper-case prefix") << u"TNEL_0123456789abcdef0123"_s << false;
    QTest::newRow("not hex") << u"tnel_0123456789abcdef012g"_s << false;
    QTest::newRow("trailing line feed") << tunnelName + u'\n' << false;
    QTest::newRow("path traversal") << u"tnel_0123456789abcdef0123/../x"_s << false;
    QTest::newRow("empty") << QString() << false;
}

void TunnelContractTest::tunnelNames()
{
    QFETCH(QString, name);
    QFETCH(bool, valid);
    QCOMPARE(tunnelcontract::isValidTunnelName(name), valid);
}

void TunnelContractTest::namesAndPaths()
{
    const QString appDir = u"/opt/Solvik VPN"_s;
    QCOMPARE(tunnelcontract::serviceName(tunnelName), u"SolvikVPN$tnel_0123456789abcdef0123"_s);
    QCOMPARE(tunnelcontract::serviceDisplayName(tunnelName),
             u"Solvik VPN VLESS Tunnel (tnel_0123456789abcdef0123)"_s);
    QVERIFY(tunnelcontract::serviceDisplayName(u"tnel_00000000000000000000"_s) !=
            tunnelcontract::serviceDisplayName(tunnelName));
    QCOMPARE(tunnelcontract::helperPath(appDir), u"/opt/Solvik VPN/solvikvpn-tunnel"_s + exeSuffix);
    QCOMPARE(enginecommand::enginePath(appDir), u"/opt/Solvik VPN/core/sing-box"_s + exeSuffix);
    QCOMPARE(enginecommand::engineDirectory(appDir), u"/opt/Solvik VPN/core"_s);

    const QString profilePath = tunnelcontract::tunnelProfilePath(u"/home/a/data"_s, tunnelName);
    QCOMPARE(profilePath, u"/home/a/data/tnel_0123456789abcdef0123.vless.dpapi"_s);
    // The error file never lies beside the profile: the service would write where the user can
    // swap folders for links.
    const QString errorPath = tunnelcontract::tunnelErrorPath(tunnelName);
    QCOMPARE(errorPath,
             QDir::fromNativeSeparators(QString::fromStdString(platform::tunnelErrorDirectory())) +
                 u"/tnel_0123456789abcdef0123.vless.dpapi.error.dpapi"_s);
    QVERIFY(!errorPath.startsWith(u"/home/a/data"_s));

    for (const QUrl &url : tunnelcontract::connectivityCheckUrls()) {
        QCOMPARE(url.scheme(), u"https"_s);
        QCOMPARE(url.path(), u"/generate_204"_s);
    }
    const QList<QUrl> urls = tunnelcontract::connectivityCheckUrls();
    QCOMPARE(urls.size(), 2);
    QVERIFY(urls.at(0).host() != urls.at(1).host());
}

void TunnelContractTest::commandLines()
{
    const QString profilePath = u"/home/a b/Solvik VPN/tnel_0123456789abcdef0123.vless.dpapi"_s;
    QCOMPARE(tunnelcontract::installArguments(tunnelName, profilePath),
             u"--install tnel_0123456789abcdef0123 \""_s + QDir::toNativeSeparators(profilePath) +
                 u'"');
    QCOMPARE(tunnelcontract::stopArguments(tunnelName), u"--stop tnel_0123456789abcdef0123"_s);

    QCOMPARE(enginecommand::checkArguments(), (QStringList{u"check"_s, u"-c"_s, u"stdin"_s}));
    QCOMPARE(enginecommand::runArguments(),
             (QStringList{u"run"_s, u"-c"_s, u"stdin"_s, u"--disable-color"_s}));
}

void TunnelContractTest::profileFileAsWritten()
{
    QByteArray written = tunnelcontract::serializeTunnelProfileFile(profileLink, 20808, password);
    QVERIFY(written == fileWith({}, {}));
}

void TunnelContractTest::profileFileReader_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("valid");

    QTest::newRow("as written") << fileWith({}, {}) << true;
    QTest::newRow("port 1024") << fileWith("20808", "1024") << true;
    QTest::newRow("port 65535") << fileWith("20808", "65535") << true;
    QTest::newRow("port 1023") << fileWith("20808", "1023") << false;
    QTest::newRow("port 65536") << fileWith("20808", "65536") << false;
    QTest::newRow("port 4.5") << fileWith("20808", "4.5") << false;
    QTest::newRow("port 20808.5") << fileWith("20808", "20808.5") << false;
    QTest::newRow("port as text") << fileWith("20808", "\"20808\"") << false;
    QTest::newRow("port null") << fileWith("20808", "null") << false;
    QTest::newRow("port negative") << fileWith("20808", "-20808") << false;
    QTest::newRow("upper-case password") << fileWith("0f8e5c1a-3b7d", "0F8E5C1A-3B7D") << false;
    QTest::newRow("password of 35") << fileWith("7e35\"", "7e3\"") << false;
    QTest::newRow("password with line feed") << fileWith("7e35\"", "7e3\\n\"") << false;
    QTest::newRow("password as number")
        << fileWith(R"("0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35")", "12345") << false;
    QTest::newRow("extra member") << fileWith("{\"connection\"", "{\"debug\":true,\"connection\"")
                                  << false;
    QTest::newRow("extra connection member")
        << fileWith("{\"uri\"", "{\"id\":\"7\",\"uri\"") << false;
    QTest::newRow("missing port") << fileWith(",\"proxyPort\":20808", "") << false;
    QTest::newRow("missing password")
        << fileWith(R"("proxyPassword":"0f8e5c1a-3b7d-4e29-9a61-d2c4b8f07e35",)", "") << false;
    QTest::newRow("missing connection")
        << fileWith(R"({"connection":{"uri":")" + profileLink.toUtf8() + R"("},)", "{") << false;
    QTest::newRow("connection not object")
        << fileWith(R"({"uri":")" + profileLink.toUtf8() + R"("})",
                    "\"" + profileLink.toUtf8() + "\"")
        << false;
    QTest::newRow("bad connection") << fileWith("security=reality", "security=tls") << false;
    QTest::newRow("array") << QByteArray("[" + fileWith({}, {}) + "]") << false;
    QTest::newRow("truncated") << fileWith({}, {}).chopped(1) << false;
    QTest::newRow("empty") << QByteArray() << false;
}

void TunnelContractTest::profileFileReader()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, valid);
    QCOMPARE(tunnelcontract::parseTunnelProfileFile(file).has_value(), valid);
}

void TunnelContractTest::profileFileRoundTrip()
{
    QByteArray written = tunnelcontract::serializeTunnelProfileFile(profileLink, 1024, password);
    std::optional<tunnelcontract::TunnelProfileFile> read =
        tunnelcontract::parseTunnelProfileFile(written);
    QVERIFY(read.has_value());
    QVERIFY(read->profile.uri == profileLink);
    QCOMPARE(read->profile.endpoint, u"203.0.113.7:443"_s);
    QCOMPARE(read->proxyPort, quint16(1024));
    QVERIFY(read->proxyPassword == password);

    tunnelcontract::wipeTunnelProfileFile(*read);
    QVERIFY(read->profile.uri.isEmpty());
    QVERIFY(read->proxyPassword.isEmpty());
    QCOMPARE(read->proxyPort, quint16(0));
}

QTEST_GUILESS_MAIN(TunnelContractTest)
#include "tst_tunnelcontract.moc"
