#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The POSIX stand-in for DPAPI's blobs: libsodium authenticated encryption bound to the account
// (user scope) or the machine (machine scope).
//
// Blob format (all of the file):
//   "SV"  magic, 2 bytes
//   0x01  format version
//   scope 0 user, 1 machine
//   u16   description length, little endian
//   ...   description, UTF-8, in clear
//   ...   24-byte XChaCha20-Poly1305 nonce
//   ...   ciphertext: plaintext length + 16-byte tag
// Everything before the nonce is the associated data, so the description and scope are
// authenticated. The blob is therefore 46 + description + plaintext bytes long.
//
// User scope key: 32 random bytes in "$XDG_CONFIG_HOME/solvikvpn/protect.key" (or
// "$HOME/.config/..."), mode 0600, owned by the account. Machine scope key: a keyed hash of
// /etc/machine-id, else /var/lib/dbus/machine-id, else the host name; any account on the
// machine can derive it, like DPAPI's machine scope.
namespace platform::sealedblob {

enum class Scope : std::uint8_t
{
    User = 0,
    Machine = 1
};

struct Header
{
    Scope scope = Scope::User;
    std::string description;
    std::size_t size = 0; // bytes up to the nonce: the associated data
};

// The header of `blob`; nothing when the magic, version or scope is unknown or the blob is too
// short for its header, nonce and tag. Reads untrusted input: it never reads past the blob.
std::optional<Header> readHeader(const std::vector<std::uint8_t> &blob);

// Encrypts `plain`; nothing when the key is unavailable or the description is too long.
std::optional<std::vector<std::uint8_t>> seal(const std::vector<std::uint8_t> &plain,
                                              const std::string &description, Scope scope);

// The plaintext, or empty when the blob is malformed, tampered with or sealed with a key this
// account does not have. Never creates a key.
std::vector<std::uint8_t> unseal(const std::vector<std::uint8_t> &blob);

} // namespace platform::sealedblob
