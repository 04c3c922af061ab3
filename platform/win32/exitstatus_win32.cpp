#include "platform/exitstatus.h"

namespace platform {

int toExitStatus(std::uint32_t code)
{
    return static_cast<int>(code);
}

std::uint32_t fromExitStatus(int status)
{
    return static_cast<std::uint32_t>(status);
}

} // namespace platform
