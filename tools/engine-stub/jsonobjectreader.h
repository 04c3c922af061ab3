#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

// The first failure of one decode, as the engine words it: "decode config at <source>: ..." for
// shape errors (unknown member, wrong type, missing member) and "create service: ..." for values
// the engine cannot start with. Later failures are ignored so the first one is reported.
class DecodeErrors
{
public:
    explicit DecodeErrors(const QString &source)
        : m_source(source)
    {}

    bool failed() const { return !m_message.isEmpty(); }
    QString message() const { return m_message; }

    void decodeError(const QString &path, const QString &problem);
    void valueError(const QString &path, const QString &problem);

private:
    QString m_source;
    QString m_message;
};

// Reads one JSON object strictly: every member must be known, the non-optional ones present,
// and each of the expected JSON type. Accessors return a neutral value once decoding failed.
class JsonObjectReader
{
public:
    JsonObjectReader(DecodeErrors &errors, const QJsonValue &value, const QString &path,
                     const QStringList &known, const QStringList &optional = {});

    bool has(const QString &name) const { return m_object.contains(name); }
    QString path(const QString &name) const;
    QString path() const { return m_path; }
    DecodeErrors &errors() const { return m_errors; }

    QString string(const QString &name);
    bool boolean(const QString &name);
    // An unsigned integer up to `max`; `goType` names it in messages ("uint16", "uint32").
    qint64 unsignedInteger(const QString &name, qint64 max, const QString &goType);
    QJsonArray array(const QString &name);
    // A member holding one string or an array of strings.
    QStringList stringList(const QString &name);
    QJsonValue value(const QString &name) const { return m_object.value(name); }

private:
    bool expect(const QString &name, QJsonValue::Type type, const QString &goType);

    DecodeErrors &m_errors;
    QJsonObject m_object;
    QString m_path;
};

// The JSON type of a value as Go names it in decoding errors.
QString jsonKindName(const QJsonValue &value);
