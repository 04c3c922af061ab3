#pragma once

#include "api/backendrecords.h"

#include <QDateTime>
#include <QString>

// What the account page shows about the account's subscription.
namespace planhelpers {

// Only "active" and "trialing" subscriptions whose end lies after `now` count; one without a
// readable end date never does.
bool planIsActive(const api::SubscriptionRecord &subscription, const QDateTime &now);

// "No active plan", "Less than a minute left", "%1 min left", "%1h %2m left" or "%1d %2h left".
// Partial minutes round up, so 59 min 30 s reads "1h 0m left", never "60 min left".
QString planTimeLeftText(const api::SubscriptionRecord &subscription, const QDateTime &now);

} // namespace planhelpers
