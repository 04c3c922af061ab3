#pragma once

#include <QStringList>

#include <cstdint>

// Lets the toolkit load plugins (the health check's TLS backend) only from folders that only
// administrators can change: the program's own and the toolkit's installed plugin folder.
// Call once the application object exists, before anything loads a plugin.
void confinePluginFolders();

// Runs the mode the command line selects and returns its outcome as a Windows error number (0 on
// success). `arguments` follow the program name; `programPath` is this executable's full path.
std::uint32_t runTunnelProgram(const QStringList &arguments, const QString &programPath);
