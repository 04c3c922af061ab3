#include "ui/clientcommands.h"

#include "api/apiclient.h"
#include "locations/latencyprobe.h"
#include "locations/servercatalogue.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

using namespace Qt::Literals::StringLiterals;

// The server a "--connect" target stands for; the commands themselves run end to end in
// tst_commandlineendtoend.
class TestClientCommands : public QObject
{
    Q_OBJECT

private slots:
    void serverFor_data();
    void serverFor();
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
    QJsonArray servers;
    for (const QString &id : {u"de-1"_s, u"de-2"_s, u"de-3"_s, u"fr-1"_s, u"fr-2"_s}) {
        servers.append(QJsonObject{{u"id"_s, id}, {u"countryCode"_s, id.left(2).toUpper()}});
    }
    catalogue.loadRecords(servers);
    LatencyProbe latencies;
    latencies.setLatency(u"de-1"_s, 80);
    latencies.setLatency(u"de-2"_s, 20);
    latencies.setLatency(u"de-3"_s, LatencyProbe::failed);
    QTEST(ClientCommands::serverFor(target, catalogue, latencies), "server");
}

QTEST_GUILESS_MAIN(TestClientCommands)
#include "tst_clientcommands.moc"
