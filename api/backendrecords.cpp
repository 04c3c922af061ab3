#include "api/backendrecords.h"

#include "api/replyrules.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace api {

ServerRecord serverRecord(const QJsonObject &object)
{
    const auto text = [&](const QString &key) { return boundedText(object.value(key).toString()); };
    const QJsonValue enabled = object.value(u"enabled"_s);
    const QJsonValue protocol = object.value(u"protocol"_s);
    ServerRecord record;
    record.id = jsonText(object.value(u"id"_s));
    record.name = text(u"name"_s);
    record.endpoint = object.value(u"endpoint"_s).toString();
    record.tier = object.value(u"tier"_s).toString();
    record.countryCode = text(u"countryCode"_s);
    record.country = text(u"country"_s);
    record.city = text(u"city"_s);
    record.usable = !record.id.isEmpty() && !(enabled.isBool() && !enabled.toBool()) &&
                    (protocol.isUndefined() || protocol == QJsonValue(u"vless-reality"_s));
    return record;
}

namespace {

PlanRecord planRecord(const QJsonObject &object)
{
    const QJsonValue days = object.value(u"days"_s);
    const QJsonValue price = object.value(u"price"_s);
    PlanRecord record;
    record.id = jsonText(object.value(u"_id"_s));
    record.enabled = object.value(u"enabled"_s) == QJsonValue(true);
    record.tier = object.value(u"tier"_s).toString();
    if (days.isDouble()) {
        record.days = days.toDouble();
    }
    if (price.isDouble() && std::isfinite(price.toDouble()) && price.toDouble() >= 0) {
        record.price = price.toDouble();
    }
    record.currency = object.value(u"currency"_s).toString();
    return record;
}

} // namespace

AccessRecord accessRecord(const QJsonObject &reply)
{
    const QJsonObject object = unwrapData(reply);
    const QJsonValue tier = object.value(u"tier"_s);
    const QJsonValue plan = object.value(u"plan"_s);
    const QJsonObject subscription = object.value(u"subscription"_s).toObject();
    AccessRecord record;
    record.tier = tier.toString();
    record.plan = planRecord(plan.toObject());
    record.subscription = {
        subscription.value(u"status"_s).toString(),
        // Qt's ISO reader takes the optional milliseconds and the zone suffix alike.
        QDateTime::fromString(subscription.value(u"endsAt"_s).toString(), Qt::ISODateWithMs)};
    // Absent members stay absent, so an absent value differs from a null one as on the wire.
    record.tierAndPlan.insert(u"tier"_s, tier);
    record.tierAndPlan.insert(u"plan"_s, plan);
    return record;
}

QList<PlanRecord> planRecords(const QJsonArray &items)
{
    QList<PlanRecord> records;
    records.reserve(items.size());
    for (const QJsonValue &item : items) {
        records.append(planRecord(item.toObject()));
    }
    return records;
}

QString profileEmail(const QJsonObject &profile)
{
    return profile.value(u"email"_s).toString();
}

QString webTicket(const QJsonObject &reply)
{
    return unwrapData(reply).value(u"token"_s).toString();
}

DeviceRecord deviceRecord(const QJsonObject &wire)
{
    const QJsonObject object = unwrapData(wire);
    return {jsonText(object.value(u"id"_s)), boundedText(object.value(u"name"_s).toString()),
            boundedText(object.value(u"platform"_s).toString()),
            QDateTime::fromString(object.value(u"lastSeenAt"_s).toString(), Qt::ISODateWithMs),
            object.value(u"current"_s).toBool()};
}

void appendUsableServers(QList<ServerRecord> &target, const QJsonArray &items, qsizetype limit)
{
    for (qsizetype index = 0; index < items.size() && target.size() < limit; ++index) {
        ServerRecord record = serverRecord(items.at(index).toObject());
        if (record.usable) {
            target.append(std::move(record));
        }
    }
}

} // namespace api
