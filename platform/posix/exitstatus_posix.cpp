#include "platform/exitstatus.h"

#include "platform/winerror.h"

#include <array>
#include <cstddef>

namespace platform {

namespace {

// Numbers below `firstCarried` pass unchanged; the ones the programs report above that travel in
// the reserved range that starts there, in this order. Anything else arrives as `unknownStatus`.
constexpr int firstCarried = 200;
constexpr int unknownStatus = 255;
constexpr std::array<std::uint32_t, 14> carried = {
    winerror::serviceRequestTimeout,
    winerror::serviceNoThread,
    winerror::serviceAlreadyRunning,
    winerror::serviceDoesNotExist,
    winerror::serviceCannotAcceptControl,
    winerror::serviceNotActive,
    winerror::failedServiceControllerConnect,
    winerror::processAborted,
    winerror::serviceMarkedForDelete,
    winerror::serviceExists,
    winerror::cancelled,
    winerror::connectionAborted,
    winerror::duplicateServiceName,
    winerror::serviceDependencyFailed,
};
static_assert(firstCarried + carried.size() < unknownStatus);

} // namespace

int toExitStatus(std::uint32_t code)
{
    if (code < firstCarried) {
        return static_cast<int>(code);
    }
    for (std::size_t i = 0; i < carried.size(); ++i) {
        if (carried[i] == code) {
            return firstCarried + static_cast<int>(i);
        }
    }
    return unknownStatus;
}

std::uint32_t fromExitStatus(int status)
{
    const int index = status - firstCarried;
    if (index >= 0 && static_cast<std::size_t>(index) < carried.size()) {
        return carried[static_cast<std::size_t>(index)];
    }
    return static_cast<std::uint32_t>(status);
}

} // namespace platform
