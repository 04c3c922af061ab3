#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// One reading of a network interface's byte counters.
struct InterfaceCounters
{
    // Changes when the interface is removed and created again under the same alias.
    std::uint64_t identifier = 0;
    // The interface is operational (Windows: IfOperStatusUp; POSIX: operstate "up", or
    // "unknown" with the carrier up, as TUN devices report).
    bool up = false;
    std::uint64_t receivedOctets = 0;
    std::uint64_t sentOctets = 0;
};

// The counters of the interface whose alias is `alias` (UTF-8), read with one quick system query
// (Windows: ConvertInterfaceAliasToLuid, then GetIfEntry2; POSIX: /sys/class/net/<alias>/).
// Empty when no interface has that alias or its row cannot be read.
std::optional<InterfaceCounters> readInterfaceCounters(const std::string &alias);

} // namespace platform
