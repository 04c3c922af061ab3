#include "platform/posix/sealedblob.h"

#include "platform/crypto.h"
#include "platform/posix/fileio.h"

#include <sodium.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::sealedblob {

namespace {

using posix::UniqueFd;

constexpr std::uint8_t magic0 = 'S';
constexpr std::uint8_t magic1 = 'V';
constexpr std::uint8_t formatVersion = 1;
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
    UniqueFd fd(::open(keyPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (!fd.valid())
        return errno == ENOENT ? KeyFile::Missing : KeyFile::Refused;
    struct stat info
    {
    };
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
        (info.st_mode & 077) != 0 || info.st_size != static_cast<off_t>(keySize) ||
        !posix::readFully(fd.get(), key.bytes.data(), key.bytes.size()))
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
    UniqueFd fd(raw);
    Key fresh;
    const bool written = ::fchmod(fd.get(), 0600) == 0 &&
                         randomBytes(fresh.bytes.data(), fresh.bytes.size()) &&
                         posix::writeFully(fd.get(), fresh.bytes.data(), fresh.bytes.size()) &&
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
        UniqueFd fd(::open(source, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
        if (!fd.valid())
            continue;
        std::array<char, 128> buffer{};
        const ssize_t n = posix::readUpTo(fd.get(), buffer.data(), buffer.size());
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

bool scopeKey(Scope scope, bool create, Key &key)
{
    return scope == Scope::Machine ? machineKey(key) : userKey(create, key);
}

} // namespace

std::optional<Header> readHeader(const std::vector<std::uint8_t> &blob)
{
    if (blob.size() < fixedHeaderSize + nonceSize + tagSize || blob[0] != magic0 ||
        blob[1] != magic1 || blob[2] != formatVersion ||
        (blob[3] != std::uint8_t(Scope::User) && blob[3] != std::uint8_t(Scope::Machine)))
        return std::nullopt;
    const std::size_t descriptionSize = blob[4] | (std::size_t(blob[5]) << 8);
    const std::size_t size = fixedHeaderSize + descriptionSize;
    if (blob.size() < size + nonceSize + tagSize)
        return std::nullopt;
    const auto *description = reinterpret_cast<const char *>(blob.data() + fixedHeaderSize);
    return Header{Scope(blob[3]), std::string(description, descriptionSize), size};
}

std::optional<std::vector<std::uint8_t>> seal(const std::vector<std::uint8_t> &plain,
                                              const std::string &description, Scope scope)
{
    if (description.size() > maxDescription || sodium_init() < 0)
        return std::nullopt;
    Key key;
    if (!scopeKey(scope, true, key))
        return std::nullopt;

    const std::size_t header = fixedHeaderSize + description.size();
    std::vector<std::uint8_t> blob(header + nonceSize + plain.size() + tagSize);
    blob[0] = magic0;
    blob[1] = magic1;
    blob[2] = formatVersion;
    blob[3] = std::uint8_t(scope);
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
    const std::optional<Header> header = readHeader(blob);
    if (!header || sodium_init() < 0)
        return {};
    Key key;
    if (!scopeKey(header->scope, false, key))
        return {};
    const std::uint8_t *nonce = blob.data() + header->size;
    const std::size_t sealedSize = blob.size() - header->size - nonceSize;
    std::vector<std::uint8_t> plain(sealedSize - tagSize);
    unsigned long long plainSize = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(plain.data(), &plainSize, nullptr,
                                                   nonce + nonceSize, sealedSize, blob.data(),
                                                   header->size, nonce, key.bytes.data()) != 0) {
        secureZero(plain);
        return {};
    }
    return plain;
}

} // namespace platform::sealedblob
