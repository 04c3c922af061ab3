#pragma once

#include "common/tunnelcontract.h"

#include <QString>
#include <QStringList>

#include <optional>

// The modes of the tunnel program, chosen by the first argument after the program name.
enum class TunnelMode
{
    Install,
    Stop,
    Service,
    CleanupAll,
    CleanupLegacy
};

struct TunnelCommand
{
    TunnelMode mode = TunnelMode::Stop;
    QString tunnelName;  // empty for the clean-up modes
    QString profilePath; // empty for "--stop" and the clean-up modes
    // "--install" and "--service": the switches after the profile path.
    tunnelcontract::TunnelOptions options;
};

// Reads the arguments that follow the program name; "--install" and "--service" take the tunnel
// name, the profile path and then, in their order and each once, the option switches. Every
// comparison is exact and case-sensitive; nothing when the line is malformed or the tunnel name
// does not match its pattern (the program then exits with 87). The profile path is checked later,
// by the mode that uses it.
std::optional<TunnelCommand> parseTunnelCommandLine(const QStringList &arguments);
