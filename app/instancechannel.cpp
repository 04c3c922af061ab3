#include "app/instancechannel.h"

#include "platform/localchannel.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// A client that serves the channel answers a knock at once.
constexpr int knockTimeoutMs = 500;

// One line of compact JSON, or nothing when `bytes` is not exactly that object.
std::optional<QJsonObject> messageObject(const QByteArray &bytes)
{
    if (bytes.size() > InstanceChannel::maximumMessageSize || !bytes.endsWith('\n')) {
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

QByteArray messageBytes(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// Reads one line of at most maximumMessageSize bytes within `timeoutMs`.
QByteArray readLine(QLocalSocket &socket, int timeoutMs)
{
    QByteArray line;
    while (!line.endsWith('\n') && line.size() <= InstanceChannel::maximumMessageSize) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(timeoutMs)) {
            break;
        }
        line += socket.read(InstanceChannel::maximumMessageSize + 1 - line.size());
    }
    return line;
}

} // namespace

InstanceChannel::InstanceChannel(const QString &id, QObject *parent)
    : QObject(parent)
    , m_name(QString::fromStdString(platform::userChannelName(id.toStdString())))
{}

QString InstanceChannel::accountChannelId()
{
    const QString identity = QDir::homePath() + u'\n' + QCoreApplication::organizationName() +
                             u'\n' + QCoreApplication::applicationName();
    return QString::fromLatin1(
        QCryptographicHash::hash(identity.toUtf8(), QCryptographicHash::Sha256).toHex().left(20));
}

bool InstanceChannel::claim()
{
    if (m_name.isEmpty() || answers(m_name)) {
        return false;
    }
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(8);
    if (!m_server->listen(m_name)) {
        // Another start may have won the race since the knock; if still nobody answers, what is
        // left there belongs to a client that ended without closing it.
        if (answers(m_name)) {
            return false;
        }
        QLocalServer::removeServer(m_name);
        if (!m_server->listen(m_name)) {
            return false;
        }
    }
    connect(m_server, &QLocalServer::newConnection, this, &InstanceChannel::accept);
    return true;
}

void InstanceChannel::accept()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { read(socket); });
    }
}

void InstanceChannel::read(QLocalSocket *socket)
{
    const QByteArray pending = socket->peek(maximumMessageSize + 1);
    if (!pending.contains('\n')) {
        if (pending.size() > maximumMessageSize) {
            socket->abort();
        }
        return;
    }
    const std::optional<QJsonObject> message = messageObject(socket->readAll());
    const QJsonValue arguments = message ? message->value(u"arguments"_s) : QJsonValue();
    const QJsonArray list = arguments.toArray();
    const bool wellFormed = message && message->size() == 1 && arguments.isArray() &&
                            std::all_of(list.begin(), list.end(),
                                        [](const QJsonValue &value) { return value.isString(); });
    if (!wellFormed) {
        socket->abort();
        return;
    }
    QStringList texts;
    for (const QJsonValue &argument : list) {
        texts << argument.toString();
    }
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    const QPointer<QLocalSocket> target(socket);
    emit received(texts, [target](const Answer &answer) {
        if (target) {
            target->write(messageBytes({{u"code"_s, answer.code}, {u"text"_s, answer.text}}));
            target->disconnectFromServer();
        }
    });
}

bool InstanceChannel::answers(const QString &name)
{
    QLocalSocket knock;
    knock.connectToServer(name);
    return knock.waitForConnected(knockTimeoutMs);
}

std::optional<InstanceChannel::Answer>
InstanceChannel::send(const QString &name, const QStringList &arguments, int timeoutMs)
{
    if (name.isEmpty()) {
        return std::nullopt;
    }
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(knockTimeoutMs)) {
        return std::nullopt;
    }
    socket.write(messageBytes({{u"arguments"_s, QJsonArray::fromStringList(arguments)}}));
    if (!socket.waitForBytesWritten(timeoutMs)) {
        return std::nullopt;
    }
    const std::optional<QJsonObject> answer = messageObject(readLine(socket, timeoutMs));
    if (!answer || !answer->value(u"code"_s).isDouble() || !answer->value(u"text"_s).isString()) {
        return std::nullopt;
    }
    return Answer{answer->value(u"code"_s).toInt(), answer->value(u"text"_s).toString()};
}
