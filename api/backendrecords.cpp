#include "api/backendrecords.h"

#include "api/replyrules.h"

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
