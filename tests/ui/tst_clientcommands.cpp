#include "ui/clientcommands.h"

#include "locations/latencyprobe.h"
#include "locations/servercatalogue.h"
#include "support/testhome.h"
#include "ui/mainwindow.h"
#include "vpn/connectionstate.h"
#include "vpn/vpncontroller.h"

#include "windowfixture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Answer
{
    int code = -1;
    QString line;
};

QJsonObject server(const QString &id, const QString &code)
{
    return {{u"id"_s, id}, {u"countryCode"_s, code}, {u"country"_s, code}, {u"city"_s, id}};
}

} // namespace

class TestClientCommands : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_home.isValid()); }
    void serverFor_data();
    void serverFor();
    void statusLine_data();
    void statusLine();
    void commandsDriveTheWindow();

private:
    TestHome m_home;
};

void TestClientCommands::serverFor_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("server");

    QTest::newRow("a server id") << u"fr-1"_s << u"fr-1"_s;
    QTest::newRow("the country's fastest measured server") << u"de"_s << u"de-2"_s;
    QTest::newRow("unmeasured: the country's first") << u"FR"_s << u"fr-1"_s;
    QTest::newRow("a country without servers") << u"ZZ"_s << QString();
}

void TestClientCommands::serverFor()
{
    QFETCH(QString, target);
    ApiClient api;
    ServerCatalogue catalogue(api);
    catalogue.loadRecords({server(u"de-1"_s, u"DE"_s), server(u"de-2"_s, u"DE"_s),
                           server(u"de-3"_s, u"DE"_s), server(u"fr-1"_s, u"FR"_s),
                           server(u"fr-2"_s, u"FR"_s)});
    LatencyProbe latencies;
    latencies.setLatency(u"de-1"_s, 80);
    latencies.setLatency(u"de-2"_s, 20);
    latencies.setLatency(u"de-3"_s, LatencyProbe::failed);
    QTEST(ClientCommands::serverFor(target, catalogue, latencies), "server");
}

void TestClientCommands::statusLine_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<QString>("location");
    QTest::addColumn<QString>("line");

    using Phase = ConnectionState::Phase;
    QTest::newRow("connected") << int(Phase::Connected) << u"Germany \u00b7 Frankfurt"_s
                               << u"Connected to Germany \u00b7 Frankfurt since 14:02"_s;
    QTest::newRow("connected somewhere unknown")
        << int(Phase::Connected) << QString() << u"Connected since 14:02"_s;
    QTest::newRow("not connected")
        << int(Phase::NotConnected) << u"Germany"_s << u"Not connected"_s;
}

void TestClientCommands::statusLine()
{
    QFETCH(int, phase);
    QFETCH(QString, location);
    const QDateTime since(QDate(2026, 12, 8), QTime(14, 2, 30), Qt::LocalTime);
    QTEST(
        ClientCommands::statusLine(ConnectionState(ConnectionState::Phase(phase)), location, since),
        "line");
}

void TestClientCommands::commandsDriveTheWindow()
{
    WindowFixture fixture;
    QVERIFY(fixture.isValid());
    ClientCommands commands(fixture.window->services(), *fixture.window->connectionPage());
    Answer answer;
    const ClientCommands::Reply reply = [&answer](int code, const QString &line) {
        answer = {code, line};
    };
    commands.status(reply);
    QCOMPARE(answer.code, ClientCommands::exitSignedOut);

    QVERIFY(fixture.signIn());
    // Waits for the server list the sign-in loads.
    answer = {};
    commands.connectTo(u"de"_s, reply);
    QTRY_COMPARE_WITH_TIMEOUT(answer.code, ClientCommands::exitDone, 15000);
    QVERIFY2(answer.line.startsWith(u"Connected to Germany \u00b7 Frankfurt since "_s),
             qPrintable(answer.line));
    const VpnController &controller = fixture.window->services().controller();
    QCOMPARE(controller.currentServerId().isEmpty(), false);
    commands.status(reply);
    QCOMPARE(answer.code, ClientCommands::exitDone);

    answer = {};
    commands.connectTo(u"zz"_s, reply);
    QCOMPARE(answer.code, ClientCommands::exitBadInput);
    QCOMPARE(answer.line, u"No server or country \"zz\" in the server list."_s);

    answer = {};
    commands.disconnect(reply);
    QTRY_COMPARE(answer.code, ClientCommands::exitDone);
    QCOMPARE(answer.line, u"Not connected"_s);
    commands.status(reply);
    QCOMPARE(answer.code, ClientCommands::exitNotConnected);
}

QTEST_MAIN(TestClientCommands)
#include "tst_clientcommands.moc"
