#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// What the account page shows about a plan ({"status", "endsAt"}).
namespace planhelpers {

// Only "active" and "trialing" plans whose "endsAt" lies after `now` count; a plan without a
// readable end date never does.
bool planIsActive(const QJsonObject &plan, const QDateTime &now);

// "No active plan", "Less than a minute left", "%1 min left", "%1h %2m left" or "%1d %2h left".
// Partial minutes round up, so 59 min 30 s reads "1h 0m left", never "60 min left".
QString planTimeLeftText(const QJsonObject &plan, const QDateTime &now);

} // namespace planhelpers
