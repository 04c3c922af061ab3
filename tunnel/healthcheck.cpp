#include "tunnel/healthcheck.h"

#include "common/engineconfiguration.h"
#include "common/tunnelcontract.h"
#include "platform/testswitch.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QThread>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace healthcheck {

namespace {

bool isLoopbackUrl(const QUrl &url)
{
    const bool webScheme = url.scheme() == u"http"_s || url.scheme() == u"https"_s;
    return url.isValid() && webScheme && QHostAddress(url.host()).isLoopback();
}

bool fetchAnswers204(QNetworkAccessManager &manager, const QUrl &url)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(requestTimeoutMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply *reply = manager.get(request);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // A service being stopped asks its checking thread to end: the request is given up then.
    QTimer interruption;
    QObject::connect(&interruption, &QTimer::timeout, reply, [reply] {
        if (QThread::currentThread()->isInterruptionRequested()) {
            reply->abort();
        }
    });
    interruption.start(interruptionPollMs);
    if (!reply->isFinished()) {
        loop.exec();
    }
    const bool passed = reply->error() == QNetworkReply::NoError &&
                        reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 204;
    delete reply;
    return passed;
}

} // namespace

QList<QUrl> checkUrls()
{
    const std::optional<std::string> override =
        platform::testSwitch(platform::TestSwitch::ConnectivityCheckUrls);
    if (!override) {
        return tunnelcontract::connectivityCheckUrls();
    }
    QList<QUrl> urls;
    const QStringList texts = QString::fromStdString(*override).split(u' ', Qt::SkipEmptyParts);
    for (const QString &text : texts) {
        const QUrl url(text, QUrl::StrictMode);
        if (!isLoopbackUrl(url)) {
            return {};
        }
        urls.append(url);
    }
    return urls;
}

bool checkTunnelHealth(const tunnelcontract::TunnelProfileFile &profile)
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy(QNetworkProxy::Socks5Proxy, u"127.0.0.1"_s, profile.proxyPort,
                                   QLatin1String(engineProbeProxyUser), profile.proxyPassword));
    const QList<QUrl> urls = checkUrls();
    for (const QUrl &url : urls) {
        if (QThread::currentThread()->isInterruptionRequested()) {
            return false;
        }
        if (fetchAnswers204(manager, url)) {
            return true;
        }
    }
    return false;
}

} // namespace healthcheck
