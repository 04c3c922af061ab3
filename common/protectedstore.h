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
// True when the file did not exist or was deleted.
bool removeProtected(const QString &name);

QByteArray readProtectedFile(const QString &path);
// Machine scope; an empty `aclSourcePath` selects the owner-only access list, else the access
// list of that existing file is copied.
bool writeMachineProtectedFile(const QString &path, const QString &description,
                               const QByteArray &bytes, const QString &aclSourcePath);

} // namespace protectedstore
