#include "tunnel/enginesupervisor.h"

#include "common/protectedstore.h"
#include "common/secretwipe.h"
#include "common/tunnelcontract.h"

#include "swapper.h"
#include "tunnelfixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using platform::ServiceState;

Q_DECLARE_METATYPE(ServiceState)

namespace {

// Sets engine-stub variables for one case and removes them again.
class StubEnvironment
{
public:
    explicit StubEnvironment(const QStringList &assignments)
    {
        for (const QString &assignment : assignments) {
            const QByteArray name = assignment.section(u'=', 0, 0).toUtf8();
            qputenv(name.constData(), assignment.section(u'=', 1).toUtf8());
            m_names.append(name);
        }
    }
    ~StubEnvironment()
    {
        for (const QByteArray &name : std::as_const(m_names)) {
            qunsetenv(name.constData());
        }
    }

private:
    QList<QByteArray> m_names;
};

// The stub's flood: 16-byte lines, each the offset of its first byte in 15 digits and a line
// feed, so any window of it is known without asking the stub.
QByteArray floodTail(qint64 total, qint64 count)
{
    QByteArray bytes;
    for (qint64 line = 0; line < total; line += 16) {
        if (line + 16 > total - count) {
            bytes += QByteArray::number(line).rightJustified(15, '0') + '\n';
        }
    }
    return bytes.right(count);
}

struct Outcome
{
    std::uint32_t exitCode = 0;
    QList<ServiceState> states;
    qint64 elapsedMs = 0;
};

// Runs the supervisor on this thread; a stop is requested as soon as RUNNING is reported.
Outcome runSupervisor(const TunnelFixture &fixture, EngineSupervisor::Timings timings,
                      const QString &tunnelName = TunnelFixture::tunnelName,
                      const QString &profilePath = QString())
{
    Outcome outcome;
    platform::Event stop;
    EngineSupervisor supervisor(
        fixture.applicationDirectory(), tunnelName,
        profilePath.isEmpty() ? fixture.profilePath() : profilePath, {},
        [&](ServiceState state, std::uint32_t exitCode) {
            outcome.states.append(state);
            if (state == ServiceState::Running) {
                stop.set();
            }
            if (state == ServiceState::Stopped) {
                outcome.exitCode = exitCode;
            }
        },
        timings);
    QElapsedTimer timer;
    timer.start();
    const std::uint32_t result = supervisor.run(stop);
    outcome.elapsedMs = timer.elapsed();
    if (result != outcome.exitCode) {
        outcome.states.append(ServiceState::Other); // the return value must match the report
    }
    return outcome;
}

EngineSupervisor::Timings fastTimings()
{
    EngineSupervisor::Timings timings;
    timings.breakGraceMs = 300;
    timings.terminateGraceMs = 2000;
    return timings;
}

// The mode bits of a file (the "User" flags describe this process, which as root may do all).
QFileDevice::Permissions modeOf(const QString &path)
{
    const auto user = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
    return QFile::permissions(path) & ~user;
}

const QList<ServiceState> ranStates{ServiceState::StartPending, ServiceState::Running,
                                    ServiceState::StopPending, ServiceState::Stopped};
const QList<ServiceState> failedStartStates{ServiceState::StartPending, ServiceState::StopPending,
                                            ServiceState::Stopped};
const QList<ServiceState> refusedStates{ServiceState::StartPending, ServiceState::Stopped};

} // namespace

class TestEngineSupervisor : public QObject
{
    Q_OBJECT

private slots:
    void engineOutcomes_data();
    void engineOutcomes();
    void unusableProfileNeverStartsEngine_data();
    void unusableProfileNeverStartsEngine();
    void missingEngine();
    void stopBeforePortEndsWait();
    void escapedEngineProcessDoesNotHoldStop();
    void swappedDataDirectoryNeverReceivesFiles();
    void lostEngine_data();
    void lostEngine();
};

void TestEngineSupervisor::engineOutcomes_data()
{
    QTest::addColumn<QStringList>("stub");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QList<ServiceState>>("states");
    QTest::addColumn<QByteArray>("errorContains"); // empty: no error file at all
    QTest::addColumn<bool>("exactFloodTail");
    QTest::addColumn<int>("minimumMs"); // the run must last at least this long

    const QString diagnostic =
        u"SOLVIKVPN_STUB_DIAGNOSTIC=decode config at stdin: outbounds[0].tls: reality verification failed"_s;
    QTest::newRow("engine up, then stopped")
        << QStringList{} << 0 << ranStates << QByteArray("running without the SolvikVPN adapter")
        << false << 0;
    QTest::newRow("silent engine leaves no error file")
        << QStringList{u"SOLVIKVPN_STUB_SILENT=1"_s} << 0 << ranStates << QByteArray() << false
        << 0;
    QTest::newRow("configuration refused")
        << QStringList{diagnostic, u"SOLVIKVPN_STUB_FAIL=run"_s} << 1062 << failedStartStates
        << QByteArray(
               "FATAL[0000] decode config at stdin: outbounds[0].tls: reality verification failed")
        << false << 0;
    QTest::newRow("engine exits at once without a word")
        << QStringList{u"SOLVIKVPN_STUB_EXIT_CODE=3"_s} << 1062 << failedStartStates << QByteArray()
        << false << 0;
    QTest::newRow("100 KB of output keeps the last 32768 bytes")
        << QStringList{diagnostic, u"SOLVIKVPN_STUB_FLOOD_BYTES=102400"_s} << 1062
        << failedStartStates << QByteArray("000000000102384\n") << true << 0;
    QTest::newRow("probe port never opens")
        << QStringList{u"SOLVIKVPN_STUB_NO_PORT=1"_s} << 1062 << failedStartStates
        << QByteArray("running without the SolvikVPN adapter") << false << 0;
    // The break grace (300 ms here) passes in full before the engine is terminated.
    QTest::newRow("engine ignoring the break is terminated")
        << QStringList{u"SOLVIKVPN_STUB_IGNORE_BREAK=1"_s} << 0 << ranStates
        << QByteArray("running without the SolvikVPN adapter") << false << 300;
}

void TestEngineSupervisor::engineOutcomes()
{
    QFETCH(QStringList, stub);
    QFETCH(int, exitCode);
    QFETCH(QList<ServiceState>, states);
    QFETCH(QByteArray, errorContains);
    QFETCH(bool, exactFloodTail);
    QFETCH(int, minimumMs);

    TunnelFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.writeProfile(TunnelFixture::freePort()));
    const StubEnvironment environment(stub << u"SOLVIKVPN_STUB_NO_TUN=1"_s);
    EngineSupervisor::Timings timings = fastTimings();
    timings.probeAttempts = 10;

    const Outcome outcome = runSupervisor(fixture, timings);
    QCOMPARE(int(outcome.exitCode), exitCode);
    QCOMPARE(outcome.states, states);
    QVERIFY2(outcome.elapsedMs >= minimumMs && outcome.elapsedMs < 5000,
             qPrintable(QString::number(outcome.elapsedMs)));

    QByteArray error = fixture.readErrorFile();
    if (errorContains.isEmpty()) {
        QVERIFY(!QFile::exists(fixture.errorPath()));
    } else if (exactFloodTail) {
        QVERIFY(error == floodTail(102400, 32768));
    } else {
        QVERIFY2(error.contains(errorContains), error.constData());
    }
    secretwipe::wipe(error);
    if (!errorContains.isEmpty()) {
        // Left for the account that wrote the profile, in the folder only root can change.
        QCOMPARE(modeOf(fixture.errorPath()), QFileDevice::ReadOwner);
        QCOMPARE(QFileInfo(fixture.errorPath()).ownerId(),
                 QFileInfo(fixture.profilePath()).ownerId());
        QCOMPARE(modeOf(QFileInfo(fixture.errorPath()).absolutePath()),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                     QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                     QFileDevice::ExeOther);
    }
    // The service never writes into the user's data directory.
    QCOMPARE(QDir(fixture.dataDirectory()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{QFileInfo(fixture.profilePath()).fileName()});
}

void TestEngineSupervisor::unusableProfileNeverStartsEngine_data()
{
    QTest::addColumn<QByteArray>("plain"); // empty: no profile file
    QTest::addColumn<QString>("tunnelName");

    const QString name = TunnelFixture::tunnelName;
    const QByteArray good = tunnelcontract::serializeTunnelProfileFile(
        TunnelFixture::profileLink, 20808, TunnelFixture::proxyPassword);
    QTest::newRow("proxy port 1023") << QByteArray(good).replace("20808", "1023") << name;
    QTest::newRow("proxy port 65536") << QByteArray(good).replace("20808", "65536") << name;
    QTest::newRow("password in upper case")
        << QByteArray(good).replace(TunnelFixture::proxyPassword.toLatin1(),
                                    TunnelFixture::proxyPassword.toUpper().toLatin1())
        << name;
    QTest::newRow("not JSON") << QByteArray("\x01\x02not json") << name;
    QTest::newRow("no profile file") << QByteArray() << name;
    QTest::newRow("file named after another tunnel") << good << u"tnel_ffffffffffffffffffff"_s;
}

void TestEngineSupervisor::unusableProfileNeverStartsEngine()
{
    QFETCH(QByteArray, plain);
    QFETCH(QString, tunnelName);

    // An engine that only leaves a mark, so a start would show.
    TunnelFixture fixture(false);
    QVERIFY(fixture.isValid());
    const QString engine = fixture.applicationDirectory() + u"/core/sing-box"_s;
    const QString mark = fixture.applicationDirectory() + u"/engine-started"_s;
    QFile script(engine);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ntouch \"" + mark.toUtf8() + "\"\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    if (!plain.isEmpty()) {
        QVERIFY(fixture.writePlainProfile(plain));
    }

    const Outcome outcome = runSupervisor(fixture, fastTimings(), tunnelName);
    QCOMPARE(int(outcome.exitCode), 13);
    QCOMPARE(outcome.states, refusedStates);
    QVERIFY(!QFile::exists(mark));
    QVERIFY(!QFile::exists(fixture.errorPath()));
}

void TestEngineSupervisor::missingEngine()
{
    TunnelFixture fixture(false);
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.writeProfile(TunnelFixture::freePort()));

    const Outcome outcome = runSupervisor(fixture, fastTimings());
    QCOMPARE(int(outcome.exitCode), 2);
    QCOMPARE(outcome.states, refusedStates);
    QVERIFY(!QFile::exists(fixture.errorPath()));
}

void TestEngineSupervisor::stopBeforePortEndsWait()
{
    TunnelFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.writeProfile(TunnelFixture::freePort()));
    const StubEnvironment environment(
        {u"SOLVIKVPN_STUB_NO_PORT=1"_s, u"SOLVIKVPN_STUB_NO_TUN=1"_s});

    platform::Event stop;
    QList<ServiceState> states;
    EngineSupervisor::Timings timings = fastTimings();
    timings.probeAttempts = 1000; // far longer than the test waits
    EngineSupervisor supervisor(
        fixture.applicationDirectory(), TunnelFixture::tunnelName, fixture.profilePath(), {},
        [&](ServiceState state, std::uint32_t) { states.append(state); }, timings);
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        stop.set();
    });
    QElapsedTimer timer;
    timer.start();
    const std::uint32_t result = supervisor.run(stop);
    stopper.join();
    QCOMPARE(int(result), 1062);
    QCOMPARE(states, failedStartStates);
    QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
}

void TestEngineSupervisor::escapedEngineProcessDoesNotHoldStop()
{
    TunnelFixture fixture;
    QVERIFY(fixture.isValid());
    QVERIFY(fixture.writeProfile(TunnelFixture::freePort()));
    // The escaped process would hold the output pipe for 15 s.
    const StubEnvironment environment(
        {u"SOLVIKVPN_STUB_ESCAPE_SECONDS=15"_s, u"SOLVIKVPN_STUB_NO_TUN=1"_s});
    EngineSupervisor::Timings timings = fastTimings();
    timings.outputDrainMs = 300;

    const Outcome outcome = runSupervisor(fixture, timings);
    QCOMPARE(int(outcome.exitCode), 0);
    QCOMPARE(outcome.states, ranStates);
    QVERIFY2(outcome.elapsedMs < 3000, qPrintable(QString::number(outcome.elapsedMs)));
    // What the engine printed before the stop is still kept.
    QByteArray error = fixture.readErrorFile();
    QVERIFY(error.contains("running without the SolvikVPN adapter"));
    secretwipe::wipe(error);
}

void TestEngineSupervisor::swappedDataDirectoryNeverReceivesFiles()
{
    if (::geteuid() != 0) {
        QSKIP("not root: the unprivileged account cannot be played");
    }
    TunnelFixture fixture;
    QVERIFY(fixture.isValid());
    const QString root = QFileInfo(fixture.dataDirectory()).absolutePath();
    const auto open = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(root, open));
    // The attacker's home holds its data directory and a link, named alike, to a folder only
    // root may write (as /etc/bash_completion.d is); it keeps exchanging the two.
    const QString home = root + u"/home"_s;
    const QString target = root + u"/protected"_s;
    const QString profile = home + u"/data/"_s + QFileInfo(fixture.profilePath()).fileName();
    QVERIFY(QDir().mkpath(home + u"/data"_s));
    QVERIFY(QDir().mkpath(target));
    QVERIFY(QFile::setPermissions(target, open));
    QVERIFY(QFile::link(target, home + u"/lure"_s));
    QVERIFY(protectedstore::writeMachineProtectedFile(
        profile, TunnelFixture::tunnelName,
        tunnelcontract::serializeTunnelProfileFile(
            TunnelFixture::profileLink, TunnelFixture::freePort(), TunnelFixture::proxyPassword),
        QString()));
    for (const QString &path : {home, home + u"/data"_s, profile}) {
        QVERIFY(::chown(QFile::encodeName(path).constData(), Swapper::attackerUid,
                        Swapper::attackerUid) == 0);
    }
    QVERIFY(::lchown(QFile::encodeName(home + u"/lure"_s).constData(), Swapper::attackerUid,
                     Swapper::attackerUid) == 0);

    const StubEnvironment environment(
        {u"SOLVIKVPN_STUB_NO_PORT=1"_s, u"SOLVIKVPN_STUB_NO_TUN=1"_s});
    EngineSupervisor::Timings timings = fastTimings();
    timings.probeAttempts = 3;
    timings.probeTimeoutMs = 10;
    timings.probeRetryDelayMs = 30;
    int ran = 0;
    {
        const Swapper swapper(QFile::encodeName(home + u"/data"_s).toStdString(),
                              QFile::encodeName(home + u"/lure"_s).toStdString());
        QVERIFY(swapper.isRunning());
        QElapsedTimer timer;
        timer.start();
        // On a loaded machine the swapper may stall with the link in place for a while: go on
        // past the 100 stops until one run got through.
        for (int stop = 0; (stop < 100 || ran == 0) && timer.elapsed() < 60000; ++stop) {
            if (runSupervisor(fixture, timings, TunnelFixture::tunnelName, profile).exitCode ==
                1062) {
                ++ran;
            }
        }
    }
    qInfo("engine runs among the 100 stops: %d", ran);
    QVERIFY(ran > 0);
    QCOMPARE(QDir(target).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList());
    // The swapper stopped with either name on the real folder.
    const QString data =
        QFileInfo(home + u"/data"_s).isSymLink() ? home + u"/lure"_s : home + u"/data"_s;
    QCOMPARE(QDir(data).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
             QStringList{QFileInfo(profile).fileName()});
    // The error file goes where it belongs, left for the account that wrote the profile. The
    // racing runs stop the engine within a few dozen milliseconds, often before it said anything
    // on a loaded machine, so one more run gives it two seconds to.
    timings.probeAttempts = 50;
    runSupervisor(fixture, timings, TunnelFixture::tunnelName,
                  data + u'/' + QFileInfo(profile).fileName());
    QCOMPARE(QFileInfo(fixture.errorPath()).ownerId(), uint(Swapper::attackerUid));
}

void TestEngineSupervisor::lostEngine_data()
{
    QTest::addColumn<int>("firstDelayMs");
    QTest::addColumn<bool>("silentPage"); // the restarted engine's check never gets an answer
    QTest::addColumn<bool>("block");      // the recording firewall stands for the block

    QTest::newRow("an engine that keeps failing gives up") << 10 << false << false;
    QTest::newRow("a stop during the wait starts no engine") << 60000 << false << false;
    QTest::newRow("a stop during the check ends it at once") << 10 << true << false;
    QTest::newRow("giving up holds the block") << 10 << false << true;
    QTest::newRow("a stop during the wait lifts the block") << 60000 << false << true;
}

void TestEngineSupervisor::lostEngine()
{
    QFETCH(int, firstDelayMs);
    QFETCH(bool, silentPage);
    QFETCH(bool, block);

    TunnelFixture fixture;
    QVERIFY(fixture.isValid() && fixture.writeProfile(TunnelFixture::freePort()));
    const QString runLog = fixture.applicationDirectory() + u"/runs.log"_s;
    const QString firewallLog = fixture.applicationDirectory() + u"/firewall.log"_s;
    QTcpServer page;
    QVERIFY(page.listen(QHostAddress::LocalHost));
    const StubEnvironment environment(
        {u"SOLVIKVPN_STUB_NO_TUN=1"_s, u"SOLVIKVPN_STUB_RUN_LOG="_s + runLog,
         u"SOLVIKVPN_RECORD_FIREWALL="_s + firewallLog,
         silentPage ? u"SOLVIKVPN_STUB_GOOD_RUNS=2"_s : u"SOLVIKVPN_STUB_GOOD_RUNS=1"_s,
         QLatin1String(TunnelFixture::checkUrlsVariable) + u"=http://127.0.0.1:"_s +
             QString::number(page.serverPort()) + u"/generate_204"_s});
    EngineSupervisor::Timings timings = fastTimings();
    timings.restart.firstDelay = timings.restart.longestDelay =
        std::chrono::milliseconds(firstDelayMs);
    Outcome outcome; // read once the run has ended
    std::atomic<bool> running = false;
    std::atomic<bool> ended = false;
    platform::Event stop;
    EngineSupervisor supervisor(
        fixture.applicationDirectory(), TunnelFixture::tunnelName, fixture.profilePath(),
        {true, block, false},
        [&](ServiceState state, std::uint32_t) {
            outcome.states.append(state);
            running = running || state == ServiceState::Running;
        },
        timings);
    // A thread of its own, as in the service; the engine's parent-death link is per thread.
    std::thread thread([&] {
        outcome.exitCode = supervisor.run(stop);
        ended = true;
    });
    const auto join = qScopeGuard([&] {
        stop.set();
        thread.join();
    });
    QTRY_VERIFY(running);
    QCOMPARE(::kill(TunnelFixture::logged(runLog, u"run "_s).first().mid(4).toInt(), SIGKILL), 0);

    const bool giveUp = firstDelayMs < 1000 && !silentPage;
    if (giveUp) {
        QTRY_VERIFY_WITH_TIMEOUT(ended, 10000);
        const TunnelStatus gaveUp{block ? TunnelStatus::State::Blocked
                                        : TunnelStatus::State::GaveUp,
                                  6, QDateTime(), u"The VPN engine stopped (exit code 1)."_s};
        QVERIFY(TunnelFixture::statusRecord() == gaveUp);
        QByteArray error = fixture.readErrorFile();
        QVERIFY2(error.contains("good runs are used up"), error.constData());
        secretwipe::wipe(error);
    } else {
        QTRY_VERIFY(TunnelFixture::statusRecord() &&
                    TunnelFixture::statusRecord()->state == TunnelStatus::State::Reconnecting);
        QTRY_VERIFY(!silentPage || page.hasPendingConnections());
        stop.set();
        QTRY_VERIFY_WITH_TIMEOUT(ended, 1000);
        QVERIFY(!QFile::exists(tunnelcontract::tunnelStatusPath(TunnelFixture::tunnelName)));
    }
    QCOMPARE(outcome.states, ranStates);
    QCOMPARE(outcome.exitCode, 0u);
    // The loss and, before giving up, 6 failed attempts; none of their engines is left.
    const QStringList runs = TunnelFixture::logged(runLog, u"run "_s);
    QCOMPARE(runs.size(), giveUp ? 7 : silentPage ? 2 : 1);
    for (const QString &run : runs) {
        QVERIFY(::kill(run.mid(4).toInt(), 0) != 0);
    }
    // Whatever step a crash came after, the last transaction it leaves is a block: every one is,
    // up to the stop's lift; the block up before the engine is renewed, never lifted, once the
    // adapter exists.
    QFile recorded(firewallLog);
    QStringList history;
    if (recorded.open(QIODevice::ReadOnly)) {
        history = QString::fromUtf8(recorded.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }
    const bool lifted = block && !giveUp;
    QCOMPARE(history.filter(u"apply "_s).size(), history.size() - (lifted ? 1 : 0));
    QCOMPARE(history.size() >= 2, block);
    QCOMPARE(!history.isEmpty() && history.last() == u"remove"_s, lifted);
}

QTEST_GUILESS_MAIN(TestEngineSupervisor)
#include "tst_enginesupervisor.moc"
