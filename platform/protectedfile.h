#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Larger files are refused unread, so a corrupt or hostile file cannot make us allocate much.
inline constexpr std::size_t protectedFileLimit = 1048576;

// Encrypts `bytes` bound to the current account (or, with `machineScope`, to this machine) and
// replaces `path` atomically through `path + ".tmp"`. The new file gets the owner-only access
// list when `aclSourcePath` is empty, else a copy of the access list of that existing file.
// True only when the new content is in place. `path` and `aclSourcePath` are UTF-8.
bool writeProtectedFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                                  const std::string &description, bool machineScope,
                                  const std::string &aclSourcePath);

// The decrypted content, or empty when the file is missing, unreadable, larger than
// protectedFileLimit or cannot be decrypted by this account.
std::vector<std::uint8_t> readProtectedFile(const std::string &path);

// Text form of the account running this process (a SID on Windows, the uid on POSIX); empty when
// it cannot be determined.
std::string currentAccountId();

} // namespace platform
