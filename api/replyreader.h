#pragma once

#include <QByteArray>
#include <QObject>

#include <utility>

class QNetworkReply;
class QNetworkRequest;

// Takes in a reply's body while it arrives and aborts the reply as soon as the body is known to
// be larger than a limit (from its Content-Length, or once more has arrived), so an oversized or
// endless reply never sits in memory whole. Lives as the reply's child.
class ReplyReader : public QObject
{
    Q_OBJECT

public:
    // How much Qt's network thread may hold unread before it stops reading the socket.
    static constexpr qint64 readBufferBytes = 64 * 1024;

    // Asks for the body as sent: Qt would otherwise inflate a compressed one by itself, far past
    // any limit, and leave the reply hanging when it refuses to.
    static void askUncompressed(QNetworkRequest &request);

    ReplyReader(QNetworkReply *reply, qint64 maxBytes);

    QNetworkReply *reply() const { return m_reply; }
    // The body received so far: whole once the reply finished without error, nothing of a body
    // that passed the limit. The reader keeps no copy.
    QByteArray takeBody() { return std::exchange(m_body, QByteArray()); }

private:
    void read();

    QNetworkReply *m_reply;
    qint64 m_maxBytes;
    QByteArray m_body;
};
