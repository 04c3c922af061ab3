#include "jsonobjectreader.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

void DecodeErrors::decodeError(const QString &path, const QString &problem)
{
    if (failed())
        return;
    const QString where = path.isEmpty() ? QString() : path + u": "_s;
    m_message = u"decode config at "_s + m_source + u": "_s + where + problem;
}

void DecodeErrors::valueError(const QString &path, const QString &problem)
{
    if (failed())
        return;
    m_message = u"create service: "_s + path + u": "_s + problem;
}

QString jsonKindName(const QJsonValue &value)
{
    switch (value.type()) {
    case QJsonValue::Bool:
        return u"bool"_s;
    case QJsonValue::Double:
        return u"number"_s;
    case QJsonValue::String:
        return u"string"_s;
    case QJsonValue::Array:
        return u"array"_s;
    case QJsonValue::Object:
        return u"object"_s;
    case QJsonValue::Null:
    case QJsonValue::Undefined:
        break;
    }
    return u"null"_s;
}

JsonObjectReader::JsonObjectReader(DecodeErrors &errors, const QJsonValue &value,
                                   const QString &path, const QStringList &known,
                                   const QStringList &optional)
    : m_errors(errors)
    , m_path(path)
{
    if (errors.failed())
        return;
    if (!value.isObject()) {
        errors.decodeError(path, u"json: cannot unmarshal "_s + jsonKindName(value) +
                                     u" into Go value of type object"_s);
        return;
    }
    m_object = value.toObject();
    for (auto it = m_object.constBegin(); it != m_object.constEnd(); ++it) {
        if (!known.contains(it.key()) && !optional.contains(it.key())) {
            errors.decodeError(this->path(it.key()), u"json: unknown field \""_s + it.key() + u'"');
            return;
        }
    }
    for (const QString &name : known) {
        if (!m_object.contains(name) || m_object.value(name).isNull()) {
            errors.decodeError(path, u"missing required field \""_s + name + u'"');
            return;
        }
    }
}

QString JsonObjectReader::path(const QString &name) const
{
    return m_path.isEmpty() ? name : m_path + u'.' + name;
}

bool JsonObjectReader::expect(const QString &name, QJsonValue::Type type, const QString &goType)
{
    if (m_errors.failed() || !m_object.contains(name))
        return false;
    const QJsonValue member = m_object.value(name);
    if (member.type() == type)
        return true;
    m_errors.decodeError(path(name), u"json: cannot unmarshal "_s + jsonKindName(member) +
                                         u" into Go value of type "_s + goType);
    return false;
}

QString JsonObjectReader::string(const QString &name)
{
    return expect(name, QJsonValue::String, u"string"_s) ? m_object.value(name).toString()
                                                         : QString();
}

bool JsonObjectReader::boolean(const QString &name)
{
    return expect(name, QJsonValue::Bool, u"bool"_s) && m_object.value(name).toBool();
}

qint64 JsonObjectReader::unsignedInteger(const QString &name, qint64 max, const QString &goType)
{
    if (!expect(name, QJsonValue::Double, goType))
        return 0;
    const double number = m_object.value(name).toDouble();
    if (number < 0 || number > double(max) || std::floor(number) != number) {
        m_errors.decodeError(path(name), u"json: cannot unmarshal number "_s +
                                             QString::number(number, 'g', 17) +
                                             u" into Go value of type "_s + goType);
        return 0;
    }
    return qint64(number);
}

QJsonArray JsonObjectReader::array(const QString &name)
{
    return expect(name, QJsonValue::Array, u"array"_s) ? m_object.value(name).toArray()
                                                       : QJsonArray();
}

QStringList JsonObjectReader::stringList(const QString &name)
{
    if (m_errors.failed() || !m_object.contains(name))
        return {};
    const QJsonValue member = m_object.value(name);
    if (member.isString())
        return {member.toString()};
    QStringList items;
    const QJsonArray list = array(name);
    for (qsizetype i = 0; i < list.size() && !m_errors.failed(); ++i) {
        if (list.at(i).isString()) {
            items.append(list.at(i).toString());
        } else {
            m_errors.decodeError(path(name) + u'[' + QString::number(i) + u']',
                                 u"json: cannot unmarshal "_s + jsonKindName(list.at(i)) +
                                     u" into Go value of type string"_s);
        }
    }
    return items;
}
