#include "platform/profilepath.h"

#include "platform/crypto.h"
#include "platform/posix/childexec.h"
#include "platform/posix/fileio.h"
#include "platform/protectedfile.h"

#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

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

constexpr unsigned long procFileSystem = 0x9FA0UL;

// The components of an absolute path; nothing when one of them is empty, "." or "..".
std::optional<std::vector<std::string>> componentsOf(const std::string &path)
{
    std::vector<std::string> components;
    std::size_t start = 1;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        std::string component = path.substr(start, end - start);
        if (component.empty() || component == "." || component == "..")
            return std::nullopt;
        components.push_back(std::move(component));
        start = end + 1;
    }
    return components;
}

bool isOnFileSystemOfOthers(int fd)
{
    struct statfs fileSystem
    {
    };
    if (::fstatfs(fd, &fileSystem) != 0)
        return true;
    const auto type = static_cast<unsigned long>(fileSystem.f_type);
    return type == procFileSystem || isNetworkFileSystem(type);
}

// Whether the open file is the root of a mount of its own, as a file bound over a name is. Where
// the kernel cannot tell, a file on another device than its folder counts as one.
bool isMountPoint(int fd, const struct stat &file, const struct stat &folder)
{
    struct statx extended
    {
    };
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_BASIC_STATS, &extended) == 0 &&
        (extended.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT))
        return (extended.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    return file.st_dev != folder.st_dev;
}

// Opens the folder that holds the last component, one component at a time from "/", never
// following a link (a magic link of /proc included) and never passing through /proc.
posix::UniqueFd openFolderWithoutLinks(const std::vector<std::string> &components)
{
    posix::UniqueFd folder(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (std::size_t index = 0; folder.valid() && index + 1 < components.size(); ++index) {
        posix::UniqueFd next(::openat(folder.get(), components[index].c_str(),
                                      O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.valid() && isOnFileSystemOfOthers(next.get()))
            next.close();
        folder = std::move(next);
    }
    return folder;
}

} // namespace

bool readLocalProfileFile(const std::string &path, const std::string &expectedFileName,
                          const std::string &requiredOwner, std::vector<std::uint8_t> &blob,
                          std::string &ownerAccount)
{
    if (expectedFileName.empty() || path.empty() || path.front() != '/' ||
        path.find_first_of(std::string("\"\0", 2)) != std::string::npos)
        return false;
    const std::optional<std::vector<std::string>> components = componentsOf(path);
    if (!components || components->empty() || components->back() != expectedFileName)
        return false;
    const posix::UniqueFd folder = openFolderWithoutLinks(*components);
    if (!folder.valid())
        return false;
    // Non-blocking, so that a FIFO under the name cannot hang the reader.
    posix::UniqueFd fd(::openat(folder.get(), expectedFileName.c_str(),
                                O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info
    {
    };
    struct stat folderInfo
    {
    };
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || ::fstat(folder.get(), &folderInfo) != 0 ||
        !S_ISREG(info.st_mode) || info.st_nlink != 1 || info.st_size < 0 ||
        static_cast<unsigned long long>(info.st_size) > protectedFileLimit ||
        isOnFileSystemOfOthers(fd.get()) || isMountPoint(fd.get(), info, folderInfo))
        return false;
    const std::string owner = std::to_string(info.st_uid);
    if (owner != (requiredOwner.empty() ? std::to_string(folderInfo.st_uid) : requiredOwner))
        return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(info.st_size));
    if (!posix::readFully(fd.get(), bytes.data(), bytes.size())) {
        secureZero(bytes);
        return false;
    }
    blob = std::move(bytes);
    ownerAccount = owner;
    return true;
}

} // namespace platform
