#include "app/applicationidentity.h"
#include "app/instancechannel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

// One client per account with the Windows program under Wine, whose local channel is a named
// pipe: a second start hands its command line over and ends while the first keeps running.
class OneClientUnderWineTest : public QObject
{
    Q_OBJECT

private slots:
    void secondStartEnds();
};

void OneClientUnderWineTest::secondStartEnds()
{
    // The client's own identity, whose channel it serves.
    identity::apply(RunKind::Normal);
    const QString name = InstanceChannel(InstanceChannel::accountChannelId()).name();
    const QString program = QCoreApplication::applicationDirPath() + u"/solvikvpn.exe"_s;
    qputenv("SOLVIKVPN_NO_LOOKUPS", "1");
    QProcess first;
    first.start(program, {u"--hidden"_s});
    QVERIFY(first.waitForStarted());
    // "--hidden" again, so asking leaves the first client in the tray.
    QTRY_VERIFY_WITH_TIMEOUT(InstanceChannel::send(name, {u"--hidden"_s}, 1000).has_value(), 60000);

    QProcess second;
    QElapsedTimer timer;
    timer.start();
    second.start(program, {});
    QVERIFY(second.waitForFinished(30000));
    qInfo("the second start ended after %lld ms", timer.elapsed());
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    // A command's answer reaches the starting program's own output.
    QProcess status;
    status.start(program, {u"--status"_s});
    QVERIFY(status.waitForFinished(30000));
    QCOMPARE(status.exitCode(), 4);
    QCOMPARE(status.readAllStandardError().trimmed(),
             QByteArray("Not signed in. Open Solvik VPN and sign in first."));
    first.kill();
    QVERIFY(first.waitForFinished(30000));
}

QTEST_GUILESS_MAIN(OneClientUnderWineTest)
#include "tst_oneclientunderwine.moc"
