#include "replyrules.h"

#include <QVariant>

#include <algorithm>
#include <cmath>

namespace api {

QJsonObject unwrapData(const QJsonObject &object)
{
    const QJsonValue data = object.value(QLatin1String("data"));
    QJsonObject result = data.isObject() ? data.toObject() : object;
    if (jsonText(result.value(QLatin1String("id"))).isEmpty() &&
        !jsonText(result.value(QLatin1String("_id"))).isEmpty()) {
        result.insert(QLatin1String("id"), result.value(QLatin1String("_id")));
    }
    return result;
}

QJsonArray pageItems(const QJsonObject &object, qsizetype limit)
{
    const QJsonValue data = object.value(QLatin1String("data"));
    const QJsonArray items = data.isArray()
                                 ? data.toArray()
                                 : unwrapData(object).value(QLatin1String("items")).toArray();
    QJsonArray result;
    for (qsizetype index = 0; index < std::min(items.size(), limit); ++index) {
        const QJsonValue item = items.at(index);
        result.append(item.isObject() ? QJsonValue(unwrapData(item.toObject())) : item);
    }
    return result;
}

QString jsonText(const QJsonValue &value)
{
    if (value.isString())
        return value.toString();
    if (!value.isDouble())
        return {};
    // Whole numbers parsed from JSON are held as 64-bit integers; reading them as double would
    // round identifiers above 2^53.
    const QVariant exact = value.toVariant();
    if (exact.typeId() == QMetaType::LongLong)
        return QString::number(exact.toLongLong());
    const double number = value.toDouble();
    // 2^63 itself is not representable, so the upper bound is exclusive.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(number) || std::trunc(number) != number || number >= limit ||
        number < -limit) {
        return QStringLiteral("0");
    }
    return QString::number(static_cast<qint64>(number));
}

QString boundedText(const QString &text)
{
    if (text.size() <= maximumTextLength)
        return text;
    qsizetype kept = maximumTextLength - 1;
    if (text.at(kept - 1).isHighSurrogate())
        --kept;
    return text.left(kept) + QChar(0x2026);
}

} // namespace api
