#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

// The engine's diagnostic lines, "LEVEL[SSSS] message" on standard error, where SSSS counts the
// seconds since start. Lines below the configured level are dropped; silent mode drops all.
class EngineLog
{
public:
    enum class Level
    {
        Trace,
        Debug,
        Info,
        Warn,
        Error,
        Fatal,
        Panic
    };

    explicit EngineLog(bool silent);

    // Accepts the engine's level names; false for an unknown name.
    static bool levelFromName(const QString &name, Level *level);

    void setThreshold(Level level) { m_threshold = level; }
    void setDisabled(bool disabled) { m_disabled = disabled; }

    void write(Level level, const QString &message);
    // Raw bytes, unaffected by level filtering (the flood mode); nothing in silent mode.
    void writeRaw(const QByteArray &bytes);

private:
    QElapsedTimer m_clock;
    Level m_threshold = Level::Info;
    bool m_silent = false;
    bool m_disabled = false;
};
