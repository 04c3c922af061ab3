#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// Conventions every caller of the backend shares when reading replies.
namespace api {

// The object inside "data" when there is one, else the object itself; "_id" fills a missing "id".
QJsonObject unwrapData(const QJsonObject &object);

// The records of a page: "data" when it is an array, else "items" of the unwrapped object; object
// records pass through unwrapData().
QJsonArray pageItems(const QJsonObject &object);

// Identifiers may arrive as strings or whole numbers; both compare as this text. Anything else
// (fractions, bools, null, containers, missing) is empty, except fractions and numbers beyond 64
// bits, which read as "0".
QString jsonText(const QJsonValue &value);

} // namespace api
