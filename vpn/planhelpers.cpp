#include "planhelpers.h"

namespace planhelpers {

bool planIsActive(const api::SubscriptionRecord &subscription, const QDateTime &now)
{
    if (subscription.status != QLatin1String("active") &&
        subscription.status != QLatin1String("trialing"))
        return false;
    return subscription.endsAt.isValid() && subscription.endsAt > now;
}

QString planTimeLeftText(const api::SubscriptionRecord &subscription, const QDateTime &now)
{
    if (!planIsActive(subscription, now))
        return QStringLiteral("No active plan");
    const qint64 seconds = now.secsTo(subscription.endsAt);
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
