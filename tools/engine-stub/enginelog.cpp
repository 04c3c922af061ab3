#include "enginelog.h"

#include <array>
#include <cstdio>

namespace {

struct LevelName
{
    EngineLog::Level level;
    const char *name;
    const char *tag;
};

constexpr std::array<LevelName, 7> levelNames{{
    {EngineLog::Level::Trace, "trace", "TRACE"},
    {EngineLog::Level::Debug, "debug", "DEBUG"},
    {EngineLog::Level::Info, "info", "INFO"},
    {EngineLog::Level::Warn, "warn", "WARN"},
    {EngineLog::Level::Error, "error", "ERROR"},
    {EngineLog::Level::Fatal, "fatal", "FATAL"},
    {EngineLog::Level::Panic, "panic", "PANIC"},
}};

} // namespace

EngineLog::EngineLog(bool silent)
    : m_silent(silent)
{
    m_clock.start();
}

bool EngineLog::levelFromName(const QString &name, Level *level)
{
    for (const LevelName &entry : levelNames) {
        if (name == QLatin1String(entry.name)) {
            *level = entry.level;
            return true;
        }
    }
    return false;
}

void EngineLog::write(Level level, const QString &message)
{
    // Fatal lines come before the log settings are known and always reach the caller.
    const bool fatal = level >= Level::Fatal;
    if (!fatal && (m_disabled || level < m_threshold))
        return;
    const char *tag = levelNames[static_cast<std::size_t>(level)].tag;
    const QByteArray line = QByteArray(tag) + '[' +
                            QByteArray::number(m_clock.elapsed() / 1000).rightJustified(4, '0') +
                            "] " + message.toUtf8() + '\n';
    writeRaw(line);
}

void EngineLog::writeRaw(const QByteArray &bytes)
{
    if (m_silent || bytes.isEmpty())
        return;
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}
