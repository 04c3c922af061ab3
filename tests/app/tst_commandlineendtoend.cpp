#include "api/devicecredentials.h"
#include "api/replyrules.h"
#include "app/applicationidentity.h"
#include "app/instancechannel.h"
#include "common/protectedstore.h"
#include "common/servicelog.h"
#include "settings/settingskeys.h"
#include "support/privatenetwork.h"
#include "support/testhome.h"

#include "tunnelfixture.h"
#include "vpntestbed.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <algorithm>
#include <csignal>
#include <memory>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int commandTimeoutMs = 60000;

// A network of this process's own with only loopback up: the client programs it starts reach
// the development backend and nothing outside.
struct Outcome
{
    int code = -1;
    QString output; // standard output, then standard error
    qint64 milliseconds = 0;
};

} // namespace

// The client program's command line end to end: real client processes, the tunnel program with
// the engine stub under a private POSIX service manager, and the development backend in this
// process, all in a network namespace of the test's own.
class TestCommandLineEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void commandsReachTheOneClient();

private:
    Outcome run(const QStringList &arguments);
    // The client processes running from the installation.
    QList<pid_t> clients() const;

    std::unique_ptr<TestHome> m_home;
    std::unique_ptr<TunnelFixture> m_fixture;
    std::unique_ptr<VpnTestBed> m_bed;
    QString m_client;
};

void TestCommandLineEndToEnd::initTestCase()
{
    if (geteuid() != 0 || !enterPrivateNetwork()) {
        QSKIP("needs root for a network namespace of its own");
    }
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    // The client's own identity and folders, so it finds the session and settings made here.
    QStandardPaths::setTestModeEnabled(false);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       qEnvironmentVariable("XDG_CONFIG_HOME"));
    identity::apply(RunKind::Normal);
    m_fixture = std::make_unique<TunnelFixture>();
    QVERIFY(m_fixture->isValid());
    m_client = m_fixture->applicationDirectory() + u"/solvikvpn"_s;
    QVERIFY(QFile::copy(QCoreApplication::applicationDirPath() + u"/solvikvpn"_s, m_client));
    m_bed = std::make_unique<VpnTestBed>();
    QVERIFY(m_bed->signIn());
    settings::setApiUrl(m_bed->apiUrl());
    settings::setProduction(false);
    qputenv(TunnelFixture::serviceRootVariable, QFile::encodeName(m_fixture->serviceRoot()));
    qputenv(TunnelFixture::checkUrlsVariable, (m_bed->apiUrl() + u"/generate_204"_s).toUtf8());
    qputenv("SOLVIKVPN_ELEVATION", "direct");
    qputenv("SOLVIKVPN_STUB_NO_TUN", "1");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const QString runtime = m_home->path() + u"/runtime"_s;
    QVERIFY(QDir().mkpath(runtime) &&
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
}

void TestCommandLineEndToEnd::cleanupTestCase()
{
    for (const pid_t pid : clients()) {
        ::kill(pid, SIGKILL);
    }
    if (m_fixture) {
        m_fixture->runProgram({u"--cleanup-all"_s}, m_fixture->environment());
    }
}

Outcome TestCommandLineEndToEnd::run(const QStringList &arguments)
{
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(m_client, arguments);
    // The backend answers from this thread's event loop.
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; },
                         commandTimeoutMs)) {
        process.kill();
    }
    const qint64 took = timer.elapsed();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())
                .trimmed(),
            took};
}

QList<pid_t> TestCommandLineEndToEnd::clients() const
{
    QList<pid_t> pids;
    const QStringList entries = QDir(u"/proc"_s).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool number = false;
        const pid_t pid = pid_t(entry.toInt(&number));
        if (number && QFile::symLinkTarget(u"/proc/%1/exe"_s.arg(pid)) == m_client) {
            pids << pid;
        }
    }
    return pids;
}

void TestCommandLineEndToEnd::commandsReachTheOneClient()
{
    const QString connected = u"Connected to Germany \u00b7 Frankfurt since "_s;
    QCOMPARE(run({u"--status"_s}).code, 3);
    // No client runs: one starts in the tray and connects.
    Outcome outcome = run({u"--connect"_s, u"DE"_s});
    QVERIFY2(outcome.code == 0 && outcome.output.startsWith(connected), qPrintable(outcome.output));
    outcome = run({u"--status"_s});
    QVERIFY2(outcome.code == 0 && outcome.output.startsWith(connected), qPrintable(outcome.output));

    // A second start shows the running client's window and ends.
    outcome = run({});
    QCOMPARE(outcome.code, 0);
    QVERIFY2(outcome.milliseconds < 1000, qPrintable(QString::number(outcome.milliseconds)));
    QCOMPARE(clients().size(), 1);

    outcome = run({u"--connect"_s, u"XX"_s});
    QCOMPARE(outcome.code, 2);
    QCOMPARE(outcome.output, u"No server or country \"XX\" in the server list."_s);
    QCOMPARE(run({u"--frobnicate"_s}).code, 2);
    outcome = run({u"--disconnect"_s});
    QCOMPARE(outcome.code, 0);
    QCOMPARE(outcome.output, u"Not connected"_s);
    QCOMPARE(run({u"--status"_s}).code, 3);
    QCOMPARE(clients().size(), 1);

    // An installer's request: it returns once the client has closed its channel, the last
    // thing it does, and starts none.
    QCOMPARE(run({u"--quit"_s}).code, 0);
    QTRY_COMPARE(clients().size(), 0);
    QCOMPARE(run({u"--quit"_s}).code, 0);
    QCOMPARE(clients().size(), 0);

    // A connect whose engine ends at once, its words holding the profile's secrets and a proxy
    // password, from a client of its own.
    const QJsonObject tokens = api::unwrapData(m_bed->loginReply);
    QStringList secrets{
        m_bed->backend.options().demoPassword, tokens.value(u"accessToken"_s).toString(),
        tokens.value(u"refreshToken"_s).toString(),
        api::deviceInfo().value(u"deviceToken"_s).toString(), u"proxy-Pa55word-7713"_s};
    const QJsonObject connection =
        m_bed->storedState().value(u"local"_s).toObject().value(u"connection"_s).toObject();
    const auto link = std::find_if(connection.begin(), connection.end(), [](const QJsonValue &v) {
        return v.toString().startsWith(u"vless://"_s);
    });
    QVERIFY(link != connection.end());
    const QUrl url(link->toString());
    secrets << url.toString() << url.userName() << QUrlQuery(url).queryItemValue(u"pbk"_s);
    const QByteArray words = "FATAL outbound " + secrets.at(5).toUtf8() + " user " +
                             secrets.at(6).toUtf8() + " key " + secrets.at(7).toUtf8() +
                             " password=" + secrets.at(4).toUtf8();
    qputenv("SOLVIKVPN_STUB_FAIL", "run");
    qputenv("SOLVIKVPN_STUB_DIAGNOSTIC", words);
    QCOMPARE(run({u"--connect"_s, u"DE"_s}).code, 1);
    QCOMPARE(run({u"--quit"_s}).code, 0);
    qunsetenv("SOLVIKVPN_STUB_FAIL");
    qunsetenv("SOLVIKVPN_STUB_DIAGNOSTIC");

    // What the runs left for support: the client's log, the tunnel service's, and a report with
    // both. Every step is there, and no secret.
    const QString reportPath = m_home->path() + u"/report.txt"_s;
    QCOMPARE(run({u"--problem-report"_s, reportPath}).code, 0);
    QFile reportFile(reportPath);
    QVERIFY(reportFile.open(QIODevice::ReadOnly));
    const QString report = QString::fromUtf8(reportFile.readAll());
    QFile clientLog(protectedstore::dataDirectory() + u"/solvikvpn.log"_s);
    QVERIFY(clientLog.open(QIODevice::ReadOnly));
    const QString logs = QString::fromUtf8(clientLog.readAll()) +
                         ServiceLog::read(settings::managedVlessTunnel()).join(u'\n');
    for (const QString &step :
         {u"client.start"_s, u"catalogue.loaded"_s, u"tunnel.state state=Connecting"_s,
          u"engine.check passed=1"_s, u"helper.install exitCode=0"_s,
          u"tunnel.state state=Connected server="_s, u"tunnel.state state=Disconnecting"_s,
          u"helper.stop exitCode=0"_s, u"tunnel.state state=NotConnected"_s,
          u"helper.install exitCode=1062"_s, u"tunnel.startFailed reason="_s, u"service.start"_s,
          u"engine.ready"_s, u"service.stop ran=1"_s,
          u"service.stop ran=0 lost=0 engineExit=1 output=\"FATAL"_s}) {
        QVERIFY2(logs.contains(step), qPrintable(step));
        QVERIFY2(report.contains(step), qPrintable(step));
    }
    QVERIFY(report.contains(u"\nEngine: sing-box version 1.12.0 (engine stub)\n"_s));
    for (const QString &secret : secrets) {
        QVERIFY(!secret.isEmpty());
        QVERIFY2(!logs.contains(secret) && !report.contains(secret), qPrintable(secret));
    }
}

QTEST_GUILESS_MAIN(TestCommandLineEndToEnd)
#include "tst_commandlineendtoend.moc"
