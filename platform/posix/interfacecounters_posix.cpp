#include "platform/interfacecounters.h"

#include "platform/posix/sysfscounters.h"

namespace platform {

std::optional<InterfaceCounters> readInterfaceCounters(const std::string &alias)
{
    return posix::readSysfsCounters("/sys/class/net", alias);
}

} // namespace platform
