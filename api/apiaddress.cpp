#include "apiaddress.h"

#include "settings/settingskeys.h"

namespace api {

QString productionBaseUrl()
{
    return QStringLiteral("https://api.solvikvpn.com");
}

bool isAllowedApiUrl(const QUrl &url, bool production)
{
    if (!url.isValid() || url.host(QUrl::FullyDecoded).isEmpty() || !url.userInfo().isEmpty() ||
        url.hasQuery() || url.hasFragment()) {
        return false;
    }
    const QString path = url.path(QUrl::FullyEncoded);
    if (!path.isEmpty() && path != QLatin1String("/"))
        return false;
    if (url.scheme() == QLatin1String("https"))
        return true;
    if (production || url.scheme() != QLatin1String("http"))
        return false;
    const QString host = url.host(QUrl::FullyDecoded);
    return host == QLatin1String("127.0.0.1") || host == QLatin1String("localhost") ||
           host == QLatin1String("::1") || host == QUrl(productionBaseUrl()).host();
}

ApiConfiguration loadApiConfiguration()
{
    QString url = settings::apiUrl();
    if (url.isEmpty() || url == QLatin1String("http://127.0.0.1:3000")) {
        url = productionBaseUrl();
        settings::setApiUrl(url);
        settings::setProduction(false);
    }
    return {url, settings::production()};
}

} // namespace api
