#include "common/diagnosticlog.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

// A value with a space or a quote is quoted, so that a line reads back field by field.
QString fieldValue(const QString &value)
{
    if (!value.isEmpty() && !value.contains(u' ') && !value.contains(u'"') && !value.contains(u'='))
        return value;
    QString quoted = value;
    quoted.replace(u'"', u'\'');
    return u'"' + quoted + u'"';
}

// The time as "2026-12-08T14:03:05.123Z", without QDateTime: the tunnel service writes its log from
// the service manager's thread, where the toolkit's date and time leave per-thread state that
// keeps the service's process from ending under Windows.
QString utcNow()
{
    using namespace std::chrono;
    const auto now = floor<milliseconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", int(date.year()),
                  unsigned(date.month()), unsigned(date.day()), int(time.hours().count()),
                  int(time.minutes().count()), int(time.seconds().count()),
                  int(time.subseconds().count()));
    return QString::fromLatin1(text);
}

QLatin1StringView levelName(DiagnosticLog::Level level)
{
    switch (level) {
    case DiagnosticLog::Level::Info:
        return "info "_L1;
    case DiagnosticLog::Level::Warning:
        return "warn "_L1;
    case DiagnosticLog::Level::Error:
        return "error"_L1;
    }
    return "info "_L1;
}

bool isLink(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() || info.isJunction();
}

// The last lines of one file, from at most `maximumBytes` at its end.
QStringList lastLines(const QString &path, int count, qint64 maximumBytes)
{
    QFile file(path);
    if (isLink(path) || !file.open(QIODevice::ReadOnly))
        return {};
    const qint64 size = file.size();
    const qint64 start = std::max<qint64>(0, size - maximumBytes);
    if (!file.seek(start))
        return {};
    QStringList lines = QString::fromUtf8(file.read(size - start)).split(u'\n');
    if (start > 0 && !lines.isEmpty())
        lines.removeFirst(); // cut in the middle
    if (!lines.isEmpty() && lines.constLast().isEmpty())
        lines.removeLast();
    return lines.mid(std::max<qsizetype>(0, lines.size() - count));
}

} // namespace

DiagnosticLog::DiagnosticLog(QString path)
    : DiagnosticLog(std::move(path), Limits())
{}

DiagnosticLog::DiagnosticLog(QString path, Limits limits)
    : m_path(std::move(path))
    , m_limits(limits)
{}

QString DiagnosticLog::line(Level level, const LogText &event, std::initializer_list<Field> fields)
{
    QString text = utcNow() + u' ' + levelName(level) + u' ' + event.text();
    for (const Field &field : fields) {
        text += u' ' + field.name + u'=' + fieldValue(field.value.text());
    }
    return text.left(maximumLineLength);
}

void DiagnosticLog::write(Level level, const LogText &event, std::initializer_list<Field> fields)
{
    const QByteArray bytes = line(level, event, fields).toUtf8() + '\n';
    if (!m_file.isOpen() && !open())
        return;
    if (m_file.size() + bytes.size() > m_limits.maximumBytes) {
        rotate();
        if (!open())
            return;
    }
    m_file.write(bytes);
    m_file.flush();
}

bool DiagnosticLog::open()
{
    m_file.close();
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // A link is taken away rather than written through; an oversized file goes unread.
    if (isLink(m_path))
        QFile::remove(m_path);
    else if (QFileInfo(m_path).size() > m_limits.maximumBytes)
        rotate();
    m_file.setFileName(m_path);
    return m_file.open(QIODevice::WriteOnly | QIODevice::Append);
}

void DiagnosticLog::rotate()
{
    m_file.close();
    QFile::remove(generationPath(m_limits.generations - 1));
    for (int generation = m_limits.generations - 2; generation >= 0; --generation) {
        QFile::rename(generationPath(generation), generationPath(generation + 1));
    }
    QFile::remove(m_path);
}

QString DiagnosticLog::generationPath(int generation) const
{
    return generation == 0 ? m_path : m_path + u'.' + QString::number(generation);
}

QStringList DiagnosticLog::tail(const QString &path, int count, qint64 maximumBytes)
{
    QStringList lines = lastLines(path, count, maximumBytes);
    for (int generation = 1; lines.size() < count && generation < 10; ++generation) {
        const QString older = path + u'.' + QString::number(generation);
        if (!QFileInfo::exists(older) && !isLink(older))
            break;
        lines = lastLines(older, count - int(lines.size()), maximumBytes) + lines;
    }
    return lines;
}
