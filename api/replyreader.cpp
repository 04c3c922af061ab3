#include "replyreader.h"

#include "common/secretwipe.h"

#include <QNetworkReply>
#include <QNetworkRequest>

void ReplyReader::askUncompressed(QNetworkRequest &request)
{
    request.setRawHeader("Accept-Encoding", "identity");
}

ReplyReader::ReplyReader(QNetworkReply *reply, qint64 maxBytes)
    : QObject(reply)
    , m_reply(reply)
    , m_maxBytes(maxBytes)
{
    // Without a read buffer, Qt's network thread reads as fast as the sender writes and queues
    // every block for this thread, which emits neither readyRead nor downloadProgress while more
    // blocks are queued: a fast stream arrives whole before any check runs. With one, the network
    // thread waits until the last piece was read here.
    reply->setReadBufferSize(readBufferBytes);
    // Qt 6.4 starts a request with a body from the event loop and drops a size set before that;
    // this call is queued behind the start.
    QMetaObject::invokeMethod(
        this, [reply] { reply->setReadBufferSize(readBufferBytes); }, Qt::QueuedConnection);
    connect(reply, &QNetworkReply::metaDataChanged, this, &ReplyReader::read);
    connect(reply, &QNetworkReply::readyRead, this, &ReplyReader::read);
}

void ReplyReader::read()
{
    if (m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong() <= m_maxBytes) {
        m_body += m_reply->read(m_maxBytes + 1 - m_body.size());
        if (m_body.size() <= m_maxBytes)
            return;
    }
    // Bodies may carry secrets, and nothing of a refused one is handed on.
    secretwipe::wipe(m_body);
    m_reply->abort();
}
