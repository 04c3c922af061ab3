#pragma once

#include "engineconfig.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

class EngineLog;

// One client of the mixed proxy: recognises SOCKS5 or HTTP from the first byte, authenticates
// the user, dials the target and then relays bytes both ways until either side closes.
// Only loopback targets are dialled, so nothing a test does through the stub leaves the machine.
class ProxyConnection : public QObject
{
    Q_OBJECT

public:
    ProxyConnection(QTcpSocket *client, const QList<engineconfig::ProxyUser> &users, EngineLog *log,
                    const QString &logPrefix, QObject *parent);

private:
    enum class Stage
    {
        Detect,
        SocksGreeting,
        SocksAuth,
        SocksRequest,
        HttpHeaders,
        Dialling,
        Relaying,
        Closed
    };
    enum class Reply
    {
        Success,
        Refused,
        NotAllowed,
        Unreachable
    };

    void readClient();
    // Each consumes a complete message from the buffer; false while more bytes are needed.
    bool socksGreeting();
    bool socksAuth();
    bool socksRequest();
    bool httpRequest();

    bool authorised(const QByteArray &username, const QByteArray &password) const;
    void dial(const QString &host, quint16 port);
    void upstreamConnected();
    void upstreamFailed();
    void sendReply(Reply reply);
    void refuse(const QByteArray &reply, const QString &reason);
    void sideClosed();
    void logError(const QString &message);

    QTcpSocket *m_client;
    QTcpSocket *m_upstream = nullptr;
    const QList<engineconfig::ProxyUser> &m_users;
    EngineLog *m_log;
    QString m_logPrefix;
    Stage m_stage = Stage::Detect;
    bool m_socks = false;
    bool m_connectTunnel = false;
    QByteArray m_buffer;
    QByteArray m_forward;
    QString m_target;
    QTimer m_handshakeLimit;
};
