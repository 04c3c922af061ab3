#pragma once

#include "api/backendcatalogue.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

// Conventions every caller of the backend shares when reading replies.
namespace api {

// The object inside "data" when there is one, else the object itself; "_id" fills a missing "id".
QJsonObject unwrapData(const QJsonObject &object);

// The records of a page: "data" when it is an array, else "items" of the unwrapped object; object
// records pass through unwrapData(). At most `limit`, the page size asked for, whatever the reply
// holds.
QJsonArray pageItems(const QJsonObject &object, qsizetype limit = backend::pageSize);

// Identifiers may arrive as strings or whole numbers; both compare as this text. Anything else
// (fractions, bools, null, containers, missing) is empty, except fractions and numbers beyond 64
// bits, which read as "0".
QString jsonText(const QJsonValue &value);

// The longest backend text the window shows (names, countries, cities, hints); a megabyte name
// would otherwise be measured and elided on every repaint.
inline constexpr qsizetype maximumTextLength = 160;

// `text` cut to at most maximumTextLength characters, the cut marked by "…" and never splitting a
// surrogate pair; shorter texts unchanged. Applied where such texts enter the client.
QString boundedText(const QString &text);

} // namespace api
