#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QUrl>

// Sends one request through QNetworkAccessManager and waits for it, so tests read like a script.
// The manager keeps connections alive between calls, as the client's does.
class SyncHttpClient
{
public:
    struct Result
    {
        int status = 0; // 0 when no HTTP reply arrived
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        QByteArray body;
        QJsonObject json() const;
        QJsonObject data() const; // "data" when it is an object, else the body itself
    };

    explicit SyncHttpClient(const QUrl &base = {})
        : m_base(base)
    {}

    void setBearer(const QByteArray &token) { m_bearer = token; }
    Result send(const QByteArray &method, const QString &path, const QByteArray &body = {},
                int timeoutMs = 5000);
    Result sendJson(const QByteArray &method, const QString &path, const QJsonObject &body);
    QNetworkAccessManager &manager() { return m_manager; }

private:
    QNetworkAccessManager m_manager;
    QUrl m_base;
    QByteArray m_bearer;
};
