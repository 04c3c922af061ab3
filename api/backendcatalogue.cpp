#include "backendcatalogue.h"

#include <QUrl>

namespace backend {

namespace {

QString page(QLatin1StringView collection, int page)
{
    return QString(collection) + QStringLiteral("?page=%1&limit=%2").arg(page).arg(pageSize);
}

QString record(QLatin1StringView collection, const QString &id)
{
    return collection + QString::fromLatin1(QUrl::toPercentEncoding(id));
}

} // namespace

QString serversPage(int number)
{
    return page(QLatin1StringView("/servers"), number);
}

QString devicesPage(int number)
{
    return page(QLatin1StringView("/devices"), number);
}

QString vpnProfilesPage(int number)
{
    return page(QLatin1StringView("/vpn-profiles"), number);
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
