#include "support/streamingserver.h"

#include <QTcpSocket>
#include <QTimer>

#include <utility>

StreamingServer::StreamingServer(QByteArray head, QByteArray piece, int pauseMs)
    : m_head(std::move(head))
    , m_piece(std::move(piece))
    , m_pauseMs(pauseMs)
{}

QByteArray StreamingServer::chunkedHead()
{
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
}

QByteArray StreamingServer::chunk()
{
    return "4000\r\n" + QByteArray(0x4000, ' ') + "\r\n";
}

void StreamingServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QTcpSocket(this);
    socket->setSocketDescriptor(descriptor);
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
        if (socket->readAll().contains("\r\n\r\n"))
            socket->write(m_head);
    });
    connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket](qint64 bytes) {
        m_written += bytes;
        if (socket->bytesToWrite() == 0 && m_written < total)
            QTimer::singleShot(m_pauseMs, socket, [this, socket] { socket->write(m_piece); });
    });
}
