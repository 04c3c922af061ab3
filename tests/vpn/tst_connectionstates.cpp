#include "settings/settingskeys.h"
#include "support/testhome.h"
#include "vpntestbed.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString connected = u"Connected \u00b7 VLESS + REALITY"_s;
const QString notConnected = u"Not connected"_s;
const QString unexpectedStop =
    u"The VPN tunnel stopped unexpectedly. Reconnect or choose another server."_s;
const QString didNotStart = u"The VPN service did not start. Try connecting again."_s;
const QString engineFailure = u"The VPN engine could not start (Windows error 1067)."_s;
const QString runningTunnel = u"tnel_00112233445566778899"_s;

QString lastText(const QSignalSpy &spy)
{
    return spy.isEmpty() ? QString() : spy.constLast().at(0).toString();
}

} // namespace

class ConnectionStatesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void reports_data();
    void reports();
    void statusTexts_data();
    void statusTexts();
    void startTime_data();
    void startTime();
    void pollOnlyWhileIdle();

private:
    std::unique_ptr<TestHome> m_home;
};

void ConnectionStatesTest::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
    QCoreApplication::setApplicationVersion(u"0.8.0"_s);
}

void ConnectionStatesTest::init()
{
    settings::clearAll();
}

void ConnectionStatesTest::reports_data()
{
    QTest::addColumn<bool>("fromStart");
    QTest::addColumn<QString>("event");
    QTest::addColumn<ConnectionState::Phase>("report");
    QTest::addColumn<QString>("expectedStatus");
    QTest::addColumn<QString>("expectedError");
    QTest::addColumn<QString>("expectedStartFailure");
    QTest::addColumn<bool>("startTimeKept");

    // Events: "report" (a state report outside any operation), "userStop" (disconnectVpn, then
    // the stop completes), "stopFails", "startEnds" (the start ends with the given report),
    // "startFails".
    using Phase = ConnectionState::Phase;
    QTest::newRow("user stop") << false << u"userStop"_s << Phase::NotConnected << notConnected
                               << QString() << QString() << false;
    QTest::newRow("stop nobody asked for") << false << u"report"_s << Phase::NotConnected
                                           << notConnected << unexpectedStop << QString() << false;
    // The status line says it; no error repeats it.
    QTest::newRow("dropped behind the block")
        << false << u"report"_s << Phase::Blocked
        << u"Blocked: the VPN dropped. Internet access is held until you reconnect or "
           u"disconnect."_s
        << QString() << QString() << false;
    QTest::newRow("status unknown while running")
        << false << u"report"_s << Phase::Unknown << u"VPN status unknown"_s << QString()
        << QString() << true;
    QTest::newRow("still running")
        << false << u"report"_s << Phase::Connected << connected << QString() << QString() << true;
    QTest::newRow("stop fails") << false << u"stopFails"_s << Phase::NotConnected
                                << u"Connection failed"_s << engineFailure << QString() << true;
    QTest::newRow("start comes up") << true << u"startEnds"_s << Phase::Connected << connected
                                    << QString() << QString() << true;
    QTest::newRow("first report after start: not running")
        << true << u"startEnds"_s << Phase::NotConnected << notConnected << QString() << didNotStart
        << false;
    QTest::newRow("start fails") << true << u"startFails"_s << Phase::NotConnected
                                 << u"Connection failed"_s << QString() << engineFailure << false;
}

void ConnectionStatesTest::reports()
{
    QFETCH(bool, fromStart);
    QFETCH(QString, event);
    QFETCH(ConnectionState::Phase, report);
    QFETCH(QString, expectedStatus);
    QFETCH(QString, expectedError);
    QFETCH(QString, expectedStartFailure);
    QFETCH(bool, startTimeKept);

    VpnTestBed bed;
    QVERIFY(bed.signIn());
    auto controller = bed.makeController();
    if (fromStart)
        QVERIFY(bed.connectUntilStart(*controller, QString()));
    else
        QVERIFY(bed.connectUntilRunning(*controller, QString()));
    const QDateTime startedAt = controller->connectedSince();
    QCOMPARE(startedAt.isValid(), !fromStart);

    QSignalSpy statuses(controller.get(), &VpnController::status);
    QSignalSpy errors(controller.get(), &VpnController::error);
    QSignalSpy startFailures(controller.get(), &VpnController::startFailed);
    if (event == u"report") {
        bed.adapter.report(report);
    } else if (event == u"userStop" || event == u"stopFails") {
        controller->disconnectVpn();
        QCOMPARE(lastText(statuses), u"Disconnecting\u2026"_s);
        QVERIFY(controller->disconnecting() && controller->busy());
        if (event == u"userStop")
            bed.adapter.finishStop();
        else
            bed.adapter.failOperation(engineFailure);
    } else if (event == u"startEnds") {
        bed.adapter.finishWithReport(report);
    } else {
        bed.adapter.failOperation(engineFailure);
    }

    QCOMPARE(lastText(statuses), expectedStatus);
    QCOMPARE(lastText(errors), expectedError);
    QCOMPARE(errors.size(), expectedError.isEmpty() ? 0 : 1);
    QCOMPARE(lastText(startFailures), expectedStartFailure);
    QVERIFY(!controller->connecting() && !controller->starting() && !controller->disconnecting());
    QVERIFY(!controller->busy());
    if (startTimeKept) {
        QVERIFY(controller->connectedSince().isValid());
        QCOMPARE(settings::connectionStartedAt(), controller->connectedSince());
        if (startedAt.isValid())
            QCOMPARE(controller->connectedSince(), startedAt);
    } else {
        QVERIFY(!controller->connectedSince().isValid());
        QVERIFY(!settings::connectionStartedAt().isValid());
    }
}

void ConnectionStatesTest::statusTexts_data()
{
    QTest::addColumn<ConnectionState::Phase>("phase");
    QTest::addColumn<QString>("text");

    using Phase = ConnectionState::Phase;
    QTest::newRow("unknown") << Phase::Unknown << u"VPN status unknown"_s;
    QTest::newRow("not connected") << Phase::NotConnected << notConnected;
    QTest::newRow("connecting") << Phase::Connecting << u"Connecting\u2026"_s;
    QTest::newRow("connected") << Phase::Connected << connected;
    QTest::newRow("reconnecting") << Phase::Reconnecting << u"Reconnecting\u2026 (attempt 2)"_s;
    QTest::newRow("blocked") << Phase::Blocked
                             << u"Blocked: the VPN dropped. Internet access is held until you "
                                u"reconnect or disconnect."_s;
    QTest::newRow("disconnecting") << Phase::Disconnecting << u"Disconnecting\u2026"_s;
}

void ConnectionStatesTest::statusTexts()
{
    QFETCH(ConnectionState::Phase, phase);
    QFETCH(QString, text);
    // The server and the start never change the line.
    ConnectionState state{phase, u"srv-1"_s, QDateTime::currentDateTimeUtc()};
    state.attempt = 2;
    QCOMPARE(state.statusText(), text);
}

void ConnectionStatesTest::startTime_data()
{
    QTest::addColumn<bool>("stored");
    QTest::addColumn<qint64>("offsetSeconds");
    QTest::addColumn<bool>("storedKept");

    QTest::newRow("earlier start continues") << true << qint64(-7200) << true;
    QTest::newRow("start in the future is replaced by now") << true << qint64(86400) << false;
    QTest::newRow("no stored start: now") << false << qint64(0) << false;
}

void ConnectionStatesTest::startTime()
{
    QFETCH(bool, stored);
    QFETCH(qint64, offsetSeconds);
    QFETCH(bool, storedKept);

    // A tunnel left running by an earlier run is recognised when the controller is built.
    settings::setManagedVlessTunnel(runningTunnel);
    const QDateTime storedStart =
        QDateTime::currentDateTimeUtc().addSecs(offsetSeconds).addMSecs(-250);
    if (stored)
        settings::setConnectionStartedAt(storedStart);
    ApiClient api;
    FakeTunnelAdapter adapter;
    adapter.refreshPhase = ConnectionState::Phase::Connected;
    const QDateTime before = QDateTime::currentDateTimeUtc();
    VpnController controller(api, adapter);
    const QDateTime after = QDateTime::currentDateTimeUtc();

    QCOMPARE(adapter.calls, QStringList{u"refresh "_s + runningTunnel});
    QVERIFY(controller.running());
    if (storedKept) {
        QCOMPARE(controller.connectedSince(), settings::connectionStartedAt());
        QVERIFY(qAbs(controller.connectedSince().msecsTo(storedStart)) < 1000);
    } else {
        QVERIFY(controller.connectedSince() >= before.addMSecs(-1000));
        QVERIFY(controller.connectedSince() <= after);
    }
    QCOMPARE(settings::connectionStartedAt().toSecsSinceEpoch(),
             controller.connectedSince().toSecsSinceEpoch());
    // Before any account is applied the tunnel is left alone.
    QTest::qWait(20);
    QCOMPARE(adapter.calls.size(), 1);
}

void ConnectionStatesTest::pollOnlyWhileIdle()
{
    settings::setManagedVlessTunnel(runningTunnel);
    ApiClient api;
    FakeTunnelAdapter adapter;
    adapter.refreshPhase = ConnectionState::Phase::Connected;
    VpnController controller(api, adapter);
    QCOMPARE(controller.pollInterval(), VpnController::pollIntervalMs);
    controller.setPollInterval(5);
    QTRY_VERIFY(adapter.calls.count(u"refresh "_s + runningTunnel) >= 3);

    // While the adapter works, nothing polls.
    controller.disconnectVpn();
    QVERIFY(controller.busy());
    const qsizetype calls = adapter.calls.size();
    QTest::qWait(60);
    QCOMPARE(adapter.calls.size(), calls);
    adapter.finishStop();
    QVERIFY(!controller.running());
    QTRY_VERIFY(adapter.calls.size() > calls);
}

QTEST_GUILESS_MAIN(ConnectionStatesTest)
#include "tst_connectionstates.moc"
