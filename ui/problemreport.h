#pragma once

#include <QString>

// A plain-text report the user can send to support: the program's, Qt's and the system's
// versions, the non-secret preferences, the tunnel's state and the last lines of the client's log
// and of the log of the tunnel service it last managed. None of it is a secret: the logs carry
// none, and only preferences are listed.
namespace problemreport {

inline constexpr int logLines = 500;

// `tunnelState` is the status line of the tunnel as the client finds it.
QString text(const QString &tunnelState);
// Writes the report to `path` as a whole or not at all: false, with `error` saying why, when it
// cannot be written; no partial file is left.
bool save(const QString &path, const QString &tunnelState, QString *error);

} // namespace problemreport
