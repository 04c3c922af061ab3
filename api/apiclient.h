#pragma once

#include "apiresult.h"

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QTimer;
class ReplyReader;

// The client's only path to the backend. Authenticated requests refused with 401 are parked while
// the access token is renewed once, then sent again; callbacks run exactly once, on the main
// thread, from the event loop (refusals before sending run inside request()).
class ApiClient : public QObject
{
    Q_OBJECT

public:
    using Callback = std::function<void(const ApiResult &)>;
    // Given the body of a successful refresh reply: stores the new tokens (via setTokens) or
    // returns false.
    using TokenHandler = std::function<bool(const QJsonObject &)>;
    // Maps the nominal back-off delay in milliseconds to the timer interval actually used.
    using RetryInterval = std::function<int(int)>;

    static constexpr int transferTimeoutMs = 20000;
    // The transfer time-out only sees silence; this ends a reply that trickles in.
    static constexpr int requestDeadlineMs = 60000;
    // Replies are untrusted and a page of records is a few KiB: anything larger is refused.
    static constexpr qint64 maxReplyBytes = 4 * 1024 * 1024;
    static constexpr int initialRetryDelayMs = 1000;
    static constexpr int maximumRetryDelayMs = 30000;

    explicit ApiClient(QObject *parent = nullptr);
    ~ApiClient() override;

    void request(const QByteArray &method, const QString &path, const QJsonObject &body,
                 bool authenticated, Callback callback);

    void setTokens(const QString &accessToken, const QString &refreshToken);
    void clearTokens();
    void cancelAll();
    void refreshIfNeeded();

    void setTokenHandler(TokenHandler handler);
    void setBaseUrl(const QUrl &url);
    QUrl baseUrl() const { return m_baseUrl; }
    void setProduction(bool production);
    bool production() const { return m_production; }
    // Smoke, preview and capture runs: every request is refused before it leaves, as for an
    // address that is not allowed, and no token is ever refreshed.
    void setOffline(bool offline) { m_offline = offline; }

    bool hasTokens() const { return !m_accessToken.isEmpty() || !m_refreshToken.isEmpty(); }
    int activeCount() const { return static_cast<int>(m_activeJobs.size()); }
    // The delay the next failed refresh waits before retrying.
    int retryDelay() const { return m_retryDelay; }
    bool isRetryPending() const;
    // Tests shorten the back-off without changing its nominal sequence.
    void setRetryInterval(RetryInterval interval);
    // Tests shorten the time any one request may take in all.
    void setRequestDeadline(int milliseconds) { m_requestDeadlineMs = milliseconds; }

signals:
    void sessionExpired();
    void activityChanged(int count);
    // A request ended without success (not by cancelAll): its method, its path without the query,
    // the status and the reply's error code ("" without one). Never the bodies.
    void requestFailed(const QByteArray &method, const QString &path, int status,
                       const QString &errorCode);

private:
    struct Job;
    using JobPtr = std::shared_ptr<Job>;

    // Jobs are taken by value: a callback may empty the container a reference would point into.
    void send(JobPtr job);
    void handleReply(JobPtr job, QNetworkReply *reply, QByteArray bytes);
    void finish(JobPtr job, const ApiResult &result);
    void startRefresh();
    void handleRefreshReply(QNetworkReply *reply, QByteArray bytes, int generation);
    QNetworkRequest baseRequest(const QUrl &url) const;
    // Holds a reply just sent to the size limit and the deadline; the reader takes its body in.
    ReplyReader *readBounded(QNetworkReply *reply) const;

    QNetworkAccessManager &network();

    QNetworkAccessManager *m_network = nullptr;
    QTimer *m_retryTimer;
    TokenHandler m_tokenHandler;
    RetryInterval m_retryInterval;
    int m_requestDeadlineMs = requestDeadlineMs;
    QUrl m_baseUrl;
    QString m_accessToken;
    QString m_refreshToken;
    bool m_production = false;
    bool m_offline = false;
    int m_generation = 0;
    qint64 m_tokenVersion = 0;
    qint64 m_nextJobId = 0;
    // Keyed by job id, so cancelAll() ends jobs in the order they were issued.
    std::map<qint64, JobPtr> m_activeJobs;
    std::vector<JobPtr> m_waitingJobs;
    QPointer<QNetworkReply> m_refreshReply;
    bool m_refreshing = false;
    int m_retryDelay = initialRetryDelayMs;
};
