#include "api/apiclient.h"
#include "api/session.h"
#include "common/protectedstore.h"
#include "support/streamingserver.h"
#include "support/testhome.h"
#include "tools/devbackend/httpserver.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct Outcome
{
    int calls = 0;
    ApiResult result;
};

ApiClient::Callback record(Outcome &outcome)
{
    return [&outcome](const ApiResult &result) {
        ++outcome.calls;
        outcome.result = result;
    };
}

QUrl baseOf(const HttpServer &server)
{
    return QUrl(u"http://127.0.0.1:%1"_s.arg(server.port()));
}

QJsonObject tokens(const QString &access, const QString &refresh)
{
    return QJsonObject{{u"accessToken"_s, access}, {u"refreshToken"_s, refresh}};
}

// A client whose refreshes install the tokens they receive, as the session does.
void installTokenHandler(ApiClient &client, int *calls = nullptr)
{
    client.setTokenHandler([&client, calls](const QJsonObject &body) {
        if (calls)
            ++*calls;
        const QJsonObject data = body.value(u"data"_s).toObject();
        client.setTokens(data.value(u"accessToken"_s).toString(),
                         data.value(u"refreshToken"_s).toString());
        return true;
    });
}

// A client of `server` holding tokens, whose refreshes install the tokens they receive.
void prepare(ApiClient &client, const HttpServer &server, int *handlerCalls = nullptr)
{
    client.setBaseUrl(baseOf(server));
    installTokenHandler(client, handlerCalls);
    client.setTokens(u"access"_s, u"refresh"_s);
}

QList<HttpRequest> requestsTo(const HttpServer &server, const QString &path)
{
    QList<HttpRequest> found;
    for (const HttpRequest &request : server.requests()) {
        if (request.path() == path)
            found.append(request);
    }
    return found;
}

} // namespace

class ApiClientTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void concurrentUnauthorizedShareOneRefresh();
    void renewedTokenResendsWithoutRefresh();
    void refreshBackOff();
    void refreshRefused_data();
    void refreshRefused();
    void bodyRules_data();
    void bodyRules();
    void requestShape();
    void refusedBeforeSending_data();
    void refusedBeforeSending();
    void cancelAllEndsEverythingOnce();
    void cutShortReplies_data();
    void cutShortReplies();

private:
    std::unique_ptr<TestHome> m_home;
};

void ApiClientTest::initTestCase()
{
    m_home = std::make_unique<TestHome>();
    QVERIFY(m_home->isValid());
}

void ApiClientTest::concurrentUnauthorizedShareOneRefresh()
{
    HttpServer server;
    QList<HttpResponderPtr> held;
    HttpResponderPtr heldRetry;
    server.setHandler([&](const HttpRequest &request, const HttpResponderPtr &reply) {
        if (request.route() == u"POST /auth/refresh") {
            reply->sendJson(200,
                            QJsonObject{{u"data"_s, tokens(u"new-access"_s, u"new-refresh"_s)}});
            return;
        }
        if (request.header("Authorization") == "Bearer old-access") {
            // All three are refused together, so they meet the refresh at the same time.
            held.append(reply);
            if (held.size() == 3) {
                for (const HttpResponderPtr &waiting : std::as_const(held))
                    waiting->sendJson(401, QJsonObject());
                held.clear();
            }
            return;
        }
        if (request.path() == u"/c") {
            // Refused again once the other two are through: signing out cancels what is in flight.
            heldRetry = reply;
            return;
        }
        reply->sendJson(200, QJsonObject{{u"path"_s, request.path()}});
    });
    QVERIFY(server.listen());

    ApiClient client;
    client.setBaseUrl(baseOf(server));
    Session session(client);
    QSignalSpy errors(&session, &Session::error);
    QVERIFY(session.acceptTokens(QJsonObject{{u"accessToken"_s, u"old-access"_s},
                                             {u"refreshToken"_s, u"old-refresh"_s},
                                             {u"deviceId"_s, u"device-1"_s}}));

    Outcome a, b, c;
    client.request("GET", u"/a"_s, {}, true, record(a));
    client.request("GET", u"/b"_s, {}, true, record(b));
    client.request("GET", u"/c"_s, {}, true, record(c));
    QTRY_VERIFY(a.calls && b.calls && heldRetry);
    QCOMPARE(c.calls, 0);
    heldRetry->sendJson(401, QJsonObject{{u"error"_s, u"still refused"_s}});
    QTRY_COMPARE(c.calls, 1);

    QCOMPARE(server.requestCount(u"POST /auth/refresh"_s), 1);
    const HttpRequest refresh = requestsTo(server, u"/auth/refresh"_s).constFirst();
    QVERIFY(!refresh.hasHeader("Authorization"));
    const QJsonObject expectedBody{{u"token"_s, u"old-refresh"_s}};
    QVERIFY(QJsonDocument::fromJson(refresh.body).object() == expectedBody);
    for (const QString &path : {u"/a"_s, u"/b"_s, u"/c"_s}) {
        const QList<HttpRequest> sent = requestsTo(server, path);
        QCOMPARE(sent.size(), 2);
        QVERIFY(sent.at(1).header("Authorization") == "Bearer new-access");
    }

    QCOMPARE(a.calls, 1);
    QCOMPARE(b.calls, 1);
    QCOMPARE(c.calls, 1);
    QCOMPARE(a.result.status, 200);
    QCOMPARE(b.result.body.value(u"path"_s).toString(), u"/b"_s);
    // The second 401 is not refreshed again: the session signs out and the job ends cancelled.
    QVERIFY(c.result.cancelled);
    QCOMPARE(c.result.status, 0);
    QCOMPARE(errors.size(), 1);
    QCOMPARE(errors.at(0).at(0).toString(),
             u"Your session is no longer valid. Please sign in again."_s);
    QVERIFY(!client.hasTokens());
    QVERIFY(protectedstore::readProtected(u"session"_s).isEmpty());
    QCOMPARE(client.activeCount(), 0);
}

void ApiClientTest::renewedTokenResendsWithoutRefresh()
{
    HttpServer server;
    HttpResponderPtr held;
    server.setHandler([&held](const HttpRequest &request, const HttpResponderPtr &reply) {
        if (request.header("Authorization") == "Bearer first")
            held = reply;
        else
            reply->sendJson(200, QJsonObject{{u"ok"_s, true}});
    });
    QVERIFY(server.listen());

    ApiClient client;
    client.setBaseUrl(baseOf(server));
    int handlerCalls = 0;
    installTokenHandler(client, &handlerCalls);
    client.setTokens(u"first"_s, u"refresh-1"_s);

    Outcome outcome;
    client.request("GET", u"/slow"_s, {}, true, record(outcome));
    QTRY_VERIFY(held);
    client.setTokens(u"second"_s, u"refresh-2"_s);
    held->sendJson(401, QJsonObject());

    QTRY_COMPARE(outcome.calls, 1);
    QCOMPARE(outcome.result.status, 200);
    QCOMPARE(server.requestCount(u"POST /auth/refresh"_s), 0);
    QCOMPARE(handlerCalls, 0);
    const QList<HttpRequest> sent = requestsTo(server, u"/slow"_s);
    QCOMPARE(sent.size(), 2);
    QVERIFY(sent.at(1).header("Authorization") == "Bearer second");
}

void ApiClientTest::refreshBackOff()
{
    HttpServer server;
    server.setHandler([](const HttpRequest &request, const HttpResponderPtr &reply) {
        if (request.route() == u"POST /auth/refresh")
            reply->drop(); // no HTTP status at all: a network failure
        else
            reply->sendJson(401, QJsonObject());
    });
    QVERIFY(server.listen());

    ApiClient client;
    prepare(client, server);
    QList<int> delays;
    // Record the nominal delay, wait 1 ms instead; after seven, park the timer for the checks.
    client.setRetryInterval([&delays](int nominal) {
        delays.append(nominal);
        return delays.size() >= 7 ? 600000 : 1;
    });

    Outcome outcome;
    client.request("GET", u"/x"_s, {}, true, record(outcome));
    QTRY_COMPARE_WITH_TIMEOUT(delays.size(), 7, 20000);
    QCOMPARE(delays, (QList<int>{1000, 2000, 4000, 8000, 16000, 30000, 30000}));
    QVERIFY(client.isRetryPending());
    QCOMPARE(client.retryDelay(), 30000);
    QCOMPARE(outcome.calls, 0); // parked until a refresh succeeds

    client.setTokens(u"access-2"_s, u"refresh-2"_s);
    QVERIFY(!client.isRetryPending());
    QCOMPARE(client.retryDelay(), 1000);
    client.refreshIfNeeded();
    QTRY_COMPARE(delays.size(), 8);
    QCOMPARE(delays.last(), 1000);

    client.cancelAll();
    QCOMPARE(outcome.calls, 1);
    QVERIFY(outcome.result.cancelled);
    QVERIFY(!client.isRetryPending());
}

void ApiClientTest::refreshRefused_data()
{
    QTest::addColumn<int>("refreshStatus");
    QTest::newRow("401") << 401;
    QTest::newRow("403") << 403;
}

void ApiClientTest::refreshRefused()
{
    QFETCH(int, refreshStatus);
    HttpServer server;
    server.setHandler([refreshStatus](const HttpRequest &request, const HttpResponderPtr &reply) {
        if (request.route() == u"POST /auth/refresh")
            reply->sendJson(refreshStatus, QJsonObject{{u"error"_s, u"revoked"_s}});
        else
            reply->sendJson(401, QJsonObject());
    });
    QVERIFY(server.listen());

    ApiClient client;
    int handlerCalls = 0;
    prepare(client, server, &handlerCalls);
    QSignalSpy expired(&client, &ApiClient::sessionExpired);

    // Without a session listening, the parked jobs carry the refresh reply itself.
    Outcome first, second;
    client.request("GET", u"/first"_s, {}, true, record(first));
    client.request("POST", u"/second"_s, QJsonObject{{u"n"_s, 1}}, true, record(second));
    QTRY_VERIFY(first.calls && second.calls);

    QCOMPARE(expired.size(), 1);
    QCOMPARE(handlerCalls, 0);
    QVERIFY(!client.hasTokens());
    QCOMPARE(server.requestCount(u"POST /auth/refresh"_s), 1);
    for (const Outcome *outcome : {&first, &second}) {
        QCOMPARE(outcome->calls, 1);
        QVERIFY(!outcome->result.cancelled);
        QCOMPARE(outcome->result.status, refreshStatus);
        QCOMPARE(outcome->result.body.value(u"error"_s).toString(), u"revoked"_s);
    }
}

void ApiClientTest::bodyRules_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<int>("expectedStatus");
    QTest::addColumn<QByteArray>("expectedBody");
    const QByteArray html = "<!DOCTYPE html><html><body>Gateway</body></html>";
    QTest::newRow("object") << 200 << QByteArray(R"({"a":1})") << QByteArray("application/json")
                            << 200 << QByteArray(R"({"a":1})");
    QTest::newRow("null") << 200 << QByteArray("null") << QByteArray("application/json") << 200
                          << QByteArray("{}");
    QTest::newRow("null with white space")
        << 200 << QByteArray(" null\n") << QByteArray("text/plain") << 200 << QByteArray("{}");
    QTest::newRow("empty 204") << 204 << QByteArray() << QByteArray("application/json") << 204
                               << QByteArray("{}");
    QTest::newRow("html with 200")
        << 200 << html << QByteArray("text/html") << 502 << QByteArray("{}");
    QTest::newRow("html with 500")
        << 500 << html << QByteArray("text/html") << 500 << QByteArray("{}");
    QTest::newRow("truncated json with 201")
        << 201 << QByteArray(R"({"a":)") << QByteArray("application/json") << 502
        << QByteArray("{}");
    QTest::newRow("array") << 200 << QByteArray(R"([1,{"_id":7}])")
                           << QByteArray("application/json") << 200
                           << QByteArray(R"({"data":[1,{"_id":7}]})");
    QTest::newRow("error object with 422")
        << 422 << QByteArray(R"({"error":"bad"})") << QByteArray("application/json") << 422
        << QByteArray(R"({"error":"bad"})");
    QTest::newRow("unauthenticated 401 delivered")
        << 401 << QByteArray(R"({"error":"no"})") << QByteArray("application/json") << 401
        << QByteArray(R"({"error":"no"})");
    QTest::newRow("redirect not followed")
        << 302 << QByteArray() << QByteArray("text/html") << 302 << QByteArray("{}");
}

void ApiClientTest::bodyRules()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(int, expectedStatus);
    QFETCH(QByteArray, expectedBody);

    HttpServer server;
    server.setHandler([&](const HttpRequest &, const HttpResponderPtr &reply) {
        reply->setHeader("Location", "/elsewhere");
        reply->send(status, body, contentType);
    });
    QVERIFY(server.listen());
    ApiClient client;
    prepare(client, server);

    Outcome outcome;
    client.request("GET", u"/body"_s, {}, false, record(outcome));
    QTRY_COMPARE(outcome.calls, 1);
    QCOMPARE(outcome.result.status, expectedStatus);
    QCOMPARE(outcome.result.body, QJsonDocument::fromJson(expectedBody).object());
    QVERIFY(!outcome.result.cancelled);
    QCOMPARE(server.requestCount(), 1); // no refresh, no redirect
    QVERIFY(client.hasTokens());
}

void ApiClientTest::requestShape()
{
    HttpServer server;
    server.setHandler([](const HttpRequest &, const HttpResponderPtr &reply) {
        reply->sendJson(200, QJsonObject());
    });
    QVERIFY(server.listen());
    ApiClient client;
    client.setBaseUrl(QUrl(baseOf(server).toString() + u'/'));
    client.setTokens(u"token-1"_s, u"refresh-1"_s);
    QSignalSpy activity(&client, &ApiClient::activityChanged);

    Outcome removed, login;
    client.request("DELETE", u"/vpn-profiles/p1"_s, {}, true, record(removed));
    client.request("POST", u"/auth/login?x=1"_s, QJsonObject{{u"email"_s, u"a@b.example"_s}}, false,
                   record(login));
    QTRY_VERIFY(removed.calls && login.calls);

    QCOMPARE(server.requestCount(), 2);
    const HttpRequest del = requestsTo(server, u"/vpn-profiles/p1"_s).constFirst();
    QCOMPARE(del.method, QByteArray("DELETE"));
    QCOMPARE(del.header("Content-Type"), QByteArray("application/json"));
    // Qt would inflate a compressed body itself, past the size limit.
    QCOMPARE(del.header("Accept-Encoding"), QByteArray("identity"));
    QVERIFY(del.header("Authorization") == "Bearer token-1");
    QVERIFY(del.body.isEmpty());
    const HttpRequest post = requestsTo(server, u"/auth/login"_s).constFirst();
    QCOMPARE(post.target, QByteArray("/auth/login?x=1"));
    QCOMPARE(post.header("Content-Type"), QByteArray("application/json"));
    QVERIFY(!post.hasHeader("Authorization"));
    QCOMPARE(post.body, QByteArray(R"({"email":"a@b.example"})"));

    QList<int> counts;
    for (const QList<QVariant> &arguments : std::as_const(activity))
        counts.append(arguments.at(0).toInt());
    QCOMPARE(counts, (QList<int>{1, 2, 1, 0}));
}

void ApiClientTest::refusedBeforeSending_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<bool>("production");
    QTest::addColumn<QString>("path");
    // %1 is the configured server's port, %2 the port of a second server that must stay unseen.
    QTest::newRow("absolute url to another port")
        << u"http://127.0.0.1:%1"_s << false << u"http://127.0.0.1:%2/me"_s;
    QTest::newRow("network-path reference")
        << u"http://127.0.0.1:%1"_s << false << u"//127.0.0.1:%2/me"_s;
    QTest::newRow("absolute url to another host")
        << u"http://127.0.0.1:%1"_s << false << u"http://localhost:%2/me"_s;
    QTest::newRow("another scheme")
        << u"http://127.0.0.1:%1"_s << false << u"https://127.0.0.1:%1/me"_s;
    QTest::newRow("base with a path") << u"http://127.0.0.1:%1/api"_s << false << u"/me"_s;
    QTest::newRow("plain http in production") << u"http://127.0.0.1:%1"_s << true << u"/me"_s;
    QTest::newRow("private address") << u"http://10.1.2.3:%1"_s << false << u"/me"_s;
    QTest::newRow("no base url") << QString() << false << u"http://127.0.0.1:%1/me"_s;
}

void ApiClientTest::refusedBeforeSending()
{
    QFETCH(QString, base);
    QFETCH(bool, production);
    QFETCH(QString, path);

    HttpServer configured, other;
    QVERIFY(configured.listen());
    QVERIFY(other.listen());
    const auto fill = [&](QString text) {
        return text.replace(u"%1"_s, QString::number(configured.port()))
            .replace(u"%2"_s, QString::number(other.port()));
    };
    ApiClient client;
    client.setBaseUrl(QUrl(fill(base)));
    client.setProduction(production);
    client.setTokens(u"secret-access"_s, u"secret-refresh"_s);

    Outcome outcome;
    client.request("GET", fill(path), {}, true, record(outcome));
    // Refusals are decided before anything is sent, inside the call.
    QCOMPARE(outcome.calls, 1);
    QCOMPARE(outcome.result.status, 400);
    QVERIFY(!outcome.result.cancelled);
    QVERIFY(outcome.result.body.isEmpty());
    QTest::qWait(50);
    QCOMPARE(configured.connectionCount(), 0);
    QCOMPARE(other.connectionCount(), 0);
    QCOMPARE(client.activeCount(), 0);
}

void ApiClientTest::cancelAllEndsEverythingOnce()
{
    HttpServer server;
    QList<HttpResponderPtr> held;
    HttpResponderPtr heldRefresh;
    server.setHandler([&](const HttpRequest &request, const HttpResponderPtr &reply) {
        if (request.route() == u"POST /auth/refresh")
            heldRefresh = reply;
        else if (request.path() == u"/expired")
            reply->sendJson(401, QJsonObject());
        else if (request.path() == u"/after")
            reply->sendJson(200, QJsonObject{{u"after"_s, true}});
        else
            held.append(reply);
    });
    QVERIFY(server.listen());

    ApiClient client;
    int handlerCalls = 0;
    prepare(client, server, &handlerCalls);
    QSignalSpy expired(&client, &ApiClient::sessionExpired);

    Outcome first, second, parked, after;
    // A callback that issues a new request while the cancellation is still running.
    client.request("GET", u"/held-1"_s, {}, true, [&](const ApiResult &result) {
        record(first)(result);
        client.request("GET", u"/after"_s, {}, false, record(after));
    });
    client.request("GET", u"/held-2"_s, {}, false, record(second));
    client.request("GET", u"/expired"_s, {}, true, record(parked));
    QTRY_VERIFY(heldRefresh && held.size() == 2);
    QCOMPARE(client.activeCount(), 3);

    client.cancelAll();
    for (const Outcome *outcome : {&first, &second, &parked}) {
        QCOMPARE(outcome->calls, 1);
        QVERIFY(outcome->result.cancelled);
        QCOMPARE(outcome->result.status, 0);
        QVERIFY(outcome->result.body.isEmpty());
    }
    // The refresh was in flight, so its tokens can no longer be trusted.
    QCOMPARE(expired.size(), 1);
    QVERIFY(!client.hasTokens());

    // Late replies, the refresh included, change nothing.
    heldRefresh->sendJson(200, QJsonObject{{u"data"_s, tokens(u"late"_s, u"late"_s)}});
    for (const HttpResponderPtr &reply : std::as_const(held))
        reply->sendJson(200, QJsonObject());
    QTRY_COMPARE(after.calls, 1);
    QCOMPARE(after.result.status, 200);
    QTest::qWait(50);
    QCOMPARE(handlerCalls, 0);
    QVERIFY(!client.hasTokens());
    QCOMPARE(first.calls, 1);
    QCOMPARE(second.calls, 1);
    QCOMPARE(parked.calls, 1);
    QCOMPARE(expired.size(), 1);
    QCOMPARE(client.activeCount(), 0);
}

void ApiClientTest::cutShortReplies_data()
{
    QTest::addColumn<QByteArray>("head");
    QTest::addColumn<QByteArray>("piece");
    QTest::addColumn<int>("pauseMs");
    QTest::addColumn<int>("deadlineMs");
    const QByteArray ok = "HTTP/1.1 200 OK\r\n";
    // Trickled too slowly to end any other way within the wait: only the announced length can.
    QTest::newRow("announced too large")
        << ok + "Content-Length: " + QByteArray::number(ApiClient::maxReplyBytes + 1) + "\r\n\r\n"
        << QByteArray(" ") << 1000 << ApiClient::requestDeadlineMs;
    QTest::newRow("chunked too large") << StreamingServer::chunkedHead << StreamingServer::chunk
                                       << 0 << ApiClient::requestDeadlineMs;
    QTest::newRow("trickling") << ok + "Content-Length: 1000\r\n\r\n"
                               << QByteArray(" ") << 20 << 300;
}

void ApiClientTest::cutShortReplies()
{
    QFETCH(QByteArray, head);
    QFETCH(QByteArray, piece);
    QFETCH(int, pauseMs);
    QFETCH(int, deadlineMs);
    StreamingServer server;
    server.head = head;
    server.piece = piece;
    server.pauseMs = pauseMs;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    ApiClient client;
    client.setBaseUrl(QUrl(u"http://127.0.0.1:%1"_s.arg(server.serverPort())));
    client.setRequestDeadline(deadlineMs);

    Outcome outcome;
    QElapsedTimer clock;
    clock.start();
    client.request("GET", u"/servers"_s, {}, false, record(outcome));
    QTRY_COMPARE(outcome.calls, 1);
    QCOMPARE(outcome.result.status, 0);
    QVERIFY(!outcome.result.cancelled);
    QVERIFY2(server.written < server.total / 2, QByteArray::number(server.written));
    if (deadlineMs < ApiClient::requestDeadlineMs)
        QCOMPARE_GE(clock.elapsed(), deadlineMs);
}

QTEST_GUILESS_MAIN(ApiClientTest)
#include "tst_apiclient.moc"
