#include "devbackendfault.h"

#include <QJsonDocument>

DevBackendFault DevBackendFault::delay(int ms, int count)
{
    return {.kind = Kind::Delay, .delayMs = ms, .count = count};
}

DevBackendFault DevBackendFault::drop(int count, bool afterHandling)
{
    return {.kind = Kind::Drop, .count = count, .afterHandling = afterHandling};
}

DevBackendFault DevBackendFault::withStatus(int status, const QByteArray &body, int count,
                                            bool afterHandling)
{
    return {.kind = Kind::Status,
            .status = status,
            .body = body,
            .count = count,
            .afterHandling = afterHandling};
}

DevBackendFault DevBackendFault::nonJson(int count, bool afterHandling)
{
    return {.kind = Kind::NonJson, .count = count, .afterHandling = afterHandling};
}

DevBackendFault DevBackendFault::arrayBody(int count)
{
    // The array is built from the real reply, so the request always takes effect first.
    return {.kind = Kind::ArrayBody, .count = count, .afterHandling = true};
}

DevBackendFault DevBackendFault::afterRequests(int requests) const
{
    DevBackendFault fault = *this;
    fault.skip = requests;
    return fault;
}

std::optional<DevBackendFault> DevBackendFault::fromJson(const QJsonObject &object, QString *error)
{
    const auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return std::optional<DevBackendFault>();
    };
    const QString kind = object.value(u"kind").toString();
    DevBackendFault fault;
    if (kind == u"delay")
        fault.kind = Kind::Delay;
    else if (kind == u"drop")
        fault.kind = Kind::Drop;
    else if (kind == u"status")
        fault.kind = Kind::Status;
    else if (kind == u"nonJson")
        fault.kind = Kind::NonJson;
    else if (kind == u"arrayBody")
        fault.kind = Kind::ArrayBody;
    else
        return fail(QStringLiteral("\"kind\" must be delay, drop, status, nonJson or arrayBody."));

    const QJsonValue delayMs = object.value(u"delayMs");
    if (fault.kind == Kind::Delay &&
        (!delayMs.isDouble() || delayMs.toInt(-1) < 0 || delayMs.toInt() > 600000))
        return fail(QStringLiteral("\"delayMs\" must be a whole number from 0 to 600000."));
    fault.delayMs = delayMs.toInt();

    const QJsonValue status = object.value(u"status");
    if (fault.kind == Kind::Status && (status.toInt(-1) < 100 || status.toInt() > 599))
        return fail(QStringLiteral("\"status\" must be an HTTP status from 100 to 599."));
    fault.status = status.toInt(500);

    const QJsonValue body = object.value(u"body");
    if (body.isString())
        fault.body = body.toString().toUtf8();
    else if (body.isObject())
        fault.body = QJsonDocument(body.toObject()).toJson(QJsonDocument::Compact);
    else if (!body.isUndefined() && !body.isNull())
        return fail(QStringLiteral("\"body\" must be a string or an object."));

    const QJsonValue count = object.value(u"count");
    if (!count.isUndefined() && (!count.isDouble() || count.toInt(0) == 0 || count.toInt() < -1))
        return fail(QStringLiteral("\"count\" must be a positive whole number or -1."));
    fault.count = count.isUndefined() ? 1 : count.toInt();
    const QJsonValue skip = object.value(u"skip");
    if (!skip.isUndefined() && (!skip.isDouble() || skip.toInt(-1) < 0))
        return fail(QStringLiteral("\"skip\" must be a whole number of at least 0."));
    fault.skip = skip.toInt();
    fault.afterHandling = fault.kind == Kind::ArrayBody || object.value(u"afterHandling").toBool();
    return fault;
}
