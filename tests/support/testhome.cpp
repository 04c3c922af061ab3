#include "testhome.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

TestHome::TestHome()
{
    const auto point = [this](const char *variable, const QString &relative) {
        const QString path = m_directory.filePath(relative);
        QDir().mkpath(path);
        qputenv(variable, QFile::encodeName(path));
    };
    point("HOME", QStringLiteral("home"));
    point("XDG_DATA_HOME", QStringLiteral("home/.local/share"));
    point("XDG_CONFIG_HOME", QStringLiteral("home/.config"));
    point("XDG_CACHE_HOME", QStringLiteral("home/.cache"));
    QStandardPaths::setTestModeEnabled(true);
    // QSettings picks its directory once per process; a later home must name it again. It is
    // the test-mode location, as in helper processes that enable test mode under this home.
#ifdef _WIN32
    // Windows finds its folders through the shell, not through these variables, and keeps the
    // native store in the registry, which no home isolates: the store becomes a file here.
    QSettings::setDefaultFormat(QSettings::IniFormat);
    const QString config = m_directory.filePath(QStringLiteral("home/.config"));
#else
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
#endif
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
}
