#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Larger files are refused unread, so a corrupt or hostile file cannot make us allocate much.
inline constexpr std::size_t protectedFileLimit = 1048576;

// Encrypts `bytes` bound to the current account (or, with `machineScope`, to this machine) and
// replaces `path` atomically through `path + ".tmp"`. With `readerAccount` empty the new file
// gets the owner-only access list; otherwise it is a file the privileged side leaves for one
// account in a folder that only administrators can change: full access for SYSTEM and the
// Administrators and read access for `readerAccount` (a SID; on POSIX a uid, the file then being
// that account's with mode 0400). True only when the new content is in place. UTF-8 path.
bool writeProtectedFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                                  const std::string &description, bool machineScope,
                                  const std::string &readerAccount);

// The decrypted content, or empty when the file is missing, unreadable, larger than
// protectedFileLimit or cannot be decrypted by this account.
std::vector<std::uint8_t> readProtectedFile(const std::string &path);

// The decrypted content of a protected file's bytes read by other means (the profile file, read
// from one checked handle); empty when this account cannot decrypt them.
std::vector<std::uint8_t> unprotectBlob(const std::vector<std::uint8_t> &blob);

// Text form of the account running this process (a SID on Windows, the uid on POSIX); empty when
// it cannot be determined.
std::string currentAccountId();

} // namespace platform
