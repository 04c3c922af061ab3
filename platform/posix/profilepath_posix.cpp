#include "platform/profilepath.h"

#include "platform/crypto.h"
#include "platform/posix/childexec.h"
#include "platform/posix/fileio.h"
#include "platform/protectedfile.h"

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace platform {

namespace {

// statfs magic numbers of file systems whose content another machine controls.
bool isNetworkFileSystem(unsigned long magic)
{
    switch (magic) {
    case 0x6969UL:     // NFS
    case 0x517BUL:     // SMB
    case 0xFF534D42UL: // CIFS
    case 0xFE534D42UL: // SMB2
    case 0x5346414FUL: // AFS
    case 0x6B414653UL: // kAFS
    case 0x73757245UL: // Coda
    case 0x01021997UL: // 9P
    case 0x65735546UL: // FUSE (sshfs and the like)
    case 0x00C36400UL: // Ceph
        return true;
    default:
        return false;
    }
}

std::string lastComponent(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool hasDotComponent(const std::string &path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        const std::string component = path.substr(start, end - start);
        if (component == "." || component == "..")
            return true;
        start = end + 1;
    }
    return false;
}

// Where the open file really is: the kernel's name for the descriptor. A file removed meanwhile
// reads as "... (deleted)" and so never matches a path.
std::string realPathOf(int fd)
{
    char buffer[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof buffer)
        return {};
    return std::string(buffer, static_cast<std::size_t>(length));
}

} // namespace

bool readLocalProfileFile(const std::string &path, const std::string &expectedFileName,
                          std::vector<std::uint8_t> &blob, std::string &ownerAccount)
{
    if (expectedFileName.empty() || path.empty() || path.front() != '/' ||
        path.find_first_of(std::string("\"\0", 2)) != std::string::npos || hasDotComponent(path) ||
        lastComponent(path) != expectedFileName)
        return false;
    // Non-blocking, so that a FIFO under the name cannot hang the reader.
    posix::UniqueFd fd(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid())
        return false;
    struct stat info
    {
    };
    struct statfs fileSystem
    {
    };
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1 ||
        info.st_size < 0 || static_cast<unsigned long long>(info.st_size) > protectedFileLimit ||
        realPathOf(fd.get()) != path || ::fstatfs(fd.get(), &fileSystem) != 0 ||
        isNetworkFileSystem(static_cast<unsigned long>(fileSystem.f_type)))
        return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    if (!posix::readFully(fd.get(), bytes.data(), bytes.size())) {
        secureZero(bytes);
        return false;
    }
    blob = std::move(bytes);
    ownerAccount = std::to_string(info.st_uid);
    return true;
}

} // namespace platform
