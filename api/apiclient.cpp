#include "apiclient.h"

#include "apiaddress.h"
#include "backendcatalogue.h"
#include "common/secretwipe.h"
#include "replyreader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <algorithm>

struct ApiClient::Job
{
    qint64 id = 0;
    QByteArray method;
    QString path;
    QJsonObject body;
    bool authenticated = false;
    Callback callback;
    int generation = 0;
    // A job gets one renewed token after a 401; a second 401 ends it.
    bool retried = false;
    bool cancelled = false;
    QPointer<QNetworkReply> reply;
    qint64 tokenVersion = 0;
};

namespace {

ApiResult cancelledResult()
{
    ApiResult result;
    result.cancelled = true;
    return result;
}

ApiResult refusedResult()
{
    ApiResult result;
    result.status = 400;
    return result;
}

bool isSuccessStatus(int status)
{
    return status >= 200 && status <= 299;
}

// A transfer that broke off (no connection, time-out, deadline, size limit, abort) is a failed
// one, whatever status its headers carried: the body did not arrive whole.
int httpStatus(const QNetworkReply *reply)
{
    const QNetworkReply::NetworkError error = reply->error();
    if (error != QNetworkReply::NoError && error <= QNetworkReply::UnknownNetworkError)
        return 0;
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

ApiClient::ApiClient(QObject *parent)
    : QObject(parent)
    , m_retryTimer(new QTimer(this))
{
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, &ApiClient::startRefresh);
}

QNetworkAccessManager &ApiClient::network()
{
    // Made at the first request: a window that starts signed out sends none before it is drawn.
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
    }
    return *m_network;
}

ApiClient::~ApiClient()
{
    // Pending callbacks are dropped, not run: their owners may already be gone.
    for (const auto &entry : m_activeJobs) {
        if (entry.second->reply)
            entry.second->reply->disconnect(this);
    }
    if (m_refreshReply)
        m_refreshReply->disconnect(this);
    m_activeJobs.clear();
    m_waitingJobs.clear();
    secretwipe::wipe(m_accessToken);
    secretwipe::wipe(m_refreshToken);
}

void ApiClient::request(const QByteArray &method, const QString &path, const QJsonObject &body,
                        bool authenticated, Callback callback)
{
    auto job = std::make_shared<Job>();
    job->id = ++m_nextJobId;
    job->method = method;
    job->path = path;
    job->body = body;
    job->authenticated = authenticated;
    job->callback = std::move(callback);
    job->generation = m_generation;
    m_activeJobs.emplace(job->id, job);
    emit activityChanged(activeCount());
    send(job);
}

void ApiClient::setTokens(const QString &accessToken, const QString &refreshToken)
{
    secretwipe::wipe(m_accessToken);
    secretwipe::wipe(m_refreshToken);
    m_accessToken = accessToken;
    m_refreshToken = refreshToken;
    ++m_tokenVersion;
    m_retryTimer->stop();
    m_retryDelay = initialRetryDelayMs;
}

void ApiClient::clearTokens()
{
    secretwipe::wipe(m_accessToken);
    secretwipe::wipe(m_refreshToken);
    m_retryTimer->stop();
    m_retryDelay = initialRetryDelayMs;
}

void ApiClient::cancelAll()
{
    ++m_generation;
    const bool wasRefreshing = m_refreshing;
    m_refreshing = false;
    if (QNetworkReply *reply = m_refreshReply) {
        m_refreshReply.clear();
        // Its completion sees the new generation and changes nothing.
        reply->abort();
    }
    m_waitingJobs.clear();
    // Nothing waits for a renewed token any more; the session's timer starts the next refresh.
    m_retryTimer->stop();

    std::vector<JobPtr> jobs;
    jobs.reserve(m_activeJobs.size());
    for (const auto &entry : m_activeJobs)
        jobs.push_back(entry.second);
    for (const JobPtr &job : jobs) {
        job->cancelled = true;
        if (QNetworkReply *reply = job->reply)
            reply->abort();
        // Normally the abort has finished the job already; this covers a reply that did not
        // report its end, and is a no-op otherwise.
        finish(job, cancelledResult());
    }

    if (wasRefreshing) {
        clearTokens();
        emit sessionExpired();
    }
}

void ApiClient::refreshIfNeeded()
{
    if (!m_refreshing && !m_retryTimer->isActive())
        startRefresh();
}

void ApiClient::setTokenHandler(TokenHandler handler)
{
    m_tokenHandler = std::move(handler);
}

void ApiClient::setBaseUrl(const QUrl &url)
{
    m_baseUrl = url;
}

void ApiClient::setProduction(bool production)
{
    m_production = production;
}

bool ApiClient::isRetryPending() const
{
    return m_retryTimer->isActive();
}

void ApiClient::setRetryInterval(RetryInterval interval)
{
    m_retryInterval = std::move(interval);
}

QNetworkRequest ApiClient::baseRequest(const QUrl &url) const
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(transferTimeoutMs);
    ReplyReader::askUncompressed(request);
    // A redirect could carry the bearer token to another origin; 3xx arrives as the result.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    return request;
}

ReplyReader *ApiClient::readBounded(QNetworkReply *reply) const
{
    QTimer::singleShot(m_requestDeadlineMs, reply, &QNetworkReply::abort);
    return new ReplyReader(reply, maxReplyBytes);
}

void ApiClient::send(JobPtr job)
{
    if (job->cancelled || job->generation != m_generation) {
        finish(job, cancelledResult());
        return;
    }
    if (m_offline || !api::isAllowedApiUrl(m_baseUrl, m_production)) {
        finish(job, refusedResult());
        return;
    }
    const QUrl url = m_baseUrl.resolved(QUrl(job->path));
    if (url.host() != m_baseUrl.host() || url.scheme() != m_baseUrl.scheme() ||
        url.port(-1) != m_baseUrl.port(-1)) {
        finish(job, refusedResult());
        return;
    }

    QNetworkRequest request = baseRequest(url);
    if (job->authenticated)
        request.setRawHeader("Authorization", "Bearer " + m_accessToken.toUtf8());
    job->tokenVersion = m_tokenVersion;
    const QByteArray bytes = job->body.isEmpty()
                                 ? QByteArray()
                                 : QJsonDocument(job->body).toJson(QJsonDocument::Compact);
    QNetworkReply *reply = network().sendCustomRequest(request, job->method, bytes);
    ReplyReader *reader = readBounded(reply);
    job->reply = reply;
    connect(reply, &QNetworkReply::finished, this,
            [this, job, reply, reader] { handleReply(job, reply, reader->takeBody()); });
}

// Reply bodies may carry tokens; the raw bytes are wiped as soon as they are parsed.
void ApiClient::handleReply(JobPtr job, QNetworkReply *reply, QByteArray bytes)
{
    const int status = httpStatus(reply);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    const QJsonObject body = document.isArray()
                                 ? QJsonObject{{QStringLiteral("data"), document.array()}}
                                 : document.object();
    const bool invalidJson = !bytes.isEmpty() && bytes.trimmed() != "null" &&
                             parseError.error != QJsonParseError::NoError;
    secretwipe::wipe(bytes);
    reply->deleteLater();
    job->reply.clear();

    if (job->cancelled || job->generation != m_generation) {
        finish(job, cancelledResult());
        return;
    }
    if (status == 401 && job->authenticated) {
        if (!job->retried && !m_refreshToken.isEmpty()) {
            job->retried = true;
            if (job->tokenVersion != m_tokenVersion) {
                // The token was renewed while this request was in flight.
                send(job);
                return;
            }
            m_waitingJobs.push_back(job);
            if (!m_refreshing && !m_retryTimer->isActive())
                startRefresh();
            return;
        }
        clearTokens();
        // Listeners sign out, which usually finishes this job as cancelled right here.
        emit sessionExpired();
    }

    ApiResult result;
    result.status = invalidJson && isSuccessStatus(status) ? 502 : status;
    result.body = body;
    finish(job, result);
}

void ApiClient::finish(JobPtr job, const ApiResult &result)
{
    const auto found = m_activeJobs.find(job->id);
    if (found == m_activeJobs.end() || found->second != job)
        return;
    m_activeJobs.erase(found);
    emit activityChanged(activeCount());
    if (!result.successful() && !result.cancelled) {
        const QJsonValue code =
            result.body.value(QLatin1String("error")).toObject().value(QLatin1String("code"));
        emit requestFailed(job->method, job->path.section(u'?', 0, 0), result.status,
                           code.toString());
    }
    const Callback callback = std::move(job->callback);
    job->callback = nullptr;
    if (callback)
        callback(result);
}

void ApiClient::startRefresh()
{
    if (m_refreshing || m_offline || m_refreshToken.isEmpty() ||
        !api::isAllowedApiUrl(m_baseUrl, m_production))
        return;
    m_refreshing = true;
    const int generation = m_generation;

    const QNetworkRequest request = baseRequest(m_baseUrl.resolved(QUrl(backend::refresh)));
    const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("token"), m_refreshToken}})
                                 .toJson(QJsonDocument::Compact);
    QNetworkReply *reply = network().post(request, bytes);
    ReplyReader *reader = readBounded(reply);
    m_refreshReply = reply;
    connect(reply, &QNetworkReply::finished, this, [this, reply, reader, generation] {
        handleRefreshReply(reply, reader->takeBody(), generation);
    });
}

void ApiClient::handleRefreshReply(QNetworkReply *reply, QByteArray bytes, int generation)
{
    const int status = httpStatus(reply);
    const QJsonObject body = QJsonDocument::fromJson(bytes).object();
    secretwipe::wipe(bytes);
    reply->deleteLater();
    if (generation != m_generation)
        return;

    m_refreshReply.clear();
    m_refreshing = false;
    std::vector<JobPtr> taken;
    taken.swap(m_waitingJobs);

    if (isSuccessStatus(status) && m_tokenHandler && m_tokenHandler(body)) {
        m_retryTimer->stop();
        m_retryDelay = initialRetryDelayMs;
        for (const JobPtr &job : taken)
            send(job);
        return;
    }
    // The handler's listeners may have signed out meanwhile; the taken jobs are finished then.
    if (generation != m_generation)
        return;

    if (status != 401 && status != 403) {
        // Transient: keep the jobs parked and try again after the back-off.
        m_waitingJobs.insert(m_waitingJobs.begin(), taken.begin(), taken.end());
        m_retryTimer->start(m_retryInterval ? m_retryInterval(m_retryDelay) : m_retryDelay);
        m_retryDelay = std::min(m_retryDelay * 2, maximumRetryDelayMs);
        return;
    }

    clearTokens();
    emit sessionExpired();
    ApiResult result;
    result.status = status;
    result.body = body;
    for (const JobPtr &job : taken)
        finish(job, result);
}
