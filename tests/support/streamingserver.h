#pragma once

#include <QByteArray>
#include <QTcpServer>

// A loopback HTTP server that answers any request with `head`, then writes `piece` `pauseMs`
// after the client took the last one, up to far more than the sockets' buffers hold; counts what
// the client took before it went away. For replies that must be cut short while they arrive.
class StreamingServer : public QTcpServer
{
public:
    static constexpr qint64 total = 256 * 1024 * 1024;

    StreamingServer(QByteArray head, QByteArray piece, int pauseMs = 0);
    // A chunked body of `total` bytes, as fast as the client takes it.
    static QByteArray chunkedHead();
    static QByteArray chunk();

    qint64 written() const { return m_written; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QByteArray m_head;
    QByteArray m_piece;
    int m_pauseMs;
    qint64 m_written = 0;
};
