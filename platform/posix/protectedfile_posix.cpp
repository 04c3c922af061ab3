// POSIX stand-in for DPAPI and Windows access lists.
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
// authenticated. The file is therefore 46 + description + plaintext bytes long.
//
// User scope key: 32 random bytes in "$XDG_CONFIG_HOME/solvikvpn/protect.key" (or
// "$HOME/.config/..."), mode 0600, owned by the account. Machine scope key: a keyed hash of
// /etc/machine-id, else /var/lib/dbus/machine-id, else the host name; any account on the
// machine can derive it, like DPAPI's machine scope.
//
// Access lists: owner-only is mode 0600 owned by the current account (root stands for SYSTEM and
// the Administrators); a copied access list is the source file's owner, group and mode.

#include "platform/protectedfile.h"

#include "platform/crypto.h"

#include <sodium.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::uint8_t magic0 = 'S';
constexpr std::uint8_t magic1 = 'V';
constexpr std::uint8_t formatVersion = 1;
constexpr std::uint8_t userScope = 0;
constexpr std::uint8_t machineScopeByte = 1;
constexpr std::size_t fixedHeaderSize = 6;
constexpr std::size_t nonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t tagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;
constexpr std::size_t keySize = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr std::size_t maxDescription = 0xFFFF;
constexpr char machineKeyContext[] = "SolvikVPN machine scope key v1";

static_assert(keySize == 32 && nonceSize == 24 && tagSize == 16);

// A key that wipes itself.
class Key
{
public:
    Key() = default;
    Key(const Key &) = delete;
    Key &operator=(const Key &) = delete;
    ~Key() { secureZero(bytes.data(), bytes.size()); }
    std::array<std::uint8_t, keySize> bytes{};
};

// A file descriptor closed on every return.
class Fd
{
public:
    explicit Fd(int fd)
        : m_fd(fd)
    {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { close(); }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }
    bool close()
    {
        const bool ok = m_fd < 0 || ::close(m_fd) == 0;
        m_fd = -1;
        return ok;
    }

private:
    int m_fd;
};

bool validPath(const std::string &path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

std::string parentDirectory(const std::string &path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Repeats ::read or ::write until all `size` bytes went through; false on an error or an early
// end of file.
template<typename Call, typename Byte>
bool transferAll(Call call, int fd, Byte *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = call(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool writeAll(int fd, const std::uint8_t *data, std::size_t size)
{
    return transferAll(::write, fd, data, size);
}

bool readAll(int fd, std::uint8_t *data, std::size_t size)
{
    return transferAll(::read, fd, data, size);
}

// ---- keys ----

std::string keyDirectory()
{
    const char *config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/solvikvpn";
    const char *home = std::getenv("HOME");
    std::string base = home && home[0] == '/' ? home : "";
    if (base.empty()) {
        const passwd *entry = getpwuid(geteuid());
        if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/')
            return {};
        base = entry->pw_dir;
    }
    return base + "/.config/solvikvpn";
}

bool makeDirectories(const std::string &directory)
{
    std::size_t at = 1;
    while (at != std::string::npos) {
        at = directory.find('/', at + 1);
        const std::string part = directory.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info
    {
    };
    return ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

enum class KeyFile
{
    Loaded,
    Missing,
    Refused
};

// Refuses a key that another account owns or could read: it would not bind data to this account.
KeyFile loadUserKey(const std::string &keyPath, Key &key)
{
    Fd fd(::open(keyPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid())
        return errno == ENOENT ? KeyFile::Missing : KeyFile::Refused;
    struct stat info
    {
    };
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 077) != 0 || info.st_size != static_cast<off_t>(keySize) ||
        !readAll(fd.get(), key.bytes.data(), key.bytes.size()))
        return KeyFile::Refused;
    return KeyFile::Loaded;
}

// Creates the key once: written in full under a unique name, then linked into place, which fails
// when another process got there first; then everyone uses the file that won.
bool createUserKey(const std::string &directory, const std::string &keyPath)
{
    if (!makeDirectories(directory))
        return false;
    std::string pending = directory + "/protect.key.XXXXXX";
    const int raw = ::mkostemp(pending.data(), O_CLOEXEC);
    if (raw < 0)
        return false;
    Fd fd(raw);
    Key fresh;
    const bool written = ::fchmod(fd.get(), 0600) == 0 &&
                         randomBytes(fresh.bytes.data(), fresh.bytes.size()) &&
                         writeAll(fd.get(), fresh.bytes.data(), fresh.bytes.size()) &&
                         ::fsync(fd.get()) == 0 && fd.close();
    const bool linked =
        written && (::link(pending.c_str(), keyPath.c_str()) == 0 || errno == EEXIST);
    ::unlink(pending.c_str());
    return linked;
}

bool userKey(bool create, Key &key)
{
    const std::string directory = keyDirectory();
    if (directory.empty())
        return false;
    const std::string keyPath = directory + "/protect.key";
    const KeyFile found = loadUserKey(keyPath, key);
    if (found != KeyFile::Missing || !create)
        return found == KeyFile::Loaded;
    return createUserKey(directory, keyPath) && loadUserKey(keyPath, key) == KeyFile::Loaded;
}

std::string machineIdentity()
{
    for (const char *source : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        Fd fd(::open(source, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd.valid())
            continue;
        std::array<char, 128> buffer{};
        const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
        std::string text(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
        while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
            text.pop_back();
        if (!text.empty())
            return text;
    }
    // Last resort on systems without a machine id: the host name, which at least differs
    // between machines. It is as public as the machine id; machine scope never was a secret
    // from accounts on the same machine.
    std::array<char, 256> host{};
    if (::gethostname(host.data(), host.size() - 1) == 0)
        return std::string("host:") + host.data();
    return "host:";
}

bool machineKey(Key &key)
{
    const std::string identity = machineIdentity();
    return crypto_generichash(key.bytes.data(), key.bytes.size(),
                              reinterpret_cast<const unsigned char *>(identity.data()),
                              identity.size(),
                              reinterpret_cast<const unsigned char *>(machineKeyContext),
                              sizeof(machineKeyContext) - 1) == 0;
}

bool scopeKey(std::uint8_t scope, bool create, Key &key)
{
    return scope == machineScopeByte ? machineKey(key) : userKey(create, key);
}

// ---- blobs ----

std::optional<std::vector<std::uint8_t>> seal(const std::vector<std::uint8_t> &plain,
                                              const std::string &description, bool machineScope)
{
    if (description.size() > maxDescription || sodium_init() < 0)
        return std::nullopt;
    const std::uint8_t scope = machineScope ? machineScopeByte : userScope;
    Key key;
    if (!scopeKey(scope, true, key))
        return std::nullopt;

    const std::size_t header = fixedHeaderSize + description.size();
    std::vector<std::uint8_t> blob(header + nonceSize + plain.size() + tagSize);
    blob[0] = magic0;
    blob[1] = magic1;
    blob[2] = formatVersion;
    blob[3] = scope;
    blob[4] = static_cast<std::uint8_t>(description.size() & 0xFF);
    blob[5] = static_cast<std::uint8_t>(description.size() >> 8);
    std::memcpy(blob.data() + fixedHeaderSize, description.data(), description.size());
    std::uint8_t *nonce = blob.data() + header;
    randombytes_buf(nonce, nonceSize);
    unsigned long long sealedSize = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(nonce + nonceSize, &sealedSize, plain.data(),
                                               plain.size(), blob.data(), header, nullptr, nonce,
                                               key.bytes.data());
    return blob;
}

std::vector<std::uint8_t> unseal(const std::vector<std::uint8_t> &blob)
{
    if (blob.size() < fixedHeaderSize + nonceSize + tagSize || blob[0] != magic0 ||
        blob[1] != magic1 || blob[2] != formatVersion ||
        (blob[3] != userScope && blob[3] != machineScopeByte) || sodium_init() < 0)
        return {};
    const std::size_t header = fixedHeaderSize + (blob[4] | (std::size_t(blob[5]) << 8));
    if (blob.size() < header + nonceSize + tagSize)
        return {};
    Key key;
    if (!scopeKey(blob[3], false, key))
        return {};
    const std::uint8_t *nonce = blob.data() + header;
    const std::size_t sealedSize = blob.size() - header - nonceSize;
    std::vector<std::uint8_t> plain(sealedSize - tagSize);
    unsigned long long plainSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(plain.data(), &plainSize, nullptr,
                                                   nonce + nonceSize, sealedSize, blob.data(),
                                                   header, nonce, key.bytes.data()) != 0) {
        secureZero(plain);
        return {};
    }
    return plain;
}

// ---- access lists and replacement ----

struct AccessList
{
    uid_t owner;
    gid_t group;
    mode_t mode;
};

// A source that grants anything to every account is the POSIX face of a null DACL: refused.
std::optional<AccessList> copiedAccessList(const std::string &source)
{
    struct stat info
    {
    };
    if (!validPath(source) || ::stat(source.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
        (info.st_mode & 0007) != 0)
        return std::nullopt;
    return AccessList{info.st_uid, info.st_gid, static_cast<mode_t>(info.st_mode & 0777)};
}

bool applyAccessList(int fd, const std::optional<AccessList> &copied)
{
    if (!copied)
        return ::fchmod(fd, 0600) == 0;
    // As an ordinary account, giving the file away fails, and so does the write: the new file
    // never carries a weaker access list than asked for.
    return ::fchown(fd, copied->owner, copied->group) == 0 && ::fchmod(fd, copied->mode) == 0;
}

bool replaceAtomically(const std::string &path, const std::vector<std::uint8_t> &blob,
                       const std::optional<AccessList> &copied)
{
    const std::string temporary = path + ".tmp";
    // A leftover temporary file is replaced by a fresh inode rather than truncated, so neither its
    // permissions nor a planted hard link to another file carry over.
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT)
        return false;
    Fd fd(::open(temporary.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid())
        return false;
    const bool stored = applyAccessList(fd.get(), copied) &&
                        writeAll(fd.get(), blob.data(), blob.size()) && ::fsync(fd.get()) == 0;
    if (!fd.close() || !stored || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    // The rename itself is durable only once the directory entry is on disk; the new content is
    // already in place, so a failure here does not undo the write.
    Fd directory(::open(parentDirectory(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.valid())
        ::fsync(directory.get());
    return true;
}

} // namespace

bool writeProtectedFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                                  const std::string &description, bool machineScope,
                                  const std::string &aclSourcePath)
{
    if (!validPath(path))
        return false;
    std::optional<std::vector<std::uint8_t>> blob = seal(bytes, description, machineScope);
    if (!blob)
        return false;
    bool written = false;
    if (aclSourcePath.empty()) {
        written = replaceAtomically(path, *blob, std::nullopt);
    } else if (const std::optional<AccessList> copied = copiedAccessList(aclSourcePath)) {
        written = replaceAtomically(path, *blob, copied);
    }
    secureZero(*blob);
    return written;
}

std::vector<std::uint8_t> readProtectedFile(const std::string &path)
{
    if (!validPath(path))
        return {};
    // Non-blocking so that a FIFO planted under the name cannot hang the reader.
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid())
        return {};
    struct stat info
    {
    };
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size < 0 ||
        static_cast<unsigned long long>(info.st_size) > protectedFileLimit)
        return {};
    std::vector<std::uint8_t> blob(static_cast<std::size_t>(info.st_size));
    std::vector<std::uint8_t> plain;
    if (readAll(fd.get(), blob.data(), blob.size()))
        plain = unseal(blob);
    secureZero(blob);
    return plain;
}

std::string currentAccountId()
{
    return std::to_string(::geteuid());
}

} // namespace platform
