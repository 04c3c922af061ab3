#pragma once

// A small HTTP/1.1 server on QTcpServer for loopback tests and the development backend.
//
// Usage:
//     HttpServer server;
//     server.setHandler([](const HttpRequest &request, const HttpResponderPtr &reply) {
//         if (request.path() == u"/slow") {
//             held = reply;               // keep the pointer, answer later
//             return;
//         }
//         if (request.path() == u"/gone") {
//             reply->drop();              // close the connection without a reply
//             return;
//         }
//         reply->sendJson(200, QJsonObject{{u"ok"_s, true}});
//     });
//     QVERIFY(server.listen(QHostAddress::LocalHost)); // port 0: an ephemeral port
//     QUrl url(u"http://127.0.0.1:%1/path"_s.arg(server.port()));
//
// Connections are kept alive (HTTP/1.1 default) so a client can reuse them; a request that
// arrives while an earlier one on the same connection is still held waits its turn. A responder
// released by every holder without a reply drops its connection, so a forgotten reply surfaces
// as a network error instead of a hang. Bodies are read by Content-Length (no chunked requests).
// The server lives on the thread that created it; to serve a client that blocks its own thread,
// create the server inside a QThread.

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QUrlQuery>

#include <functional>
#include <memory>

class QTcpServer;
class QTcpSocket;

struct HttpRequest
{
    QByteArray method;
    QByteArray target; // as sent: "/path?query" or an absolute "http://host/path" (proxy form)
    QByteArray version;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;
    quint64 connectionId = 0; // same number for requests that arrived on the same connection
    int sequence = 0;         // 1 for the first request the server received

    // The first header of that name, compared without regard to case; empty when absent.
    QByteArray header(QByteArrayView name) const;
    bool hasHeader(QByteArrayView name) const;
    // The decoded path without the query, e.g. "/vpn-profiles/abc".
    QString path() const;
    QUrlQuery query() const;
    // "METHOD /path" without the query, e.g. "POST /vpn-profiles".
    QString route() const;
};

class HttpServer;

class HttpResponder
{
public:
    HttpResponder(HttpServer *server, QTcpSocket *socket, bool closeAfterReply);
    ~HttpResponder();
    HttpResponder(const HttpResponder &) = delete;
    HttpResponder &operator=(const HttpResponder &) = delete;

    void setStatus(int status);
    void setHeader(const QByteArray &name, const QByteArray &value);
    void setBody(const QByteArray &body, const QByteArray &contentType = "application/json");
    // Write the reply built so far. Does nothing after the first send() or drop().
    void send();
    void send(int status, const QByteArray &body,
              const QByteArray &contentType = "application/json");
    void sendJson(int status, const QJsonObject &body);
    void sendJson(int status, const QJsonArray &body);
    // Close the connection without writing anything.
    void drop();

    bool isFinished() const { return m_finished; }
    // False once the client went away; a held reply then has nowhere to go.
    bool isConnected() const;

private:
    QPointer<HttpServer> m_server;
    QPointer<QTcpSocket> m_socket;
    int m_status = 200;
    QList<QPair<QByteArray, QByteArray>> m_headers;
    QByteArray m_body;
    const bool m_closeAfterReply;
    bool m_finished = false;
};

using HttpResponderPtr = std::shared_ptr<HttpResponder>;
using HttpHandler = std::function<void(const HttpRequest &, const HttpResponderPtr &)>;

class HttpServer : public QObject
{
    Q_OBJECT
public:
    static constexpr qsizetype maxHeaderBytes = 64 * 1024;
    static constexpr qsizetype maxBodyBytes = 8 * 1024 * 1024;

    explicit HttpServer(QObject *parent = nullptr);
    ~HttpServer() override;

    // Without a handler every request gets 404.
    void setHandler(HttpHandler handler);
    bool listen(const QHostAddress &address = QHostAddress::LocalHost, quint16 port = 0);
    void close();
    bool isListening() const;
    quint16 port() const;
    QString errorString() const;

    // Everything received so far, for assertions.
    QList<HttpRequest> requests() const { return m_log; }
    int requestCount() const { return int(m_log.size()); }
    int requestCount(const QString &route) const;
    void clearLog() { m_log.clear(); }
    // Connections accepted so far; stays 1 across requests when the client keeps its connection.
    int connectionCount() const { return m_connectionCount; }
    // Close every open connection, as a server restart would.
    void dropAllConnections();

signals:
    void requestReceived(const HttpRequest &request);

private:
    friend class HttpResponder;
    struct Connection
    {
        quint64 id = 0;
        QByteArray buffer;
        bool busy = false; // a request on this connection still waits for its reply
    };

    void acceptConnections();
    void readFrom(QTcpSocket *socket);
    void replyFinished(QTcpSocket *socket, bool closeConnection);
    void refuse(QTcpSocket *socket, int status, const QByteArray &message);

    QTcpServer *m_listener = nullptr;
    HttpHandler m_handler;
    QHash<QTcpSocket *, Connection> m_connections;
    QList<HttpRequest> m_log;
    int m_connectionCount = 0;
    quint64 m_nextConnectionId = 1;
};

namespace Http {
QByteArray reasonPhrase(int status);
}
