#include "platform/exitstatus.h"
#include "tunnel/commandline.h"
#include "tunnel/tunnelhelper.h"

#include "tunnelfixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

Q_DECLARE_METATYPE(TunnelMode)

namespace {

const QString name = TunnelFixture::tunnelName;
const QString path =
    u"C:\\Users\\Ann Lee\\AppData\\Local\\Solvik\\tnel_0123456789abcdef0123.vless.dpapi"_s;

} // namespace

class TestTunnelCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void acceptedLines_data();
    void acceptedLines();
    void malformedLinesExit87_data();
    void malformedLinesExit87();
    void refusedProfilePathsExit87_data();
    void refusedProfilePathsExit87();
    void cleanupTargets_data();
    void cleanupTargets();
    void serviceCommandLineQuotesPaths();
    void optionSwitches_data();
    void optionSwitches();

private:
    // One installation for the whole suite: every case here ends before touching it.
    std::unique_ptr<TunnelFixture> m_fixture;
};

void TestTunnelCommandLine::initTestCase()
{
    m_fixture = std::make_unique<TunnelFixture>(false);
    QVERIFY(m_fixture->isValid());
}

void TestTunnelCommandLine::acceptedLines_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<TunnelMode>("mode");
    QTest::addColumn<QString>("tunnelName");
    QTest::addColumn<QString>("profilePath");

    QTest::newRow("install") << QStringList{u"--install"_s, name, path} << TunnelMode::Install
                             << name << path;
    QTest::newRow("service") << QStringList{u"--service"_s, name, path} << TunnelMode::Service
                             << name << path;
    QTest::newRow("stop") << QStringList{u"--stop"_s, name} << TunnelMode::Stop << name
                          << QString();
    QTest::newRow("stop ignores extra arguments")
        << QStringList{u"--stop"_s, name, u"extra"_s, u"more"_s} << TunnelMode::Stop << name
        << QString();
    QTest::newRow("cleanup all") << QStringList{u"--cleanup-all"_s} << TunnelMode::CleanupAll
                                 << QString() << QString();
    QTest::newRow("cleanup legacy") << QStringList{u"--cleanup-legacy"_s}
                                    << TunnelMode::CleanupLegacy << QString() << QString();
}

void TestTunnelCommandLine::acceptedLines()
{
    QFETCH(QStringList, arguments);
    QFETCH(TunnelMode, mode);
    QFETCH(QString, tunnelName);
    QFETCH(QString, profilePath);

    const std::optional<TunnelCommand> command = parseTunnelCommandLine(arguments);
    QVERIFY(command);
    QCOMPARE(command->mode, mode);
    QCOMPARE(command->tunnelName, tunnelName);
    QCOMPARE(command->profilePath, profilePath);
}

void TestTunnelCommandLine::malformedLinesExit87_data()
{
    QTest::addColumn<QStringList>("arguments");

    const QString upper = u"tnel_0123456789ABCDEF0123"_s;
    const QString digits19 = u"tnel_0123456789abcdef012"_s;
    const QString digits21 = u"tnel_0123456789abcdef01234"_s;
    QTest::newRow("no arguments") << QStringList{};
    QTest::newRow("unknown mode") << QStringList{u"--start"_s, name};
    QTest::newRow("mode in upper case") << QStringList{u"--STOP"_s, name};
    QTest::newRow("single dash") << QStringList{u"-stop"_s, name};
    QTest::newRow("stop without name") << QStringList{u"--stop"_s};
    QTest::newRow("install without path") << QStringList{u"--install"_s, name};
    QTest::newRow("install with extra") << QStringList{u"--install"_s, name, path, u"x"_s};
    QTest::newRow("service without path") << QStringList{u"--service"_s, name};
    QTest::newRow("switch in upper case")
        << QStringList{u"--service"_s, name, path, u"--NO-RECONNECT"_s};
    QTest::newRow("cleanup all with extra") << QStringList{u"--cleanup-all"_s, name};
    QTest::newRow("cleanup legacy with extra") << QStringList{u"--cleanup-legacy"_s, u""_s};
    for (const auto &[label, bad] :
         {std::pair{"upper-case hex", upper}, std::pair{"19 digits", digits19},
          std::pair{"21 digits", digits21}, std::pair{"trailing line feed", name + u'\n'},
          std::pair{"other prefix", u"zelv_0123456789abcdef0123"_s}}) {
        QTest::addRow("stop, %s", label) << QStringList{u"--stop"_s, bad};
        QTest::addRow("install, %s", label) << QStringList{u"--install"_s, bad, path};
        QTest::addRow("service, %s", label) << QStringList{u"--service"_s, bad, path};
    }
}

void TestTunnelCommandLine::malformedLinesExit87()
{
    QFETCH(QStringList, arguments);

    QVERIFY(!parseTunnelCommandLine(arguments));

    // The program itself: a refused line touches nothing and ends with 87 at once.
    QProcess program;
    program.setProcessEnvironment(m_fixture->environment());
    program.start(m_fixture->programPath(), arguments);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(platform::fromExitStatus(program.exitCode()), 87u);
}

void TestTunnelCommandLine::refusedProfilePathsExit87_data()
{
    QTest::addColumn<QString>("fileName"); // the file that exists, in the data directory
    QTest::addColumn<QString>("argument"); // the path as given; %1 is the data directory

    const QString file = name + u".vless.dpapi"_s;
    QTest::newRow("file name differs in case")
        << file << u"%1/tnel_0123456789abcdef0123.VLESS.dpapi"_s;
    QTest::newRow("file of another tunnel") << u"tnel_ffffffffffffffffffff.vless.dpapi"_s
                                            << u"%1/tnel_ffffffffffffffffffff.vless.dpapi"_s;
    QTest::newRow("missing file") << QString() << u"%1/"_s + file;
    QTest::newRow("double quote in the path")
        << u"say \"hi\"/"_s + file << u"%1/say \"hi\"/"_s + file;
    QTest::newRow("relative path") << file << u"data/"_s + file;
    QTest::newRow("dot-dot component") << file << u"%1/../data/"_s + file;
    QTest::newRow("network share") << file << u"//server/share/"_s + file;
}

void TestTunnelCommandLine::refusedProfilePathsExit87()
{
    QFETCH(QString, fileName);
    QFETCH(QString, argument);

    const QString data = m_fixture->dataDirectory();
    QFile file(data + u'/' + fileName);
    if (!fileName.isEmpty()) {
        QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QProcess program;
    program.setProcessEnvironment(m_fixture->environment());
    program.setWorkingDirectory(data + u"/.."_s);
    program.start(m_fixture->programPath(),
                  {u"--install"_s, name, QString(argument).replace(u"%1"_s, data)});
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(platform::fromExitStatus(program.exitCode()), 87u);
    file.remove();
}

void TestTunnelCommandLine::cleanupTargets_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<bool>("earlierOnly");
    QTest::addColumn<bool>("all");

    const QString hex = u"0123456789abcdef0123"_s;
    QTest::newRow("first earlier product") << u"WireGuardTunnel$zelv_"_s + hex << true << true;
    QTest::newRow("second earlier product") << u"PelgraVPN$tnel_"_s + hex << true << true;
    QTest::newRow("this product") << u"SolvikVPN$tnel_"_s + hex << false << true;
    QTest::newRow("upper-case hex") << u"PelgraVPN$tnel_0123456789ABCDEF0123"_s << false << false;
    QTest::newRow("wrong pairing") << u"WireGuardTunnel$tnel_"_s + hex << false << false;
    QTest::newRow("21 digits") << u"SolvikVPN$tnel_"_s + hex + u'4' << false << false;
    QTest::newRow("trailing line feed") << u"PelgraVPN$tnel_"_s + hex + u'\n' << false << false;
    QTest::newRow("prefix only") << u"xSolvikVPN$tnel_"_s + hex << false << false;
    QTest::newRow("unrelated") << u"Spooler"_s << false << false;
}

void TestTunnelCommandLine::cleanupTargets()
{
    QFETCH(QString, service);
    QFETCH(bool, earlierOnly);
    QFETCH(bool, all);

    QCOMPARE(tunnelhelper::isCleanupTarget(service, tunnelhelper::CleanupScope::EarlierProducts),
             earlierOnly);
    QCOMPARE(tunnelhelper::isCleanupTarget(service, tunnelhelper::CleanupScope::All), all);
}

void TestTunnelCommandLine::optionSwitches_data()
{
    QTest::addColumn<QStringList>("switches");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<bool>("reconnect");
    QTest::addColumn<bool>("block");
    QTest::addColumn<bool>("allowLocalNetwork");

    const QString noReconnect = u"--no-reconnect"_s;
    const QString block = u"--block"_s;
    const QString lan = u"--allow-lan"_s;
    QTest::newRow("none") << QStringList{} << true << true << false << false;
    QTest::newRow("no reconnect") << QStringList{noReconnect} << true << false << false << false;
    QTest::newRow("block") << QStringList{block} << true << true << true << false;
    QTest::newRow("all") << QStringList{noReconnect, block, lan} << true << false << true << true;
    QTest::newRow("out of order") << QStringList{block, noReconnect} << false << false << false
                                  << false;
    QTest::newRow("twice") << QStringList{block, block} << false << false << false << false;
    QTest::newRow("local network without block")
        << QStringList{lan} << false << false << false << false;
    QTest::newRow("upper case") << QStringList{u"--BLOCK"_s} << false << false << false << false;
}

// Both modes, and the line the client and the helper write reads back as the same options.
void TestTunnelCommandLine::optionSwitches()
{
    QFETCH(QStringList, switches);
    QFETCH(bool, accepted);
    for (const QString &mode : {u"--install"_s, u"--service"_s}) {
        const std::optional<TunnelCommand> command =
            parseTunnelCommandLine(QStringList{mode, name, path} + switches);
        QCOMPARE(bool(command), accepted);
        if (!command) {
            continue;
        }
        QFETCH(bool, reconnect);
        QFETCH(bool, block);
        QFETCH(bool, allowLocalNetwork);
        const tunnelcontract::TunnelOptions expected{reconnect, block, allowLocalNetwork};
        QCOMPARE(command->options, expected);
        QCOMPARE(QProcess::splitCommand(
                     tunnelhelper::serviceCommandLine(u"/opt/t"_s, name, path, command->options))
                     .mid(4),
                 switches);
    }
}

void TestTunnelCommandLine::serviceCommandLineQuotesPaths()
{
    // Written with forward slashes; the command line carries the platform's native form, so
    // compare against what QDir would produce rather than a fixed separator.
    const QString line = tunnelhelper::serviceCommandLine(
        u"/opt/Solvik VPN/solvikvpn-tunnel"_s, name, u"/home/ann lee/data/x.vless.dpapi"_s, {});
    const QStringList parts = QProcess::splitCommand(line);
    QCOMPARE(parts.size(), 4);
    QCOMPARE(QDir::fromNativeSeparators(parts.at(0)), u"/opt/Solvik VPN/solvikvpn-tunnel"_s);
    QCOMPARE(parts.at(1), u"--service"_s);
    QCOMPARE(parts.at(2), name);
    QCOMPARE(QDir::fromNativeSeparators(parts.at(3)), u"/home/ann lee/data/x.vless.dpapi"_s);
    QVERIFY(line.startsWith(u'"'));
    QVERIFY(line.endsWith(u'"'));
}

QTEST_GUILESS_MAIN(TestTunnelCommandLine)
#include "tst_tunnelcommandline.moc"
