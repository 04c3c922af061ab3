#pragma once

#include "enginelog.h"
#include "stubmodes.h"

#include <QByteArray>
#include <QString>

// The engine's two commands as the programs use them. Both take the configuration bytes (and
// wipe them once decoded) and return the process exit code.
namespace enginecommands {

// Decodes strictly; 0 when accepted, else a fatal line and 1.
int check(QByteArray &configuration, const QString &source, const StubModes &modes, EngineLog &log);
// Decodes strictly, opens the probe inbound and serves until the break signal (then 0).
int run(QByteArray &configuration, const QString &source, const StubModes &modes, EngineLog &log);

// The flood pattern: 16-byte lines, each the 15-digit decimal offset of its first byte and a
// newline, cut to exactly `count` bytes, so any tail of it can be recomputed from `count`.
QByteArray floodPattern(qint64 from, qint64 count);

} // namespace enginecommands
