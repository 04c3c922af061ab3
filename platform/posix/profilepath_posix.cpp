#include "platform/profilepath.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/vfs.h>

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

bool hasParentComponent(const std::string &path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        const auto end = path.find('/', start);
        const auto length = (end == std::string::npos ? path.size() : end) - start;
        if (path.compare(start, length, "..") == 0 && length == 2)
            return true;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return false;
}

} // namespace

std::string canonicalFilePath(const std::string &path)
{
    if (path.empty())
        return {};
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return {};
    return resolved;
}

bool isLocalProfilePath(const std::string &path, const std::string &expectedFileName)
{
    if (expectedFileName.empty() || path.find('"') != std::string::npos || path.empty() ||
        path.front() != '/' || hasParentComponent(path) || lastComponent(path) != expectedFileName)
        return false;
    const std::string canonical = canonicalFilePath(path);
    // Linux never yields "//" from realpath, but a leading double slash is how a network path
    // looks elsewhere: refuse it outright.
    if (canonical.empty() || canonical.rfind("//", 0) == 0 ||
        lastComponent(canonical) != expectedFileName)
        return false;
    struct stat info
    {
    };
    if (::stat(canonical.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return false;
    struct statfs fileSystem
    {
    };
    if (::statfs(canonical.c_str(), &fileSystem) != 0)
        return false;
    return !isNetworkFileSystem(static_cast<unsigned long>(fileSystem.f_type));
}

} // namespace platform
