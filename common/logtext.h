#pragma once

#include <QString>
#include <QStringView>

#include <cstddef>

// Text a diagnostic log line may carry. Nothing turns a string into log text but the gates
// below, and each of them leaves out what could be a secret (a token, a password, a profile link,
// the engine configuration, a user id), so a secret has no way into a log.
class LogText
{
public:
    // Text written in the program itself: an event name, a state, a method.
    template<std::size_t N>
    LogText(const char (&literal)[N])
        : m_text(QString::fromLatin1(literal, qsizetype(N) - 1))
    {}

    static LogText number(qint64 value);
    // A server id, a country code, a request path without its query, a version, a setting: kept
    // when it is a short word of letters, digits and ". _ : / # -" with no long run that could be
    // a token; "-" stands for an empty one, anything else is logged as "[hidden]".
    static LogText identifier(QStringView text);
    // Text from outside (engine output, failure messages) with every link, UUID, e-mail
    // address, credential and token-like run replaced, control characters as spaces, cut to
    // maximumLength characters.
    static LogText redacted(QStringView text);

    static constexpr qsizetype maximumLength = 300;

    const QString &text() const { return m_text; }

private:
    struct Checked
    {
    };
    LogText(Checked, QString text)
        : m_text(std::move(text))
    {}

    QString m_text;
};
