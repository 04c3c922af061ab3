#include "proxyconnection.h"

#include "common/secretwipe.h"
#include "enginelog.h"

#include <QList>
#include <QUrl>
#include <QtEndian>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int handshakeLimitMs = 30000;
constexpr qsizetype httpHeaderLimit = 16 * 1024;

constexpr char socksVersion = 0x05;
constexpr char socksUserPassword = 0x02;
constexpr char socksNoAcceptableMethod = char(0xff);
constexpr char socksConnect = 0x01;
constexpr char socksIpv4 = 0x01;
constexpr char socksDomain = 0x03;
constexpr char socksIpv6 = 0x04;

QByteArray socksFailure(char code)
{
    return QByteArray("\x05", 1) + code + QByteArray("\x00\x01\x00\x00\x00\x00\x00\x00", 8);
}

quint16 bigEndianPort(const QByteArray &bytes, qsizetype at)
{
    return quint16((quint8(bytes.at(at)) << 8) | quint8(bytes.at(at + 1)));
}

// "host:port" or "[v6]:port"; false when malformed.
bool splitAuthority(const QString &authority, QString *host, quint16 *port)
{
    const qsizetype colon = authority.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    QString name = authority.left(colon);
    if (name.startsWith(u'[') && name.endsWith(u']'))
        name = name.mid(1, name.size() - 2);
    bool ok = false;
    const uint number = QStringView(authority).mid(colon + 1).toUInt(&ok);
    if (!ok || number == 0 || number > 65535 || name.isEmpty())
        return false;
    *host = name;
    *port = quint16(number);
    return true;
}

bool hopByHopHeader(const QByteArray &name)
{
    static const QList<QByteArray> names{"proxy-authorization", "proxy-connection", "connection",
                                         "keep-alive"};
    return names.contains(name.trimmed().toLower());
}

} // namespace

ProxyConnection::ProxyConnection(QTcpSocket *client, const QList<engineconfig::ProxyUser> &users,
                                 EngineLog *log, const QString &logPrefix, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_users(users)
    , m_log(log)
    , m_logPrefix(logPrefix)
{
    m_client->setParent(this);
    m_log->write(EngineLog::Level::Info, m_logPrefix + u"inbound connection from "_s +
                                             m_client->peerAddress().toString() + u':' +
                                             QString::number(m_client->peerPort()));
    connect(m_client, &QTcpSocket::readyRead, this, &ProxyConnection::readClient);
    connect(m_client, &QTcpSocket::disconnected, this, &ProxyConnection::sideClosed);
    m_handshakeLimit.setSingleShot(true);
    connect(&m_handshakeLimit, &QTimer::timeout, this,
            [this] { refuse({}, u"handshake timed out"_s); });
    m_handshakeLimit.start(handshakeLimitMs);
}

void ProxyConnection::readClient()
{
    m_buffer.append(m_client->readAll());
    bool progress = true;
    while (progress && !m_buffer.isEmpty()) {
        switch (m_stage) {
        case Stage::Detect:
            m_socks = m_buffer.at(0) == socksVersion;
            m_stage = m_socks ? Stage::SocksGreeting : Stage::HttpHeaders;
            break;
        case Stage::SocksGreeting:
            progress = socksGreeting();
            break;
        case Stage::SocksAuth:
            progress = socksAuth();
            break;
        case Stage::SocksRequest:
            progress = socksRequest();
            break;
        case Stage::HttpHeaders:
            progress = httpRequest();
            break;
        case Stage::Dialling:
            m_forward.append(m_buffer);
            m_buffer.clear();
            break;
        case Stage::Relaying:
            m_upstream->write(m_buffer);
            m_buffer.clear();
            break;
        case Stage::Closed:
            m_buffer.clear();
            break;
        }
    }
}

bool ProxyConnection::socksGreeting()
{
    if (m_buffer.size() < 2 || m_buffer.size() < 2 + quint8(m_buffer.at(1)))
        return false;
    const QByteArray methods = m_buffer.mid(2, quint8(m_buffer.at(1)));
    m_buffer.remove(0, 2 + methods.size());
    // Users are configured, so only the user/password method is acceptable.
    if (!methods.contains(socksUserPassword)) {
        refuse(QByteArray(1, socksVersion) + socksNoAcceptableMethod,
               u"socks5: no acceptable authentication method"_s);
        return false;
    }
    m_client->write(QByteArray(1, socksVersion) + socksUserPassword);
    m_stage = Stage::SocksAuth;
    return true;
}

bool ProxyConnection::socksAuth()
{
    if (m_buffer.size() < 2)
        return false;
    const qsizetype userLength = quint8(m_buffer.at(1));
    if (m_buffer.size() < 3 + userLength)
        return false;
    const qsizetype passwordLength = quint8(m_buffer.at(2 + userLength));
    if (m_buffer.size() < 3 + userLength + passwordLength)
        return false;
    const QByteArray username = m_buffer.mid(2, userLength);
    QByteArray password = m_buffer.mid(3 + userLength, passwordLength);
    const bool version = m_buffer.at(0) == 0x01;
    // Keep what the client sent after the credentials (an eager client sends its request at once).
    const QByteArray rest = m_buffer.mid(3 + userLength + passwordLength);
    secretwipe::wipe(m_buffer);
    m_buffer = rest;
    const bool accepted = version && authorised(username, password);
    secretwipe::wipe(password);
    if (!accepted) {
        refuse(QByteArray("\x01\x01", 2), u"socks5: authentication failed"_s);
        return false;
    }
    m_client->write(QByteArray("\x01\x00", 2));
    m_stage = Stage::SocksRequest;
    return true;
}

bool ProxyConnection::socksRequest()
{
    if (m_buffer.size() < 5)
        return false;
    const char command = m_buffer.at(1);
    const char addressType = m_buffer.at(3);
    qsizetype addressLength = 0;
    if (addressType == socksIpv4)
        addressLength = 4;
    else if (addressType == socksIpv6)
        addressLength = 16;
    else if (addressType == socksDomain)
        addressLength = 1 + quint8(m_buffer.at(4));
    else {
        refuse(socksFailure(0x08), u"socks5: unsupported address type"_s);
        return false;
    }
    if (m_buffer.size() < 4 + addressLength + 2)
        return false;
    if (m_buffer.at(0) != socksVersion || command != socksConnect) {
        refuse(socksFailure(0x07), u"socks5: unsupported command"_s);
        return false;
    }
    QString host;
    if (addressType == socksDomain) {
        host = QString::fromUtf8(m_buffer.mid(5, addressLength - 1));
    } else {
        const QByteArray raw = m_buffer.mid(4, addressLength);
        QHostAddress address;
        if (addressType == socksIpv4)
            address.setAddress(qFromBigEndian<quint32>(raw.constData()));
        else
            address.setAddress(reinterpret_cast<const quint8 *>(raw.constData()));
        host = address.toString();
    }
    const quint16 port = bigEndianPort(m_buffer, 4 + addressLength);
    m_buffer.remove(0, 4 + addressLength + 2);
    dial(host, port);
    return true;
}

bool ProxyConnection::httpRequest()
{
    const qsizetype end = m_buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_buffer.size() > httpHeaderLimit)
            refuse("HTTP/1.1 431 Request Header Fields Too Large\r\nConnection: close\r\n\r\n",
                   u"http: request header too large"_s);
        return false;
    }
    QList<QByteArray> lines = m_buffer.left(end).split('\n');
    QByteArray body = m_buffer.mid(end + 4);
    secretwipe::wipe(m_buffer);
    const QList<QByteArray> requestLine = lines.takeFirst().trimmed().split(' ');
    if (requestLine.size() != 3) {
        refuse("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n",
               u"http: malformed request"_s);
        return false;
    }
    bool accepted = false;
    QByteArray headers;
    for (QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        const QByteArray name = line.left(colon);
        if (colon > 0 && name.trimmed().toLower() == "proxy-authorization") {
            const QList<QByteArray> parts = line.mid(colon + 1).trimmed().split(' ');
            QByteArray credentials = parts.size() == 2 && parts.at(0).toLower() == "basic"
                                         ? QByteArray::fromBase64(parts.at(1))
                                         : QByteArray();
            const qsizetype split = credentials.indexOf(':');
            accepted = split > 0 && authorised(credentials.left(split), credentials.mid(split + 1));
            secretwipe::wipe(credentials);
        } else if (colon > 0 && !hopByHopHeader(name)) {
            headers += line.trimmed() + "\r\n";
        }
        secretwipe::wipe(line);
    }
    if (!accepted) {
        refuse("HTTP/1.1 407 Proxy Authentication Required\r\n"
               "Proxy-Authenticate: Basic realm=\"proxy\"\r\nContent-Length: 0\r\n"
               "Connection: close\r\n\r\n",
               u"http: authentication failed"_s);
        return false;
    }
    const QByteArray method = requestLine.at(0);
    const QString target = QString::fromUtf8(requestLine.at(1));
    QString host;
    quint16 port = 0;
    if (method == "CONNECT") {
        if (!splitAuthority(target, &host, &port)) {
            refuse("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n", u"http: bad target"_s);
            return false;
        }
        m_forward = body;
        m_connectTunnel = true;
    } else {
        const QUrl url(target, QUrl::StrictMode);
        if (!url.isValid() || url.scheme() != u"http"_s || url.host().isEmpty() ||
            !url.userInfo().isEmpty()) {
            refuse("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n", u"http: bad target"_s);
            return false;
        }
        host = url.host();
        port = quint16(url.port(80));
        QByteArray path = url.path(QUrl::FullyEncoded).toUtf8();
        if (path.isEmpty())
            path = "/";
        if (url.hasQuery())
            path += '?' + url.query(QUrl::FullyEncoded).toUtf8();
        // One request per connection: the next absolute URI may name another target.
        m_forward = method + ' ' + path + ' ' + requestLine.at(2) + "\r\n" + headers +
                    "Connection: close\r\n\r\n" + body;
    }
    dial(host, port);
    return true;
}

bool ProxyConnection::authorised(const QByteArray &username, const QByteArray &password) const
{
    for (const engineconfig::ProxyUser &user : m_users) {
        if (user.username.toUtf8() == username && user.password.toUtf8() == password)
            return true;
    }
    return false;
}

void ProxyConnection::dial(const QString &host, quint16 port)
{
    m_stage = Stage::Dialling;
    m_target = (host.contains(u':') ? u'[' + host + u']' : host) + u':' + QString::number(port);
    m_log->write(EngineLog::Level::Info, m_logPrefix + u"inbound connection to "_s + m_target);
    QHostAddress address(host);
    if (host.compare(u"localhost"_s, Qt::CaseInsensitive) == 0)
        address = QHostAddress(QHostAddress::LocalHost);
    // Names are not looked up and other hosts are not dialled: tests must never reach out. A test
    // that stands a namespace of its own in for the internet names the one address it serves.
    const QHostAddress stoodIn(qEnvironmentVariable("SOLVIKVPN_STUB_DIAL_ALSO"));
    if (!address.isLoopback() && (stoodIn.isNull() || address != stoodIn)) {
        logError(u"outbound/direct[direct]: dial tcp "_s + m_target +
                 u": the engine stub only dials loopback addresses"_s);
        sendReply(Reply::NotAllowed);
        return;
    }
    m_upstream = new QTcpSocket(this);
    connect(m_upstream, &QTcpSocket::connected, this, &ProxyConnection::upstreamConnected);
    connect(m_upstream, &QTcpSocket::errorOccurred, this, &ProxyConnection::upstreamFailed);
    connect(m_upstream, &QTcpSocket::readyRead, this,
            [this] { m_client->write(m_upstream->readAll()); });
    m_upstream->connectToHost(address, port);
}

void ProxyConnection::upstreamConnected()
{
    m_handshakeLimit.stop();
    m_log->write(EngineLog::Level::Info,
                 m_logPrefix + u"outbound/direct[direct]: outbound connection to "_s + m_target);
    sendReply(Reply::Success);
    m_stage = Stage::Relaying;
    m_upstream->write(m_forward);
    m_forward.clear();
    connect(m_upstream, &QTcpSocket::disconnected, this, &ProxyConnection::sideClosed);
}

void ProxyConnection::upstreamFailed()
{
    if (m_stage != Stage::Dialling)
        return;
    const bool refused = m_upstream->error() == QAbstractSocket::ConnectionRefusedError;
    logError(u"outbound/direct[direct]: dial tcp "_s + m_target + u": connect: "_s +
             (refused ? u"connection refused"_s : m_upstream->errorString().toLower()));
    sendReply(refused ? Reply::Refused : Reply::Unreachable);
}

void ProxyConnection::sendReply(Reply reply)
{
    if (reply == Reply::Success) {
        if (m_socks) {
            const QHostAddress local = m_upstream->localAddress();
            QByteArray bound("\x05\x00\x00\x01", 4);
            const quint32 ipv4 =
                local.protocol() == QAbstractSocket::IPv4Protocol ? local.toIPv4Address() : 0;
            bound += QByteArray(4, '\0');
            qToBigEndian(ipv4, bound.data() + 4);
            bound += QByteArray(2, '\0');
            qToBigEndian(m_upstream->localPort(), bound.data() + 8);
            m_client->write(bound);
        } else if (m_connectTunnel) {
            m_client->write("HTTP/1.1 200 Connection established\r\n\r\n");
        }
        return;
    }
    const char code = reply == Reply::Refused ? 0x05 : reply == Reply::NotAllowed ? 0x02 : 0x04;
    refuse(m_socks ? socksFailure(code)
                   : QByteArray("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n"
                                "Connection: close\r\n\r\n"),
           QString());
}

void ProxyConnection::refuse(const QByteArray &reply, const QString &reason)
{
    if (!reason.isEmpty())
        logError(reason);
    m_stage = Stage::Closed;
    m_handshakeLimit.stop();
    if (!reply.isEmpty() && m_client->state() == QAbstractSocket::ConnectedState)
        m_client->write(reply);
    sideClosed();
}

void ProxyConnection::sideClosed()
{
    // Pass on what the closing side sent last; the other side closes once its writes drain.
    if (m_stage == Stage::Relaying) {
        m_client->write(m_upstream->readAll());
        m_upstream->write(m_client->readAll());
    }
    m_stage = Stage::Closed;
    for (QTcpSocket *socket : {m_client, m_upstream}) {
        if (!socket)
            continue;
        if (socket->state() == QAbstractSocket::ConnectedState)
            socket->disconnectFromHost();
        else if (socket->state() != QAbstractSocket::ClosingState)
            socket->abort();
    }
    const bool upstreamClosed =
        !m_upstream || m_upstream->state() == QAbstractSocket::UnconnectedState;
    if (m_client->state() == QAbstractSocket::UnconnectedState && upstreamClosed)
        deleteLater();
}

void ProxyConnection::logError(const QString &message)
{
    m_log->write(EngineLog::Level::Error, m_logPrefix + message);
}
