// POSIX stand-in for DPAPI and Windows access lists. The blobs are platform/posix/sealedblob's.
//
// Access lists: owner-only is mode 0600 owned by the current account (root stands for SYSTEM and
// the Administrators); a file left for a reader is mode 0400 owned by that reader, so that it can
// read the file but, in a folder only root can change, neither replace nor remove it.

#include "platform/protectedfile.h"

#include "platform/crypto.h"
#include "platform/posix/childexec.h"
#include "platform/posix/fileio.h"
#include "platform/posix/sealedblob.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

using posix::UniqueFd;

bool validPath(const std::string &path)
{
    return !path.empty() && path.find('\0') == std::string::npos;
}

// The uid a reader account names: decimal digits only.
std::optional<uid_t> readerUid(const std::string &account)
{
    unsigned long value = 0;
    const auto [end, error] =
        std::from_chars(account.data(), account.data() + account.size(), value);
    if (account.empty() || error != std::errc() || end != account.data() + account.size() ||
        value > 0x7FFFFFFFul)
        return std::nullopt;
    return static_cast<uid_t>(value);
}

bool applyAccessList(int fd, const std::optional<uid_t> &reader)
{
    if (!reader)
        return ::fchmod(fd, 0600) == 0;
    // As an ordinary account, giving the file away fails, and so does the write.
    return ::fchown(fd, *reader, static_cast<gid_t>(-1)) == 0 && ::fchmod(fd, 0400) == 0;
}

} // namespace

bool writeProtectedFileAtomically(const std::string &path, const std::vector<std::uint8_t> &bytes,
                                  const std::string &description, bool machineScope,
                                  const std::string &readerAccount)
{
    if (!validPath(path))
        return false;
    std::optional<uid_t> reader;
    if (!readerAccount.empty() && !(reader = readerUid(readerAccount)))
        return false;
    std::optional<std::vector<std::uint8_t>> blob = sealedblob::seal(
        bytes, description, machineScope ? sealedblob::Scope::Machine : sealedblob::Scope::User);
    if (!blob)
        return false;
    const bool written = posix::replaceFile(path, blob->data(), blob->size(), [&reader](int fd) {
        return applyAccessList(fd, reader);
    });
    secureZero(*blob);
    return written;
}

std::vector<std::uint8_t> readProtectedFile(const std::string &path)
{
    if (!validPath(path))
        return {};
    // Non-blocking so that a FIFO planted under the name cannot hang the reader; a link under
    // the name is refused, not followed.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW));
    if (!fd.valid())
        return {};
    struct stat info
    {
    };
    // Every protected file is written by renaming a new file into place: one link, and owned by
    // this account or, for a file the privileged side left, by the system.
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
        (info.st_uid != ::geteuid() && info.st_uid != 0) || info.st_size < 0 ||
        static_cast<unsigned long long>(info.st_size) > protectedFileLimit)
        return {};
    std::vector<std::uint8_t> blob(static_cast<std::size_t>(info.st_size));
    std::vector<std::uint8_t> plain;
    if (posix::readFully(fd.get(), blob.data(), blob.size()))
        plain = sealedblob::unseal(blob);
    secureZero(blob);
    return plain;
}

std::vector<std::uint8_t> unprotectBlob(const std::vector<std::uint8_t> &blob)
{
    return sealedblob::unseal(blob);
}

std::string currentAccountId()
{
    return std::to_string(::geteuid());
}

} // namespace platform
