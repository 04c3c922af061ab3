#pragma once

#include <QSettings>
#include <QString>

#include <functional>
#include <memory>

// One-time take-over of the earlier product's (Zelvane) protected files and settings, so that an
// updated installation keeps its sign-in and, above all, its device identity.
namespace legacymigration {

// Copies the earlier product's protected files into the data directory once, under the
// "brand-migration.lock" lock, and records completion with the "legacy-storage-migrated" marker.
// True when the migration is done (now or earlier); else false with a user-facing sentence in
// `error` (when given).
bool migrateDataDirectory(QString *error = nullptr);

// Copies every regular "*.dpapi" file directly inside `sourceDirectory` into `targetDirectory`
// (created when missing), skipping names that already exist there. A missing source directory
// copies nothing. False with a user-facing sentence in `error` (when given) on failure.
bool copyLegacyFiles(const QString &sourceDirectory, const QString &targetDirectory,
                     QString *error = nullptr);

using SettingsOpener = std::function<std::unique_ptr<QSettings>()>;

// The earlier product's settings store, organisation "Zelvane", application "Zelvane".
std::unique_ptr<QSettings> openEarlierSettings();

// Unless "legacySettingsMigrated" is already set, copies every key of the earlier store that the
// current store lacks (existing keys are never overwritten), then sets the flag and flushes. The
// earlier store is opened through `openEarlier` only when the copy is still due.
void migrateSettings(const SettingsOpener &openEarlier = openEarlierSettings);

} // namespace legacymigration
