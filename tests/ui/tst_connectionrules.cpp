#include "ui/connectionrules.h"

#include <QTest>

using namespace Qt::Literals::StringLiterals;
using connectionrules::CardState;
using connectionrules::ConnectAction;

Q_DECLARE_METATYPE(ConnectAction)

Q_DECLARE_METATYPE(CardState)

class TestConnectionRules : public QObject
{
    Q_OBJECT

private slots:
    void connectButton_data();
    void connectButton();
    void connectedTimes_data();
    void connectedTimes();
};

void TestConnectionRules::connectButton_data()
{
    QTest::addColumn<CardState>("state");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<ConnectAction>("action");

    const CardState idle{true, false, false, false, false, QString()};
    CardState connecting = idle;
    connecting.connecting = true;
    CardState busy = idle;
    busy.busy = true;
    CardState running = idle;
    running.running = true;
    running.currentServerId = u"A"_s;
    CardState stopping = running;
    stopping.busy = true;
    stopping.disconnecting = true;
    CardState disconnecting = running;
    disconnecting.disconnecting = true;
    CardState signedOut = idle;
    signedOut.authenticated = false;
    CardState blocked = idle;
    blocked.blocked = true;
    blocked.currentServerId = u"A"_s;

    QTest::newRow("idle, automatic")
        << idle << QString() << u"Connect"_s << true << ConnectAction::QuickConnect;
    QTest::newRow("idle, chosen") << idle << u"B"_s << u"Connect"_s << true
                                  << ConnectAction::Connect;
    QTest::newRow("connecting") << connecting << u"B"_s << u"Connecting\u2026"_s << false
                                << ConnectAction::Connect;
    QTest::newRow("adapter busy") << busy << QString() << u"Connecting\u2026"_s << false
                                  << ConnectAction::QuickConnect;
    QTest::newRow("connected, nothing chosen")
        << running << QString() << u"Disconnect"_s << true << ConnectAction::Disconnect;
    QTest::newRow("connected, the same chosen")
        << running << u"A"_s << u"Disconnect"_s << true << ConnectAction::Disconnect;
    QTest::newRow("connected, another chosen")
        << running << u"B"_s << u"Switch server"_s << true << ConnectAction::Connect;
    QTest::newRow("disconnecting wins")
        << stopping << u"B"_s << u"Disconnecting\u2026"_s << false << ConnectAction::Connect;
    QTest::newRow("disconnecting before the adapter is busy")
        << disconnecting << QString() << u"Disconnecting\u2026"_s << false
        << ConnectAction::Disconnect;
    QTest::newRow("signed out") << signedOut << QString() << u"Connect"_s << false
                                << ConnectAction::QuickConnect;
    QTest::newRow("blocked, nothing chosen")
        << blocked << QString() << u"Reconnect"_s << true << ConnectAction::Connect;
    QTest::newRow("blocked, another chosen")
        << blocked << u"B"_s << u"Reconnect"_s << true << ConnectAction::Connect;
}

void TestConnectionRules::connectButton()
{
    QFETCH(CardState, state);
    QFETCH(QString, selected);
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    QFETCH(ConnectAction, action);

    QCOMPARE(connectionrules::connectButtonText(state, selected), text);
    QCOMPARE(connectionrules::connectButtonEnabled(state), enabled);
    // A separate Disconnect stands beside exactly the offers to switch and to reconnect.
    QCOMPARE(connectionrules::separateDisconnectShown(state, selected),
             text == u"Switch server"_s || text == u"Reconnect"_s);
    QCOMPARE(connectionrules::connectAction(state, selected), action);
}

void TestConnectionRules::connectedTimes_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");

    QTest::newRow("59:59") << qint64(3599) << u"Connected \u00b7 59:59"_s;
    QTest::newRow("one hour") << qint64(3600) << u"Connected \u00b7 1h 00m"_s;
    QTest::newRow("just under a day") << qint64(86399) << u"Connected \u00b7 23h 59m"_s;
    QTest::newRow("25 hours") << qint64(25 * 3600) << u"Connected \u00b7 1d 1h"_s;
    QTest::newRow("a start in the future") << qint64(-90) << u"Connected \u00b7 00:00"_s;
}

void TestConnectionRules::connectedTimes()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(connectionrules::connectedTimeText(seconds), text);
}

QTEST_GUILESS_MAIN(TestConnectionRules)
#include "tst_connectionrules.moc"
