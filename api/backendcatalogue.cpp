#include "backendcatalogue.h"

#include <QUrl>

namespace backend {

namespace {

QString page(QLatin1StringView pattern, int page)
{
    return QString(pattern).arg(page);
}

QString record(QLatin1StringView collection, const QString &id)
{
    return collection + QString::fromLatin1(QUrl::toPercentEncoding(id));
}

} // namespace

QString serversPage(int number)
{
    return page(QLatin1StringView("/servers?page=%1&limit=20"), number);
}

QString devicesPage(int number)
{
    return page(QLatin1StringView("/devices?page=%1&limit=20"), number);
}

QString vpnProfilesPage(int number)
{
    return page(QLatin1StringView("/vpn-profiles?page=%1&limit=20"), number);
}

QString device(const QString &id)
{
    return record(QLatin1StringView("/devices/"), id);
}

QString vpnProfile(const QString &id)
{
    return record(QLatin1StringView("/vpn-profiles/"), id);
}

} // namespace backend
