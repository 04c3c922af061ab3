#include "httpserver.h"

#include <QJsonDocument>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>

namespace {

QByteArray originForm(const QByteArray &target)
{
    // A proxy receives "http://host/path"; handlers only care about "/path".
    if (target.startsWith("http://") || target.startsWith("https://")) {
        const qsizetype slash = target.indexOf('/', target.indexOf("//") + 2);
        return slash < 0 ? QByteArray("/") : target.mid(slash);
    }
    return target;
}

bool parseContentLength(const QByteArray &text, qsizetype *length)
{
    const QByteArray trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > 12)
        return false;
    for (const char c : trimmed) {
        if (c < '0' || c > '9')
            return false;
    }
    *length = trimmed.toLongLong();
    return true;
}

} // namespace

QByteArray HttpRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool HttpRequest::hasHeader(QByteArrayView name) const
{
    for (const auto &entry : headers) {
        if (name.compare(entry.first, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString HttpRequest::path() const
{
    const QByteArray origin = originForm(target);
    const qsizetype question = origin.indexOf('?');
    return QUrl::fromPercentEncoding(question < 0 ? origin : origin.left(question));
}

QUrlQuery HttpRequest::query() const
{
    const QByteArray origin = originForm(target);
    const qsizetype question = origin.indexOf('?');
    return question < 0 ? QUrlQuery() : QUrlQuery(QString::fromUtf8(origin.mid(question + 1)));
}

QString HttpRequest::route() const
{
    return QString::fromLatin1(method) + u' ' + path();
}

HttpResponder::HttpResponder(HttpServer *server, QTcpSocket *socket, bool closeAfterReply)
    : m_server(server)
    , m_socket(socket)
    , m_closeAfterReply(closeAfterReply)
{}

HttpResponder::~HttpResponder()
{
    if (!m_finished)
        drop();
}

void HttpResponder::setStatus(int status)
{
    m_status = status;
}

void HttpResponder::setHeader(const QByteArray &name, const QByteArray &value)
{
    for (auto &entry : m_headers) {
        if (entry.first.compare(name, Qt::CaseInsensitive) == 0) {
            entry.second = value;
            return;
        }
    }
    m_headers.append({name, value});
}

void HttpResponder::setBody(const QByteArray &body, const QByteArray &contentType)
{
    m_body = body;
    if (!contentType.isEmpty())
        setHeader("Content-Type", contentType);
}

void HttpResponder::send()
{
    if (m_finished)
        return;
    m_finished = true;
    if (!m_socket || !m_server)
        return;
    QByteArray out =
        "HTTP/1.1 " + QByteArray::number(m_status) + ' ' + Http::reasonPhrase(m_status) + "\r\n";
    for (const auto &[name, value] : std::as_const(m_headers)) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) != 0 &&
            name.compare("Connection", Qt::CaseInsensitive) != 0)
            out += name + ": " + value + "\r\n";
    }
    out += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
    out += m_closeAfterReply ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    out += "\r\n" + m_body;
    m_socket->write(out);
    m_server->replyFinished(m_socket, m_closeAfterReply);
}

void HttpResponder::send(int status, const QByteArray &body, const QByteArray &contentType)
{
    setStatus(status);
    setBody(body, contentType);
    send();
}

void HttpResponder::sendJson(int status, const QJsonObject &body)
{
    send(status, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

void HttpResponder::sendJson(int status, const QJsonArray &body)
{
    send(status, QJsonDocument(body).toJson(QJsonDocument::Compact));
}

void HttpResponder::drop()
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_socket)
        m_socket->abort();
}

bool HttpResponder::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

HttpServer::HttpServer(QObject *parent)
    : QObject(parent)
    , m_listener(new QTcpServer(this))
{
    connect(m_listener, &QTcpServer::newConnection, this, &HttpServer::acceptConnections);
}

HttpServer::~HttpServer()
{
    // Sockets are children of the listener; forget them before Qt deletes them.
    m_connections.clear();
}

void HttpServer::setHandler(HttpHandler handler)
{
    m_handler = std::move(handler);
}

bool HttpServer::listen(const QHostAddress &address, quint16 port)
{
    return m_listener->listen(address, port);
}

void HttpServer::close()
{
    m_listener->close();
    dropAllConnections();
}

bool HttpServer::isListening() const
{
    return m_listener->isListening();
}

quint16 HttpServer::port() const
{
    return m_listener->serverPort();
}

QString HttpServer::errorString() const
{
    return m_listener->errorString();
}

int HttpServer::requestCount(const QString &route) const
{
    return int(std::count_if(m_log.cbegin(), m_log.cend(), [&route](const HttpRequest &request) {
        return request.route() == route;
    }));
}

void HttpServer::dropAllConnections()
{
    const QList<QTcpSocket *> sockets = m_connections.keys();
    for (QTcpSocket *socket : sockets)
        socket->abort();
}

void HttpServer::acceptConnections()
{
    while (QTcpSocket *socket = m_listener->nextPendingConnection()) {
        ++m_connectionCount;
        m_connections.insert(socket, Connection{m_nextConnectionId++, {}, false});
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_connections.remove(socket);
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
    }
}

void HttpServer::readFrom(QTcpSocket *socket)
{
    QPointer<QTcpSocket> guard(socket);
    while (guard && m_connections.contains(socket)) {
        Connection &connection = m_connections[socket];
        connection.buffer += socket->readAll();
        // A connection being closed after a refusal or "Connection: close" takes no more requests.
        if (connection.busy || socket->state() != QAbstractSocket::ConnectedState)
            return;
        const qsizetype headerEnd = connection.buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) {
            if (connection.buffer.size() > maxHeaderBytes)
                refuse(socket, 431, "Request headers are too large.");
            return;
        }
        const QList<QByteArray> lines = connection.buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3 || !requestLine.at(2).startsWith("HTTP/1.")) {
            refuse(socket, 400, "Malformed request line.");
            return;
        }
        HttpRequest request;
        request.method = requestLine.at(0);
        request.target = requestLine.at(1);
        request.version = requestLine.at(2);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0) {
                refuse(socket, 400, "Malformed header line.");
                return;
            }
            request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        if (request.hasHeader("Transfer-Encoding")) {
            refuse(socket, 411, "Request bodies need a Content-Length.");
            return;
        }
        qsizetype length = 0;
        if (request.hasHeader("Content-Length") &&
            !parseContentLength(request.header("Content-Length"), &length)) {
            refuse(socket, 400, "Malformed Content-Length.");
            return;
        }
        if (length > maxBodyBytes) {
            refuse(socket, 413, "Request body is too large.");
            return;
        }
        const qsizetype bodyStart = headerEnd + 4;
        if (connection.buffer.size() - bodyStart < length)
            return;
        request.body = connection.buffer.mid(bodyStart, length);
        connection.buffer.remove(0, bodyStart + length);
        connection.busy = true;
        request.connectionId = connection.id;
        request.sequence = int(m_log.size()) + 1;

        const bool close = request.version == "HTTP/1.0" ||
                           request.header("Connection").compare("close", Qt::CaseInsensitive) == 0;
        auto responder = std::make_shared<HttpResponder>(this, socket, close);
        m_log.append(request);
        emit requestReceived(request);
        if (m_handler)
            m_handler(request, responder);
        else
            responder->sendJson(
                404, QJsonObject{{QStringLiteral("error"), QStringLiteral("Not found.")}});
    }
}

void HttpServer::replyFinished(QTcpSocket *socket, bool closeConnection)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    found->busy = false;
    if (closeConnection) {
        socket->disconnectFromHost();
        return;
    }
    // A request that arrived while this reply was held is waiting in the buffer.
    if (!found->buffer.isEmpty() || socket->bytesAvailable() > 0) {
        QMetaObject::invokeMethod(
            this,
            [this, guard = QPointer<QTcpSocket>(socket)] {
                if (guard)
                    readFrom(guard);
            },
            Qt::QueuedConnection);
    }
}

void HttpServer::refuse(QTcpSocket *socket, int status, const QByteArray &message)
{
    m_connections[socket].busy = true;
    HttpResponder responder(this, socket, true);
    responder.sendJson(status, QJsonObject{{QStringLiteral("error"), QString::fromUtf8(message)}});
}

QByteArray Http::reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 202:
        return "Accepted";
    case 204:
        return "No Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 411:
        return "Length Required";
    case 413:
        return "Payload Too Large";
    case 422:
        return "Unprocessable Entity";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    case 504:
        return "Gateway Timeout";
    default:
        return "Status";
    }
}
