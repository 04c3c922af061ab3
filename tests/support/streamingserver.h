#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

// Answers any request with `head`, then writes `piece` `pauseMs` after the client took the last
// one, up to far more than the sockets' buffers hold; counts what the client took before it went
// away. For replies that must be cut short while they arrive.
struct StreamingServer : QTcpServer
{
    static constexpr qint64 total = 256 * 1024 * 1024;
    static inline const QByteArray chunkedHead =
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    static inline const QByteArray chunk = "4000\r\n" + QByteArray(0x4000, ' ') + "\r\n";

    QByteArray head = chunkedHead;
    QByteArray piece = chunk;
    int pauseMs = 0;
    qint64 written = 0;

    void incomingConnection(qintptr descriptor) override
    {
        auto *socket = new QTcpSocket(this);
        socket->setSocketDescriptor(descriptor);
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            if (socket->readAll().contains("\r\n\r\n"))
                socket->write(head);
        });
        connect(socket, &QTcpSocket::bytesWritten, socket, [this, socket](qint64 bytes) {
            written += bytes;
            if (socket->bytesToWrite() == 0 && written < total)
                QTimer::singleShot(pauseMs, socket, [this, socket] { socket->write(piece); });
        });
    }
};
