#pragma once

#include <QStringList>

class QApplication;

// The client's start-up after the application object exists: font, locale, identity, options,
// migrations or the smoke-test set-up, the main window and its timers, then the event loop.
namespace clientstartup {

// `arguments` is the command line, the program path first. Returns the process exit code: 2 for
// a command line it refuses, 1 when the data directory migration failed (the main window is
// never created) or a smoke run could not save its screenshot, a command's own code, else the
// event loop's exit code.
int run(QApplication &application, const QStringList &arguments);

} // namespace clientstartup
