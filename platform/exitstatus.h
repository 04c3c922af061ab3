#pragma once

#include <cstdint>

namespace platform {

// The programs report outcomes as Windows error numbers, which are 32-bit process exit codes on
// Windows but do not fit a POSIX exit status (8 bits). `toExitStatus` gives the value a program
// returns from main; `fromExitStatus` turns the status its parent sees back into the number.
// On Windows both are the identity.
int toExitStatus(std::uint32_t code);
std::uint32_t fromExitStatus(int status);

} // namespace platform
