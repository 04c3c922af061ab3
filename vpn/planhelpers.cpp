#include "planhelpers.h"

namespace planhelpers {

namespace {

QDateTime endsAt(const QJsonObject &plan)
{
    // Qt's ISO reader takes the optional milliseconds and the zone suffix alike.
    return QDateTime::fromString(plan.value(QLatin1String("endsAt")).toString(), Qt::ISODateWithMs);
}

} // namespace

bool planIsActive(const QJsonObject &plan, const QDateTime &now)
{
    const QString status = plan.value(QLatin1String("status")).toString();
    if (status != QLatin1String("active") && status != QLatin1String("trialing"))
        return false;
    const QDateTime end = endsAt(plan);
    return end.isValid() && end > now;
}

QString planTimeLeftText(const QJsonObject &plan, const QDateTime &now)
{
    if (!planIsActive(plan, now))
        return QStringLiteral("No active plan");
    const qint64 seconds = now.secsTo(endsAt(plan));
    if (seconds < 60)
        return QStringLiteral("Less than a minute left");
    const qint64 minutes = (seconds + 59) / 60;
    const qint64 hours = (seconds + 59) / 3600;
    const qint64 days = (seconds + 59) / 86400;
    if (minutes < 60)
        return QStringLiteral("%1 min left").arg(minutes);
    if (hours < 24)
        return QStringLiteral("%1h %2m left").arg(hours).arg(minutes - 60 * hours);
    return QStringLiteral("%1d %2h left").arg(days).arg(hours - 24 * days);
}

} // namespace planhelpers
