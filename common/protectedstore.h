#pragma once

#include <QByteArray>
#include <QString>

// The Qt face of the protected file store. Name-based files live in the data directory as
// "<name>.dpapi", are bound to the current account and carry the owner-only access list.
namespace protectedstore {

// The per-user data directory for the current application identity, created when missing.
QString dataDirectory();

QByteArray readProtected(const QString &name);
bool writeProtected(const QString &name, const QByteArray &bytes);
// Whether the file `name` exists; its contents are not read.
bool protectedExists(const QString &name);
// True when the file did not exist or was deleted.
bool removeProtected(const QString &name);

QByteArray readProtectedFile(const QString &path);
// Machine scope. An empty `readerAccount` selects the owner-only access list; otherwise the file
// is one the privileged side leaves for that account (a SID, a uid on POSIX): full access for
// the system and the administrators, read access for the reader.
bool writeMachineProtectedFile(const QString &path, const QString &description,
                               const QByteArray &bytes, const QString &readerAccount);

} // namespace protectedstore
