#pragma once

#include <QString>
#include <QStringList>

// How the programs invoke the sing-box engine that ships beside them in "core/".
namespace enginecommand {

// The engine executable: the programs' directory + "/core/sing-box" + the platform's
// executable suffix (".exe" on Windows). Forward slashes; callers convert to native form.
QString enginePath(const QString &applicationDirectory);
// The engine's working directory: the programs' directory + "/core".
QString engineDirectory(const QString &applicationDirectory);

// The configuration check run by the client: "check", "-c", "stdin".
QStringList checkArguments();
// The tunnel run by the service: "run", "-c", "stdin", "--disable-color".
QStringList runArguments();
// The engine's version, its first line of output: "version".
QStringList versionArguments();

} // namespace enginecommand
