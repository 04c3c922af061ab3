#include "synchttpclient.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTimer>

QJsonObject SyncHttpClient::Result::json() const
{
    return QJsonDocument::fromJson(body).object();
}

QJsonObject SyncHttpClient::Result::data() const
{
    const QJsonObject object = json();
    return object.value(u"data").isObject() ? object.value(u"data").toObject() : object;
}

SyncHttpClient::Result SyncHttpClient::send(const QByteArray &method, const QString &path,
                                            const QByteArray &body, int timeoutMs)
{
    QNetworkRequest request(m_base.resolved(QUrl(path)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    if (!m_bearer.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_bearer);
    QNetworkReply *reply = m_manager.sendCustomRequest(request, method, body);
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    if (!reply->isFinished())
        reply->abort();
    Result result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.error = reply->error();
    result.body = reply->readAll();
    reply->deleteLater();
    return result;
}

SyncHttpClient::Result SyncHttpClient::sendJson(const QByteArray &method, const QString &path,
                                                const QJsonObject &body)
{
    return send(method, path, QJsonDocument(body).toJson(QJsonDocument::Compact));
}
