#include "synchttpclient.h"
#include "tools/devbackend/httpserver.h"

#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace {

QUrl baseOf(const HttpServer &server)
{
    return QUrl(u"http://127.0.0.1:%1"_s.arg(server.port()));
}

// Writes raw bytes and collects everything the server sends until it closes or the time is up.
QByteArray rawExchange(quint16 port, const QByteArray &bytes, int waitMs = 2000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(2000))
        return {};
    socket.write(bytes);
    QByteArray received;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < waitMs) {
        QTest::qWait(10);
        received += socket.readAll();
    }
    return received + socket.readAll();
}

} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT

private slots:
    void parsesRequestAndWritesReply();
    void heldReplyArrivesLater();
    void dropReachesClientAsNoReply();
    void forgottenResponderDropsConnection();
    void keepAliveReusesConnection();
    void requestBehindHeldReplyWaitsItsTurn();
    void bodyArrivingInPieces();
    void refusesMalformedRequests_data();
    void refusesMalformedRequests();
};

void TestHttpServer::parsesRequestAndWritesReply()
{
    HttpServer server;
    HttpRequest seen;
    server.setHandler([&seen](const HttpRequest &request, const HttpResponderPtr &reply) {
        seen = request;
        reply->setHeader("X-Trace", "abc");
        reply->sendJson(201, QJsonObject{{u"ok"_s, true}});
    });
    QVERIFY(server.listen());
    SyncHttpClient client(baseOf(server));
    client.setBearer("token-1");
    const auto result = client.send("PATCH", u"/a%20b/c?page=2&limit=20"_s, R"({"x":1})");

    QCOMPARE(result.status, 201);
    QCOMPARE(result.json().value(u"ok"), QJsonValue(true));
    QCOMPARE(seen.method, QByteArray("PATCH"));
    QCOMPARE(seen.path(), u"/a b/c"_s);
    QCOMPARE(seen.route(), u"PATCH /a b/c"_s);
    QCOMPARE(seen.query().queryItemValue(u"page"_s), u"2"_s);
    QCOMPARE(seen.header("authorization"), QByteArray("Bearer token-1"));
    QCOMPARE(seen.header("CONTENT-TYPE"), QByteArray("application/json"));
    QVERIFY(!seen.hasHeader("X-Missing"));
    QCOMPARE(seen.body, QByteArray(R"({"x":1})"));
    QCOMPARE(server.requestCount(), 1);
    QCOMPARE(server.requestCount(u"PATCH /a b/c"_s), 1);
    QCOMPARE(server.requests().first().sequence, 1);
}

void TestHttpServer::heldReplyArrivesLater()
{
    HttpServer server;
    HttpResponderPtr held;
    server.setHandler(
        [&held](const HttpRequest &, const HttpResponderPtr &reply) { held = reply; });
    QVERIFY(server.listen());
    QTimer::singleShot(200, &server, [&held] {
        QVERIFY(held && !held->isFinished() && held->isConnected());
        held->send(200, "{\"late\":true}");
    });
    QElapsedTimer clock;
    clock.start();
    const auto result = SyncHttpClient(baseOf(server)).send("GET", u"/slow"_s);
    QCOMPARE(result.status, 200);
    QVERIFY(clock.elapsed() >= 150);
    QCOMPARE(result.json().value(u"late"), QJsonValue(true));
    QVERIFY(held->isFinished());
}

void TestHttpServer::dropReachesClientAsNoReply()
{
    HttpServer server;
    server.setHandler([](const HttpRequest &, const HttpResponderPtr &reply) { reply->drop(); });
    QVERIFY(server.listen());
    const auto result = SyncHttpClient(baseOf(server)).send("POST", u"/x"_s, "{}");
    QCOMPARE(result.status, 0);
    QVERIFY(result.error != QNetworkReply::NoError);
    QVERIFY(server.requestCount() >= 1);
}

void TestHttpServer::forgottenResponderDropsConnection()
{
    HttpServer server;
    server.setHandler([](const HttpRequest &, const HttpResponderPtr &) {});
    QVERIFY(server.listen());
    const QByteArray received = rawExchange(server.port(), "GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    QVERIFY(received.isEmpty());
}

// Over one raw socket: Qt's connection pool may open a fresh connection on its own (it does under
// Wine when the reply overtakes its upload bookkeeping), which says nothing about the server.
void TestHttpServer::keepAliveReusesConnection()
{
    HttpServer server;
    server.setHandler([](const HttpRequest &request, const HttpResponderPtr &reply) {
        reply->send(200, request.body);
    });
    QVERIFY(server.listen());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(socket.waitForConnected(2000));
    QByteArray received;
    for (int i = 0; i < 3; ++i) {
        const QByteArray body = "echo " + QByteArray::number(i);
        socket.write("POST /echo HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                     QByteArray::number(body.size()) + "\r\n\r\n" + body);
        QTRY_VERIFY((received += socket.readAll()).endsWith("\r\n\r\n" + body));
        QCOMPARE(received.count("Connection: keep-alive"), i + 1);
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }
    QCOMPARE(server.connectionCount(), 1);
    const auto log = server.requests();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log.at(0).connectionId, log.at(2).connectionId);
}

void TestHttpServer::requestBehindHeldReplyWaitsItsTurn()
{
    HttpServer server;
    HttpResponderPtr first;
    server.setHandler([&first](const HttpRequest &request, const HttpResponderPtr &reply) {
        if (request.path() == u"/first") {
            first = reply;
            return;
        }
        reply->send(200, "second");
    });
    QVERIFY(server.listen());
    QTimer::singleShot(300, &server, [&first] { first->send(200, "first"); });
    const QByteArray received = rawExchange(
        server.port(),
        "GET /first HTTP/1.1\r\nHost: x\r\n\r\nGET /second HTTP/1.1\r\nHost: x\r\n\r\n", 800);
    const qsizetype firstAt = received.indexOf("\r\n\r\nfirst");
    const qsizetype secondAt = received.indexOf("\r\n\r\nsecond");
    QVERIFY2(firstAt >= 0 && secondAt > firstAt, received.constData());
}

void TestHttpServer::bodyArrivingInPieces()
{
    HttpServer server;
    QByteArray body;
    server.setHandler([&body](const HttpRequest &request, const HttpResponderPtr &reply) {
        body = request.body;
        reply->send(204, {});
    });
    QVERIFY(server.listen());
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(socket.waitForConnected(2000));
    socket.write("POST /p HTTP/1.1\r\nContent-Length: 10\r\n\r\n01234");
    QTest::qWait(50);
    QCOMPARE(server.requestCount(), 0);
    socket.write("56789");
    QTRY_COMPARE(server.requestCount(), 1);
    QCOMPARE(body, QByteArray("0123456789"));
}

void TestHttpServer::refusesMalformedRequests_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QByteArray>("statusLine");
    QTest::newRow("no version") << QByteArray("GET /\r\n\r\n") << QByteArray("HTTP/1.1 400");
    QTest::newRow("not http") << QByteArray("GET / SPDY/3\r\n\r\n") << QByteArray("HTTP/1.1 400");
    QTest::newRow("header without colon")
        << QByteArray("GET / HTTP/1.1\r\nbroken\r\n\r\n") << QByteArray("HTTP/1.1 400");
    QTest::newRow("negative length") << QByteArray("POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n")
                                     << QByteArray("HTTP/1.1 400");
    QTest::newRow("huge length") << QByteArray(
                                        "POST / HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n")
                                 << QByteArray("HTTP/1.1 413");
    QTest::newRow("chunked") << QByteArray("POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n")
                             << QByteArray("HTTP/1.1 411");
    QTest::newRow("endless headers")
        << QByteArray("GET / HTTP/1.1\r\n" + QByteArray(70 * 1024, 'a'))
        << QByteArray("HTTP/1.1 431");
}

void TestHttpServer::refusesMalformedRequests()
{
    QFETCH(QByteArray, raw);
    QFETCH(QByteArray, statusLine);
    HttpServer server;
    bool handled = false;
    server.setHandler([&handled](const HttpRequest &, const HttpResponderPtr &reply) {
        handled = true;
        reply->send(200, "{}");
    });
    QVERIFY(server.listen());
    const QByteArray received = rawExchange(server.port(), raw);
    QVERIFY2(received.startsWith(statusLine), received.left(80).constData());
    QVERIFY(received.contains("Connection: close"));
    QVERIFY(!handled);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
