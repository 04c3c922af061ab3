#include "platform/posix/enginegroup.h"

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::enginegroup {

namespace {

constexpr char cgroupRoot[] = "/sys/fs/cgroup";
constexpr char groupName[] = "solvikvpn-engine";

// The mount point of the unified hierarchy: /sys/fs/cgroup itself, or a folder below it on
// systems that mount both hierarchies.
std::optional<std::string> unifiedMount()
{
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    while (std::getline(mounts, line)) {
        // "id parent major:minor root mount-point options ... - type source super-options"
        const std::size_t separator = line.find(" - ");
        if (separator == std::string::npos || line.compare(separator + 3, 8, "cgroup2 ") != 0)
            continue;
        std::istringstream fields(line.substr(0, separator));
        std::string id, parent, device, root, mountPoint;
        fields >> id >> parent >> device >> root >> mountPoint;
        const std::string prefix = cgroupRoot;
        if (root == "/" &&
            (mountPoint == prefix || mountPoint.compare(0, prefix.size() + 1, prefix + '/') == 0))
            return mountPoint;
    }
    return std::nullopt;
}

std::optional<std::string> groupDirectory()
{
    const std::optional<std::string> mount = unifiedMount();
    if (!mount)
        return std::nullopt;
    return *mount + '/' + groupName;
}

} // namespace

std::optional<std::string> prepare()
{
    const std::optional<std::string> directory = groupDirectory();
    if (!directory || (::mkdir(directory->c_str(), 0755) != 0 && errno != EEXIST))
        return std::nullopt;
    struct stat status
    {
    };
    if (::lstat(directory->c_str(), &status) != 0 || !S_ISDIR(status.st_mode))
        return std::nullopt;
    const std::size_t rootLength = sizeof cgroupRoot;
    return directory->substr(rootLength);
}

int openMembership()
{
    const std::optional<std::string> directory = prepare() ? groupDirectory() : std::nullopt;
    if (!directory) {
        errno = ENOENT;
        return -1;
    }
    return ::open((*directory + "/cgroup.procs").c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
}

} // namespace platform::enginegroup
