#include "app/legacymigration.h"

#include "common/protectedstore.h"
#include "settings/settingskeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSettings>
#include <QStandardPaths>

namespace legacymigration {
namespace {

constexpr int lockWaitMilliseconds = 5000;

void report(QString *error, const QString &message)
{
    if (error) {
        *error = message;
    }
}

QString lockMessage()
{
    return QStringLiteral("Close other Solvik VPN windows and retry the update.");
}

QString createDirectoryMessage()
{
    return QStringLiteral("Could not create the Solvik VPN data directory.");
}

QString copyMessage()
{
    return QStringLiteral("Could not transfer your saved device credentials. Close the app and "
                          "retry; your existing data has been kept.");
}

QString markerMessage()
{
    return QStringLiteral("Could not finish transferring your settings. Please retry.");
}

// The newer layout first: when both hold a file, its copy wins because later copies skip
// existing targets.
QStringList sourceDirectories()
{
    const QString generic = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return {generic + QStringLiteral("/Zelvane/Zelvane"), generic + QStringLiteral("/Zelvane")};
}

bool ensureDirectory(const QString &path)
{
    return !path.isEmpty() && QDir().mkpath(path) && QFileInfo(path).isDir();
}

bool writeMarker(const QString &path)
{
    QFile marker(path);
    // Unbuffered, so that the byte count reflects what reached the file.
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        return false;
    }
    return marker.write("1", 1) == 1;
}

} // namespace

bool migrateDataDirectory(QString *error)
{
    const QString dataDirectory = protectedstore::dataDirectory();
    // Without the directory the lock file cannot exist either; say what actually went wrong.
    if (!ensureDirectory(dataDirectory)) {
        report(error, createDirectoryMessage());
        return false;
    }

    // Taken before the marker is checked: a second client that is still copying must finish
    // before this one may trust the marker.
    QLockFile lock(dataDirectory + QStringLiteral("/brand-migration.lock"));
    if (!lock.tryLock(lockWaitMilliseconds)) {
        report(error, lockMessage());
        return false;
    }

    const QString markerPath = dataDirectory + QStringLiteral("/legacy-storage-migrated");
    if (QFileInfo(markerPath).isFile()) {
        return true;
    }

    for (const QString &source : sourceDirectories()) {
        if (!copyLegacyFiles(source, dataDirectory, error)) {
            return false;
        }
    }

    if (!writeMarker(markerPath)) {
        report(error, markerMessage());
        return false;
    }
    return true;
}

bool copyLegacyFiles(const QString &sourceDirectory, const QString &targetDirectory, QString *error)
{
    if (!ensureDirectory(targetDirectory)) {
        report(error, createDirectoryMessage());
        return false;
    }

    // Regular files only: symbolic links could point anywhere, and subdirectories belong to the
    // earlier product's own layout.
    const QFileInfoList files =
        QDir(sourceDirectory)
            .entryInfoList({QStringLiteral("*.dpapi")},
                           QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDir::Unsorted);
    for (const QFileInfo &file : files) {
        const QString target = targetDirectory + QLatin1Char('/') + file.fileName();
        // The current product's data always wins; a dangling link is still an occupied name.
        if (QFileInfo(target).exists() || QFileInfo(target).isSymLink()) {
            continue;
        }
        if (!QFile::copy(file.filePath(), target)) {
            report(error, copyMessage());
            return false;
        }
    }
    return true;
}

std::unique_ptr<QSettings> openEarlierSettings()
{
    return std::make_unique<QSettings>(QStringLiteral("Zelvane"), QStringLiteral("Zelvane"));
}

void migrateSettings(const SettingsOpener &openEarlier)
{
    if (settings::legacySettingsMigrated()) {
        return;
    }
    const std::unique_ptr<QSettings> earlier = openEarlier();
    QSettings current;
    const QStringList keys = earlier->allKeys();
    for (const QString &key : keys) {
        if (!current.contains(key)) {
            current.setValue(key, earlier->value(key));
        }
    }
    // Written only after every missing key was copied: an interrupted copy repeats harmlessly.
    current.setValue(settings::keys::legacySettingsMigrated, true);
    current.sync();
}

} // namespace legacymigration
