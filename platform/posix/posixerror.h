#pragma once

#include <cstdint>

namespace platform {

// The Windows error number closest to a POSIX errno value, so both halves report alike.
std::uint32_t windowsErrorFromErrno(int error);

} // namespace platform
