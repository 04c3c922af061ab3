#pragma once

#include <QStringList>

#include <cstdint>

// Runs the mode the command line selects and returns its outcome as a Windows error number (0 on
// success). `arguments` follow the program name; `programPath` is this executable's full path.
std::uint32_t runTunnelProgram(const QStringList &arguments, const QString &programPath);
