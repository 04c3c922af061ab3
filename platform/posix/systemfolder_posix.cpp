#include "platform/systemfolder.h"

#include "platform/posix/fileio.h"
#include "platform/posix/servicerecord.h"
#include "platform/testswitch.h"
#include "platform/winerror.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr char errorDirectoryName[] = "tunnel-errors";

bool isAdministrator(uid_t owner)
{
    return owner == 0 || owner == ::geteuid();
}

// Walks `path` from "/" down, looking at every entry as found (lstat). Each entry must belong to
// an administrator; the folder holding it must not let others replace it (no group or other
// write unless sticky); the last entry itself, unless it is a link, must not be writable by
// group or others. `sawLink` tells the caller to check the resolved path too.
bool checkEntries(const std::string &path, bool &sawLink)
{
    if (path.empty() || path.front() != '/')
        return false;
    struct stat holder
    {
    };
    if (::lstat("/", &holder) != 0 || !S_ISDIR(holder.st_mode) || !isAdministrator(holder.st_uid))
        return false;
    struct stat entry = holder;
    std::string current;
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string component = path.substr(start, end - start);
        start = end + 1;
        if (component.empty())
            continue;
        if (component == "." || component == "..")
            return false;
        if ((holder.st_mode & 022) != 0 && (holder.st_mode & S_ISVTX) == 0)
            return false;
        current += '/' + component;
        if (::lstat(current.c_str(), &entry) != 0 || !isAdministrator(entry.st_uid))
            return false;
        if (S_ISLNK(entry.st_mode)) {
            sawLink = true;
            // What lies below a link is reached through it; stat follows it to go on.
            if (start <= path.size() && ::stat(current.c_str(), &entry) != 0)
                return false;
        }
        if (start <= path.size() && !S_ISDIR(entry.st_mode))
            return false;
        holder = entry;
    }
    return S_ISLNK(entry.st_mode) || (entry.st_mode & 022) == 0;
}

} // namespace

bool isPrivilegedProcess()
{
    return ::geteuid() == 0;
}

bool isChangeableOnlyByAdministrators(const std::string &path)
{
    bool sawLink = false;
    if (!checkEntries(path, sawLink))
        return false;
    if (!sawLink)
        return true;
    char resolved[PATH_MAX];
    if (!::realpath(path.c_str(), resolved))
        return false;
    bool linkAgain = false;
    return checkEntries(resolved, linkAgain) && !linkAgain;
}

std::string tunnelErrorDirectory()
{
    return servicerecord::configuredRoot() + '/' + errorDirectoryName;
}

std::uint32_t prepareTunnelErrorDirectory(const std::string &)
{
    std::string root;
    if (servicerecord::openRoot(root) != winerror::success)
        return winerror::accessDenied;
    const std::string directory = root + '/' + errorDirectoryName;
    if (::mkdir(directory.c_str(), 0755) == 0) {
        // The mask may have taken read access away; the client must be able to read its file.
        posix::UniqueFd created(
            ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!created.valid() || ::fchmod(created.get(), 0755) != 0)
            return winerror::accessDenied;
    } else if (errno != EEXIST) {
        return winerror::accessDenied;
    }
    struct stat info
    {
    };
    // The same trust as on Windows, where tests under Wine need it (test builds only); it must
    // still be a real folder.
    if (::lstat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        !(isChangeableOnlyByAdministrators(directory) || testSwitch(TestSwitch::TrustFolders)))
        return winerror::accessDenied;
    return winerror::success;
}

} // namespace platform
