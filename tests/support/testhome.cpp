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
    // QSettings reads the configuration directory once per process; a later home must say so.
    const QString config = m_directory.filePath(QStringLiteral("home/.config"));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
    QStandardPaths::setTestModeEnabled(true);
}
