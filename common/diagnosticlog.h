#pragma once

#include "common/logtext.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <initializer_list>

// A bounded, rotating text log of what a program did: one line per event with its time (UTC),
// level, event name and fields, in a file of at most `maximumBytes` and `generations - 1` older
// files beside it ("<path>.1", "<path>.2", ...). Every value is log text (common/logtext.h), so no
// secret reaches it. A link at a log's path is removed, never followed, and a file beyond the
// bound is rotated away unread.
class DiagnosticLog
{
public:
    enum class Level
    {
        Info,
        Warning,
        Error
    };

    // One field of an event: a name written in the program and a value.
    struct Field
    {
        template<std::size_t N>
        Field(const char (&name)[N], LogText value)
            : name(QString::fromLatin1(name, qsizetype(N) - 1))
            , value(std::move(value))
        {}
        template<std::size_t N>
        Field(const char (&name)[N], qint64 number)
            : Field(name, LogText::number(number))
        {}

        QString name;
        LogText value;
    };

    struct Limits
    {
        qint64 maximumBytes = 1024 * 1024;
        int generations = 3;
    };

    explicit DiagnosticLog(QString path);
    DiagnosticLog(QString path, Limits limits);
    DiagnosticLog(const DiagnosticLog &) = delete;
    DiagnosticLog &operator=(const DiagnosticLog &) = delete;

    void write(Level level, const LogText &event, std::initializer_list<Field> fields = {});
    // One line of a log, without its line feed: "<UTC time> <level> <event> name=value ...".
    static QString line(Level level, const LogText &event, std::initializer_list<Field> fields);
    QString path() const { return m_path; }

    // The last `count` lines of the log at `path` and of its generations before it, oldest first,
    // reading at most `maximumBytes` from the end of each file. Bytes that are not UTF-8 show as
    // replacement characters; a link is not read.
    static QStringList tail(const QString &path, int count, qint64 maximumBytes = 256 * 1024);

    static constexpr qsizetype maximumLineLength = 1000;

private:
    bool open();
    void rotate();
    QString generationPath(int generation) const;

    QString m_path;
    Limits m_limits;
    QFile m_file;
};
