#pragma once

#include <QByteArray>
#include <QString>

// The user-facing sentence for the engine's diagnostics (its standard error during the check, or
// the tunnel error file the service wrote): the first group of known phrases that occurs
// anywhere, ignoring ASCII letter case, chooses the message; empty when none occurs.
QString engineErrorMessage(const QByteArray &diagnostics);
