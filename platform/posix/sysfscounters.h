#pragma once

#include "platform/interfacecounters.h"

#include <optional>
#include <string>

namespace platform::posix {

// The counters of interface `alias` as found under `root`, a folder laid out like
// /sys/class/net. Only the folder named exactly `alias` inside `root` is read; an alias that
// could name anything else, or one longer than the kernel allows, gives nothing.
std::optional<InterfaceCounters> readSysfsCounters(const std::string &root,
                                                   const std::string &alias);

} // namespace platform::posix
