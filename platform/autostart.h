#pragma once

#include <optional>
#include <string>

// Starting the client when the user signs in to the system, with the switch "--hidden" so that
// it starts in the notification area. There is one registration per user:
// - Windows: the value "SolvikVPN" (REG_SZ) of HKCU\Software\Microsoft\Windows\CurrentVersion\Run,
//   holding the quoted program path followed by " --hidden";
// - POSIX: the XDG autostart entry "solvikvpn.desktop" in "$XDG_CONFIG_HOME/autostart" (or
//   "$HOME/.config/autostart" when XDG_CONFIG_HOME is unset or not absolute). A link at the
//   entry's name is never followed: it is no registration, and registering replaces the link.
namespace platform {

// The program (UTF-8) that starts at sign-in; nothing when there is no registration, it names no
// program, or (POSIX) the entry is switched off (Hidden=true, X-GNOME-Autostart-enabled=false).
std::optional<std::string> registeredStartAtLoginProgram();

inline bool isStartAtLoginRegistered()
{
    return registeredStartAtLoginProgram().has_value();
}

// Registers `programPath` (absolute, UTF-8) to start at sign-in, replacing an earlier
// registration. Refused, leaving an earlier registration as it was: a path that is empty, not
// absolute, not valid UTF-8 or holds a control character, and on Windows one with a double quote
// (a command line cannot quote it). Windows stores the path with backslashes; POSIX creates
// missing folders with mode 0700 and writes the entry atomically with mode 0644.
bool registerStartAtLogin(const std::string &programPath);

// Removes exactly what registerStartAtLogin() adds (the Run value, the entry file), never the Run
// key or the autostart folder. True when nothing is registered afterwards, already absent
// included.
bool unregisterStartAtLogin();

} // namespace platform
