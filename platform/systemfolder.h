#pragma once

#include <cstdint>
#include <string>

// Where the privileged side may act and what it may trust: whether this process holds
// administrator rights, whether a path can be changed by anyone else, and the folder in which
// the tunnel service leaves its error files for the client.
//
// "Administrators" are, on Windows, LocalSystem, the Administrators group and TrustedInstaller;
// on POSIX, root and the account running this process (root itself when privileged, so an
// unprivileged test run can use folders of its own).
namespace platform {

// True when this process runs with administrator rights: an elevated token or LocalSystem on
// Windows, effective uid 0 on POSIX.
bool isPrivilegedProcess();

// True when `path` (absolute, UTF-8; a file or a folder) and every folder above it can be
// changed only by administrators:
// - each object is owned by an administrator, and nobody else may write it, add to it, delete or
//   rename it, or change its access (Windows: no allowing entry of the access list gives anyone
//   else such a right; POSIX: no write permission for group or others);
// - a folder above it may let others add entries (C:\ProgramData, /tmp) but never remove or
//   rename someone else's (Windows: no delete-child right; POSIX: sticky when writable);
// - links and reparse points are judged where they lie, and their targets are checked the same
//   way from the root down.
bool isChangeableOnlyByAdministrators(const std::string &path);

// The folder in which the tunnel service writes its error files and from which the client reads
// them: "%ProgramData%\SolvikVPN" on Windows, "tunnel-errors" in the POSIX service manager's
// state directory. Empty when it cannot be determined.
std::string tunnelErrorDirectory();

// Makes sure tunnelErrorDirectory() exists and only administrators can change it. A missing
// folder is created (Windows: a protected access list with full access for SYSTEM and the
// Administrators and read access for `readerAccount`, a SID; POSIX: mode 0755, owned by this
// account); an existing one is kept only as it is. Returns 0, or 5 when it cannot be created or
// exists in a weaker form (another owner, a link, an access list that lets others change it).
std::uint32_t prepareTunnelErrorDirectory(const std::string &readerAccount);

} // namespace platform
