#include "ui/accountrules.h"

#include "ui/theme/themepalette.h"
#include "vpn/planhelpers.h"

#include <QRegularExpression>
#include <QStringList>

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

PlanCard planCard(const api::AccessRecord &access, const QDateTime &now)
{
    if (access.tier == u"free"_s) {
        return {u"Free"_s, PillTone::Plain, u"Free plan"_s,
                access.plan.enabled ? u"No expiry \u00b7 Free servers included"_s
                                    : u"Free VPN is temporarily unavailable"_s,
                u"Free plan"_s};
    }
    const bool active = planhelpers::planIsActive(access.subscription, now);
    const QString timeLeft = planhelpers::planTimeLeftText(access.subscription, now);
    const QDateTime &endsAt = access.subscription.endsAt;
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

QString priceText(double cents)
{
    return u"$%1"_s.arg(cents / 100.0, 0, 'f', 2);
}

Offer offer(const PlanPeriod &period, const QList<api::PlanRecord> &offers, bool loaded,
            const api::AccessRecord &access)
{
    if (!loaded) {
        return {u"\u2014"_s, u"Could not load plans"_s, u"Subscribe"_s, false};
    }
    for (const api::PlanRecord &plan : offers) {
        if (!plan.enabled || plan.tier != u"paid"_s || plan.days != period.days ||
            plan.currency != u"USD"_s || !plan.price) {
            continue;
        }
        // Two records without an id are not the same plan.
        const bool current = !plan.id.isEmpty() && plan.id == access.plan.id;
        return {priceText(*plan.price), current ? u"Current plan"_s : period.note,
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
