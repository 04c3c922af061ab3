#include "ui/accountrules.h"

#include "api/replyrules.h"
#include "ui/theme/themepalette.h"
#include "vpn/planhelpers.h"

#include <QRegularExpression>
#include <QStringList>

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace accountrules {

const std::array<PlanPeriod, 3> &planPeriods()
{
    static const std::array<PlanPeriod, 3> periods{{
        {u"1 Month"_s, 30, u"monthly"_s, u"1 month of Premium"_s},
        {u"3 Months"_s, 90, u"quarterly"_s, u"3 months of Premium"_s},
        {u"12 Months"_s, 365, u"yearly"_s, u"Best value \u00b7 12 months"_s},
    }};
    return periods;
}

PlanCard pendingPlanCard()
{
    return {u"Checking your plan\u2026"_s, PillTone::Plain, u"\u2014"_s, QString(),
            u"Checking\u2026"_s};
}

PlanCard planCard(const QJsonObject &access, const QDateTime &now)
{
    if (access.value(u"tier"_s).toString() == u"free"_s) {
        const bool available =
            access.value(u"plan"_s).toObject().value(u"enabled"_s) == QJsonValue(true);
        return {u"Free"_s, PillTone::Plain, u"Free plan"_s,
                available ? u"No expiry \u00b7 Free servers included"_s
                          : u"Free VPN is temporarily unavailable"_s,
                u"Free plan"_s};
    }
    const QJsonObject subscription = access.value(u"subscription"_s).toObject();
    const bool active = planhelpers::planIsActive(subscription, now);
    const QString timeLeft = planhelpers::planTimeLeftText(subscription, now);
    const QDateTime endsAt =
        QDateTime::fromString(subscription.value(u"endsAt"_s).toString(), Qt::ISODateWithMs);
    return {active ? u"\u25cf Plan active"_s : u"Plan inactive"_s,
            active ? PillTone::Active : PillTone::Inactive, timeLeft,
            endsAt.isValid()
                ? u"Until %1"_s.arg(endsAt.toLocalTime().toString(u"dd.MM.yyyy HH:mm"_s))
                : u"Subscribe on the website to start a plan."_s,
            active ? timeLeft : u"Plan inactive"_s};
}

QString pillStyle(PillTone tone, bool light, const QColor &accent)
{
    const ThemePalette palette(light, accent);
    switch (tone) {
    case PillTone::Active:
        return u"color:%1"_s.arg(palette.accentText.name());
    case PillTone::Inactive:
        return u"color:%1"_s.arg(palette.planInactive.name());
    case PillTone::Plain:
        break;
    }
    return {};
}

QString priceText(const QJsonValue &cents)
{
    if (!cents.isDouble()) {
        return {};
    }
    const double value = cents.toDouble();
    if (!std::isfinite(value) || value < 0) {
        return {};
    }
    return u"$%1"_s.arg(value / 100.0, 0, 'f', 2);
}

Offer offer(const PlanPeriod &period, const QJsonArray &items, bool loaded,
            const QJsonObject &access)
{
    if (!loaded) {
        return {u"\u2014"_s, u"Could not load plans"_s, u"Subscribe"_s, false};
    }
    // Two records without an id are not the same plan.
    const QString currentId = api::jsonText(access.value(u"plan"_s).toObject().value(u"_id"_s));
    for (const QJsonValue &value : items) {
        const QJsonObject item = value.toObject();
        const QJsonValue days = item.value(u"days"_s);
        const QString price = priceText(item.value(u"price"_s));
        if (item.value(u"enabled"_s) != QJsonValue(true) ||
            item.value(u"tier"_s).toString() != u"paid"_s || !days.isDouble() ||
            days.toDouble() != period.days || item.value(u"currency"_s).toString() != u"USD"_s ||
            price.isEmpty()) {
            continue;
        }
        const QString id = api::jsonText(item.value(u"_id"_s));
        const bool current = !id.isEmpty() && id == currentId;
        return {price, current ? u"Current plan"_s : period.note,
                current ? u"Manage plan"_s : u"Subscribe"_s, true};
    }
    return {u"\u2014"_s, u"Currently unavailable"_s, u"Subscribe"_s, false};
}

QUrl subscriptionUrl(const QUrl &signInPage, const QString &ticket, const QString &period)
{
    static const QRegularExpression ticketPattern(
        QRegularExpression::anchoredPattern(u"[A-Za-z0-9_-]{43}"_s));
    if (!ticketPattern.match(ticket).hasMatch()) {
        return {};
    }
    QUrl url = signInPage;
    url.setFragment(
        u"token=%1&period=%2"_s.arg(QString::fromLatin1(QUrl::toPercentEncoding(ticket)),
                                    QString::fromLatin1(QUrl::toPercentEncoding(period))),
        QUrl::StrictMode);
    return url;
}

DeviceLine deviceLine(const api::DeviceRecord &device, const QString &sessionDeviceId)
{
    DeviceLine line;
    line.id = device.id;
    line.thisDevice = (!line.id.isEmpty() && line.id == sessionDeviceId) || device.current;
    line.name = device.name.isEmpty() ? u"Device"_s : device.name;
    if (line.thisDevice) {
        line.name += u" \u00b7 This device"_s;
    }
    QStringList details;
    if (!device.platform.isEmpty()) {
        details.append(device.platform);
    }
    if (device.lastSeenAt.isValid()) {
        details.append(
            u"Last seen %1"_s.arg(device.lastSeenAt.toLocalTime().toString(u"dd MMM, HH:mm"_s)));
    }
    line.detail = details.join(u" \u00b7 "_s);
    return line;
}

} // namespace accountrules
