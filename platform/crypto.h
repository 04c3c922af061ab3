#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Overwrites memory with zero bytes in a way the optimiser cannot drop.
void secureZero(void *data, std::size_t size);
void secureZero(std::string &text);
void secureZero(std::vector<std::uint8_t> &bytes);

// Fills `size` bytes from the system's cryptographic random generator; false when it fails.
bool randomBytes(std::uint8_t *out, std::size_t size);

} // namespace platform
