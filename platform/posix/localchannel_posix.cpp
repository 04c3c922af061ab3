#include "platform/localchannel.h"

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A real folder of this account that nobody else may enter.
bool isPrivateFolder(const std::string &path)
{
    struct stat info
    {
    };
    return lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 0077) == 0;
}

} // namespace

std::string userChannelName(const std::string &id)
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string folder = runtime && *runtime == '/' ? std::string(runtime) : std::string();
    if (folder.empty() || !isPrivateFolder(folder)) {
        folder = "/tmp/solvikvpn-" + std::to_string(geteuid());
        // An existing folder is used only when it passes the same test: another account may
        // have made it first.
        mkdir(folder.c_str(), 0700);
        if (!isPrivateFolder(folder))
            return {};
    }
    return folder + "/solvikvpn-" + id + ".socket";
}

} // namespace platform
