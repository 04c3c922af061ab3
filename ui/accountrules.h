#pragma once

#include "api/backendrecords.h"

#include <QColor>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUrl>

#include <array>

// What the account page shows, worked out from the backend's records: the plan card, the offers
// of the three plan periods, the address that opens the website's plans and the device lines.
namespace accountrules {

// A purchasable period, in card order.
struct PlanPeriod
{
    QString title;
    int days = 0;
    QString key;  // what the website is told
    QString note; // shown while the period is on offer
};

// "1 Month", "3 Months" and "12 Months".
const std::array<PlanPeriod, 3> &planPeriods();

enum class PillTone
{
    Plain, // the stylesheet's own colour
    Active,
    Inactive
};

struct PlanCard
{
    QString pill;
    PillTone tone = PillTone::Plain;
    QString time;
    QString detail;
    // The connection page's plan panel.
    QString summary;
};

// What the account page and the connection page's plan panel show until the first access reply
// has arrived.
PlanCard pendingPlanCard();

// The card for the account's access information at `now`.
PlanCard planCard(const api::AccessRecord &access, const QDateTime &now);

// The pill's style sheet for `tone`, read against the theme and accent of the moment.
QString pillStyle(PillTone tone, bool light, const QColor &accent);

struct Offer
{
    QString price;
    QString note;
    QString button;
    bool available = false;
};

// What the card of `period` shows after the offers reply: `offers` are the reply's plans,
// `loaded` is false for a failed reply. Only an enabled paid offer of the period's length in US
// dollars with a usable price counts; it is the current plan when its id is the access
// information's plan.
Offer offer(const PlanPeriod &period, const QList<api::PlanRecord> &offers, bool loaded,
            const api::AccessRecord &access);

// "$%1" with two decimals for a price in cents.
QString priceText(double cents);

// The website's sign-in page carrying `ticket` and `period` in the fragment, where the address
// never reaches a server log; an empty URL when `ticket` is not 43 characters of the URL-safe
// Base64 alphabet.
QUrl subscriptionUrl(const QUrl &signInPage, const QString &ticket, const QString &period);

struct DeviceLine
{
    QString id;
    QString name;
    QString detail;
    bool thisDevice = false;
};

// One row of the device list; `sessionDeviceId` is this installation's device.
DeviceLine deviceLine(const api::DeviceRecord &device, const QString &sessionDeviceId);

} // namespace accountrules
