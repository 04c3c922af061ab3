#include "common/tunnelstatus.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

const std::array<std::pair<TunnelStatus::State, QString>, 4> stateNames{{
    {TunnelStatus::State::Running, u"running"_s},
    {TunnelStatus::State::Reconnecting, u"reconnecting"_s},
    {TunnelStatus::State::GaveUp, u"gave-up"_s},
    {TunnelStatus::State::Blocked, u"blocked"_s},
}};

QString plainText(QString text)
{
    for (QChar &character : text) {
        if (character.category() == QChar::Other_Control || character == QChar::LineSeparator ||
            character == QChar::ParagraphSeparator) {
            character = u' ';
        }
    }
    return text;
}

} // namespace

QByteArray TunnelStatus::serialize() const
{
    const auto named = std::find_if(stateNames.begin(), stateNames.end(),
                                    [this](const auto &entry) { return entry.first == state; });
    const QJsonObject object{
        {u"state"_s, named->second},
        {u"attempt"_s, attempt},
        {u"nextAttemptAt"_s,
         nextAttemptAt.isValid() ? nextAttemptAt.toUTC().toString(Qt::ISODateWithMs) : QString()},
        {u"lastError"_s, plainText(lastError.left(maximumErrorLength))},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<TunnelStatus> TunnelStatus::parse(const QByteArray &bytes)
{
    if (bytes.size() > maximumSize) {
        return std::nullopt;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue state = object.value(u"state"_s);
    const QJsonValue attempt = object.value(u"attempt"_s);
    const QJsonValue next = object.value(u"nextAttemptAt"_s);
    const QJsonValue lastError = object.value(u"lastError"_s);
    if (object.size() != 4 || !state.isString() || !attempt.isDouble() || !next.isString() ||
        !lastError.isString()) {
        return std::nullopt;
    }
    TunnelStatus status;
    const auto known = std::find_if(stateNames.begin(), stateNames.end(), [&](const auto &entry) {
        return entry.second == state.toString();
    });
    const double number = attempt.toDouble();
    if (known == stateNames.end() || number < 0 || number > maximumAttempt ||
        number != double(int(number)) || lastError.toString().size() > maximumErrorLength) {
        return std::nullopt;
    }
    status.state = known->first;
    status.attempt = int(number);
    if (!next.toString().isEmpty()) {
        status.nextAttemptAt = QDateTime::fromString(next.toString(), Qt::ISODateWithMs);
        if (!status.nextAttemptAt.isValid()) {
            return std::nullopt;
        }
        status.nextAttemptAt = status.nextAttemptAt.toUTC();
    }
    status.lastError = plainText(lastError.toString());
    return status;
}
