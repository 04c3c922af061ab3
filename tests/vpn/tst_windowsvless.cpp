#include "common/enginecommand.h"
#include "common/engineconfiguration.h"
#include "common/protectedstore.h"
#include "common/secretwipe.h"
#include "common/tunnelcontract.h"
#include "common/tunnelstatus.h"
#include "platform/exitstatus.h"
#include "platform/posix/servicerecord.h"
#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "vpn/windowsvless.h"

#include "adaptersignalrecorder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString tunnelName = u"tnel_0123456789abcdef0123"_s;
const QString testLink = u"vless://d342d11e-d424-4583-b36e-524ab1f0afa4@203.0.113.7:443?security="
                         u"reality&type=tcp&encryption=none&sni=www.example.com"
                         u"&pbk=ZGVmZ2hpamtsbW5vcHFyc3R1dnd4eXp7fH1-f4CBgoM&sid=0123abcd&fp=chrome"
                         u"&flow=xtls-rprx-vision"_s;

const QString missingMessage = u"The bundled VPN engine is missing. Reinstall Solvik VPN."_s;
const QString rejectedMessage =
    u"The VPN engine rejected the server profile. Update Solvik VPN or contact support."_s;
const QString secureMessage = u"Could not establish a secure connection to this server. Try "
                              u"another server or contact support."_s;
const QString checkMessage = u"The VPN server did not pass the connection check. Check its "
                             u"VLESS/REALITY settings or choose another server."_s;
const QString configurationMessage = u"The VPN engine could not load its network configuration. "
                                     u"Update Solvik VPN or contact support."_s;
const QString unreachableMessage = u"The VPN server could not be reached. Check your internet "
                                   u"connection or choose another server."_s;

// Engine stand-ins: the accepting one keeps what it was given next to itself for the test to read.
const QByteArray engineAccepts = "cat > \"$0.stdin\"\nexit 0\n";
const QByteArray engineDecodeFails =
    "cat > /dev/null\necho 'FATAL[0000] decode config at stdin: inbounds[0].x: json: unknown "
    "field \"x\"' >&2\nexit 1\n";
const QByteArray engineFailsSilently = "cat > /dev/null\nexit 1\n";
const QByteArray engineHangs = "exec sleep 30\n";
const QByteArray engineHangsAfterTimeout =
    "echo 'dial tcp 203.0.113.7:443: i/o timeout' >&2\nexec sleep 30\n";
const QByteArray engineCrashes = "echo 'reality verification failed' >&2\nkill -9 $$\n";

TunnelProfile testProfile()
{
    return *parseTunnelProfile(QJsonObject{{u"uri"_s, testLink}});
}

void writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("#!/bin/sh\n" + body);
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

// The helper stand-in records its arguments and, like the helper, owns the error file in the
// folder the client may only read: an install removes a leftover one and, for the test, puts a
// prepared report in its place (as the service would); a successful stop removes it. Exits with
// `code`.
QByteArray helperExiting(std::uint32_t code)
{
    return "printf '%s\\n' \"$@\" > \"$0.args\"\n"
           "error=\"$SOLVIKVPN_SERVICE_ROOT/tunnel-errors/$2.vless.dpapi.error.dpapi\"\n"
           "if [ \"$1\" = --install ]; then\n"
           "  rm -f \"$error\"\n"
           "  [ -f \"$0.error\" ] && cp \"$0.error\" \"$error\"\n"
           "elif [ " +
           QByteArray::number(code) +
           " = 0 ]; then\n"
           "  rm -f \"$error\"\n"
           "fi\n"
           "exit " +
           QByteArray::number(platform::toExitStatus(code)) + '\n';
}

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

// Sets an environment variable for one scope.
class ScopedVariable
{
public:
    ScopedVariable(const char *name, const QByteArray &value)
        : m_name(name)
        , m_previous(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~ScopedVariable() { qputenv(m_name, m_previous); }

private:
    const char *m_name;
    QByteArray m_previous;
};

} // namespace

class TestWindowsVless : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void preparationFailures_data();
    void preparationFailures();
    void engineCheckFailures_data();
    void engineCheckFailures();
    void installOutcomes_data();
    void installOutcomes();
    void engineChecksWhatTheServiceWillRun();
    void stopOutcomes_data();
    void stopOutcomes();
    void operationsWhileBusyDoNothing();
    void elevationRefused_data();
    void elevationRefused();
    void refreshReportsServiceState_data();
    void refreshReportsServiceState();
    void refreshReadsTheStatusRecord();

private:
    QString enginePath() const { return enginecommand::enginePath(m_application->path()); }
    QString helperPath() const { return tunnelcontract::helperPath(m_application->path()); }
    QString profilePath() const
    {
        return tunnelcontract::tunnelProfilePath(protectedstore::dataDirectory(), tunnelName);
    }
    QString errorPath() const { return tunnelcontract::tunnelErrorPath(tunnelName); }
    std::unique_ptr<WindowsVless> makeAdapter(int checkTimeoutMs = 5000) const;
    void prepareHelperReport(const QByteArray &report);

    TestHome m_home;
    QTemporaryDir m_serviceRoot;
    std::unique_ptr<QTemporaryDir> m_application;
};

void TestWindowsVless::initTestCase()
{
    QVERIFY(m_home.isValid());
    // Connects on this machine's own network: the block stays off here.
    settings::setBlockIfVpnDrops(false);
    QVERIFY(m_serviceRoot.isValid());
    qputenv("SOLVIKVPN_SERVICE_ROOT", QFile::encodeName(m_serviceRoot.path()));
    qputenv("SOLVIKVPN_ELEVATION", "direct");
}

void TestWindowsVless::init()
{
    m_application = std::make_unique<QTemporaryDir>();
    QVERIFY(m_application->isValid());
    QVERIFY(QDir(m_application->path()).mkpath(u"core"_s));
    QVERIFY(QDir(profilePath()).removeRecursively());
    QFile::remove(profilePath());
    QFile::remove(errorPath());
    QVERIFY(QDir().mkpath(QFileInfo(errorPath()).absolutePath()));
}

std::unique_ptr<WindowsVless> TestWindowsVless::makeAdapter(int checkTimeoutMs) const
{
    auto adapter = std::make_unique<WindowsVless>();
    adapter->setApplicationDirectory(m_application->path());
    adapter->setEngineCheckTimeout(checkTimeoutMs);
    return adapter;
}

void TestWindowsVless::prepareHelperReport(const QByteArray &report)
{
    QVERIFY(protectedstore::writeMachineProtectedFile(helperPath() + u".error"_s, tunnelName,
                                                      report, QString()));
}

void TestWindowsVless::preparationFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("withEngine");
    QTest::addColumn<bool>("withHelper");
    QTest::addColumn<bool>("profilePathBlocked");
    QTest::addColumn<QString>("expected");

    QTest::newRow("malformed tunnel name")
        << u"tnel_0123456789ABCDEF0123"_s << true << true << false << missingMessage;
    QTest::newRow("engine missing") << tunnelName << false << true << false << missingMessage;
    QTest::newRow("helper missing") << tunnelName << true << false << false << missingMessage;
    QTest::newRow("profile file cannot be written")
        << tunnelName << true << true << true << u"Could not save the encrypted VLESS profile."_s;
}

void TestWindowsVless::preparationFailures()
{
    QFETCH(QString, name);
    QFETCH(bool, withEngine);
    QFETCH(bool, withHelper);
    QFETCH(bool, profilePathBlocked);
    QFETCH(QString, expected);
    if (withEngine) {
        writeScript(enginePath(), engineAccepts);
    }
    if (withHelper) {
        writeScript(helperPath(), helperExiting(0));
    }
    if (profilePathBlocked) {
        // A directory where the file belongs makes the atomic replacement fail.
        QVERIFY(QDir().mkpath(profilePath()));
    }

    auto adapter = makeAdapter();
    AdapterSignalRecorder recorder(*adapter);
    adapter->start(name, testProfile());
    // Reported at once, alone, and the adapter never became busy.
    QCOMPARE(recorder.events, QStringList{u"failed: "_s + expected});
    QVERIFY(!adapter->busy());
    QTest::qWait(100);
    QCOMPARE(recorder.events.size(), 1);
    QVERIFY(!QFile::exists(enginePath() + u".stdin"_s));
    QVERIFY(!QFile::exists(helperPath() + u".args"_s));
}

void TestWindowsVless::engineCheckFailures_data()
{
    QTest::addColumn<QByteArray>("engine");
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("expected");

    QTest::newRow("configuration refused") << engineDecodeFails << true << configurationMessage;
    QTest::newRow("fails without a known phrase") << engineFailsSilently << true << rejectedMessage;
    QTest::newRow("hangs silently") << engineHangs << true << rejectedMessage;
    QTest::newRow("hangs after a diagnostic")
        << engineHangsAfterTimeout << true << unreachableMessage;
    QTest::newRow("crashes") << engineCrashes << true << secureMessage;
    QTest::newRow("cannot be started") << engineAccepts << false << rejectedMessage;
}

void TestWindowsVless::engineCheckFailures()
{
    QFETCH(QByteArray, engine);
    QFETCH(bool, executable);
    QFETCH(QString, expected);
    writeScript(enginePath(), engine);
    if (!executable) {
        QVERIFY(QFile::setPermissions(enginePath(), QFile::ReadOwner | QFile::WriteOwner));
    }
    writeScript(helperPath(), helperExiting(0));

    auto adapter = makeAdapter(400);
    AdapterSignalRecorder recorder(*adapter);
    QElapsedTimer clock;
    clock.start();
    adapter->start(tunnelName, testProfile());
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
    QVERIFY2(clock.elapsed() < 5000, "the hanging engine was not killed at its deadline");
    QCOMPARE(recorder.events, (QStringList{u"busy"_s, u"idle"_s, u"failed: "_s + expected}));
    QVERIFY(!adapter->busy());
    // The helper is never asked for elevation; the profile stays for a retry.
    QVERIFY(!QFile::exists(helperPath() + u".args"_s));
    QVERIFY(QFile::exists(profilePath()));
}

void TestWindowsVless::installOutcomes_data()
{
    QTest::addColumn<uint>("exitCode");
    QTest::addColumn<QByteArray>("report");
    QTest::addColumn<QString>("expected");

    QTest::newRow("installed") << 0u << QByteArray()
                               << u"state: Connected \u00b7 VLESS + REALITY"_s;
    QTest::newRow("health check failed, engine reported reality")
        << 1236u << QByteArray("ERROR[0004] connection: reality verification failed")
        << u"failed: "_s + secureMessage;
    QTest::newRow("health check failed, no report")
        << 1236u << QByteArray() << u"failed: "_s + checkMessage;
    QTest::newRow("service timed out, report without a known phrase")
        << 1053u << QByteArray("WARN[0001] nothing we know")
        << u"failed: The VPN engine could not start (Windows error 1053). Your profile is saved "
           u"for retry."_s;
    QTest::newRow("profile refused by the service, engine diagnostic")
        << 13u << QByteArray("FATAL[0000] parse config: bad")
        << u"failed: "_s + configurationMessage;
    QTest::newRow("programs in a folder others can change")
        << 5u << QByteArray("FATAL[0000] parse config: bad")
        << u"failed: Solvik VPN must be installed in a folder that only administrators can "
           u"change, such as Program Files."_s;
}

void TestWindowsVless::installOutcomes()
{
    QFETCH(uint, exitCode);
    QFETCH(QByteArray, report);
    QFETCH(QString, expected);
    writeScript(enginePath(), engineAccepts);
    writeScript(helperPath(), helperExiting(exitCode));
    if (!report.isEmpty()) {
        prepareHelperReport(report);
    }
    // A report of an earlier attempt, which the helper removes before it installs.
    QVERIFY(protectedstore::writeMachineProtectedFile(errorPath(), tunnelName,
                                                      "reality verification failed", QString()));

    auto adapter = makeAdapter();
    AdapterSignalRecorder recorder(*adapter);
    adapter->start(tunnelName, testProfile());
    QCOMPARE(recorder.events, QStringList{u"busy"_s});
    QVERIFY(adapter->busy());
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
    QCOMPARE(recorder.events, (QStringList{u"busy"_s, u"idle"_s, expected}));
    QVERIFY(!adapter->busy());

    QCOMPARE(linesOf(helperPath() + u".args"_s),
             (QStringList{u"--install"_s, tunnelName, QDir::toNativeSeparators(profilePath())}));
    // The profile file stays either way: the service reads it at every start, a retry reuses it.
    QByteArray plain = protectedstore::readProtectedFile(profilePath());
    QVERIFY(tunnelcontract::parseTunnelProfileFile(plain).has_value());
    secretwipe::wipe(plain);
}

void TestWindowsVless::engineChecksWhatTheServiceWillRun()
{
    writeScript(enginePath(), engineAccepts);
    writeScript(helperPath(), helperExiting(0));
    auto adapter = makeAdapter();
    AdapterSignalRecorder recorder(*adapter);
    adapter->start(tunnelName, testProfile());
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);

    QByteArray plain = protectedstore::readProtectedFile(profilePath());
    std::optional<tunnelcontract::TunnelProfileFile> file =
        tunnelcontract::parseTunnelProfileFile(plain);
    secretwipe::wipe(plain);
    QVERIFY(file.has_value());
    QVERIFY(file->profile.uri == testLink);
    QVERIFY(file->proxyPort >= tunnelcontract::minimumProxyPort);
    QCOMPARE(file->proxyPassword.size(), 36);
    QFile checked(enginePath() + u".stdin"_s);
    QVERIFY(checked.open(QIODevice::ReadOnly));
    const QByteArray expected = buildEngineConfiguration(
        file->profile, file->proxyPort, QLatin1String(engineProbeProxyUser), file->proxyPassword);
    QVERIFY2(checked.readAll() == expected, "the engine did not check the service's configuration");

    // Every start invents a new password and port.
    const QString firstPassword = file->proxyPassword;
    tunnelcontract::wipeTunnelProfileFile(*file);
    recorder.events.clear();
    adapter->start(tunnelName, testProfile());
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
    plain = protectedstore::readProtectedFile(profilePath());
    file = tunnelcontract::parseTunnelProfileFile(plain);
    secretwipe::wipe(plain);
    QVERIFY(file.has_value());
    QVERIFY(file->proxyPassword != firstPassword);
}

void TestWindowsVless::stopOutcomes_data()
{
    QTest::addColumn<uint>("exitCode");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("filesRemain");

    QTest::newRow("stopped") << 0u << u"state: Not connected"_s << false;
    QTest::newRow("service did not stop in time")
        << 1053u
        << u"failed: The VPN engine could not stop (Windows error 1053). Your profile is saved for "
           u"retry."_s
        << true;
    QTest::newRow("health-check code on stop") << 1236u << u"failed: "_s + checkMessage << true;
}

void TestWindowsVless::stopOutcomes()
{
    QFETCH(uint, exitCode);
    QFETCH(QString, expected);
    QFETCH(bool, filesRemain);
    writeScript(helperPath(), helperExiting(exitCode));
    // An error report is not consulted for a stop, however it reads.
    QVERIFY(protectedstore::writeMachineProtectedFile(profilePath(), tunnelName, "{}", QString()));
    QVERIFY(protectedstore::writeMachineProtectedFile(errorPath(), tunnelName,
                                                      "reality verification failed", QString()));

    auto adapter = makeAdapter();
    AdapterSignalRecorder recorder(*adapter);
    adapter->stop(u"tnel_0123"_s);
    QVERIFY(recorder.events.isEmpty());
    adapter->stop(tunnelName);
    QCOMPARE(recorder.events, QStringList{u"busy"_s});
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
    QCOMPARE(recorder.events, (QStringList{u"busy"_s, u"idle"_s, expected}));
    QCOMPARE(linesOf(helperPath() + u".args"_s), (QStringList{u"--stop"_s, tunnelName}));
    QCOMPARE(QFile::exists(profilePath()), filesRemain);
    QCOMPARE(QFile::exists(errorPath()), filesRemain);
}

void TestWindowsVless::operationsWhileBusyDoNothing()
{
    writeScript(enginePath(), engineHangs);
    writeScript(helperPath(), helperExiting(0));
    auto adapter = makeAdapter(600);
    AdapterSignalRecorder recorder(*adapter);
    adapter->start(tunnelName, testProfile());
    QCOMPARE(recorder.events, QStringList{u"busy"_s});
    adapter->start(tunnelName, testProfile());
    adapter->stop(tunnelName);
    adapter->refresh(tunnelName);
    QCOMPARE(recorder.events, QStringList{u"busy"_s});
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
    QCOMPARE(recorder.events, (QStringList{u"busy"_s, u"idle"_s, u"failed: "_s + rejectedMessage}));

    // Idle again: the next start is accepted and runs to the end.
    writeScript(enginePath(), engineAccepts);
    recorder.events.clear();
    adapter->start(tunnelName, testProfile());
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
    QCOMPARE(recorder.events.last(), u"state: Connected \u00b7 VLESS + REALITY"_s);
}

void TestWindowsVless::elevationRefused_data()
{
    QTest::addColumn<QByteArray>("elevator");
    QTest::addColumn<bool>("stopping");
    QTest::addColumn<uint>("error");

    QTest::newRow("prompt dismissed on start") << QByteArray("exit 126\n") << false << 1223u;
    QTest::newRow("prompt dismissed on stop") << QByteArray("exit 126\n") << true << 1223u;
    QTest::newRow("not authorised") << QByteArray("exit 127\n") << false << 5u;
    QTest::newRow("no elevator at all") << QByteArray() << false << 2u;
}

void TestWindowsVless::elevationRefused()
{
    QFETCH(QByteArray, elevator);
    QFETCH(bool, stopping);
    QFETCH(uint, error);
    writeScript(enginePath(), engineAccepts);
    writeScript(helperPath(), helperExiting(0));
    const QString elevatorPath = m_application->filePath(u"elevator"_s);
    if (!elevator.isEmpty()) {
        writeScript(elevatorPath, elevator);
    }
    ScopedVariable choice("SOLVIKVPN_ELEVATION", QFile::encodeName(elevatorPath));

    auto adapter = makeAdapter();
    AdapterSignalRecorder recorder(*adapter);
    if (stopping) {
        adapter->stop(tunnelName);
    } else {
        adapter->start(tunnelName, testProfile());
    }
    QTRY_VERIFY_WITH_TIMEOUT(recorder.ended(), 10000);
    QCOMPARE(recorder.events,
             (QStringList{u"busy"_s, u"idle"_s,
                          u"failed: Windows permission was declined or the VPN helper could not "
                          u"start (error %1)."_s.arg(error)}));
    QVERIFY(!QFile::exists(helperPath() + u".args"_s));
}

void TestWindowsVless::refreshReportsServiceState_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("managerReachable");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("never installed")
        << tunnelName << true << QStringList{u"state: Not connected"_s};
    QTest::newRow("service manager unreachable")
        << tunnelName << false << QStringList{u"state: VPN status unknown"_s};
    QTest::newRow("malformed name is ignored")
        << u"tnel_0123456789abcdef012"_s << true << QStringList();
}

void TestWindowsVless::refreshReportsServiceState()
{
    QFETCH(QString, name);
    QFETCH(bool, managerReachable);
    QFETCH(QStringList, expected);
    const QByteArray root = managerReachable
                                ? QFile::encodeName(m_serviceRoot.path())
                                : QFile::encodeName(m_application->filePath(u"none"_s));
    ScopedVariable serviceRoot("SOLVIKVPN_SERVICE_ROOT", root);
    auto adapter = makeAdapter();
    AdapterSignalRecorder recorder(*adapter);
    adapter->refresh(name);
    QCOMPARE(recorder.events, expected);
}

void TestWindowsVless::refreshReadsTheStatusRecord()
{
    // This process stands in for the running service; a hostile record counts as none.
    platform::servicerecord::Record service;
    service.name = tunnelcontract::serviceName(tunnelName).toStdString();
    service.id = 1;
    service.state = platform::ServiceState::Running;
    service.pid = pid_t(QCoreApplication::applicationPid());
    service.pidStart = platform::servicerecord::processStartTime(service.pid);
    QVERIFY(platform::servicerecord::write(m_serviceRoot.path().toStdString(), service));
    auto adapter = makeAdapter();
    AdapterSignalRecorder recorder(*adapter);
    const QByteArray record =
        TunnelStatus{TunnelStatus::State::Reconnecting, 2, {}, {}}.serialize();
    for (const QByteArray &bytes :
         {record, TunnelStatus{}.serialize(), record + QByteArray(TunnelStatus::maximumSize, ' '),
          record.chopped(1), QByteArray(record).replace("reconnecting", "restarting")}) {
        QVERIFY(protectedstore::writeMachineProtectedFile(
            tunnelcontract::tunnelStatusPath(tunnelName), tunnelName, bytes, {}));
        adapter->refresh(tunnelName);
    }
    QCOMPARE(recorder.events.first(), u"state: Reconnecting\u2026 (attempt 2)"_s);
    QCOMPARE(recorder.events.count(u"state: Connected \u00b7 VLESS + REALITY"_s), 4);
}

QTEST_GUILESS_MAIN(TestWindowsVless)
#include "tst_windowsvless.moc"
