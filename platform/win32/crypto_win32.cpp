#include "platform/crypto.h"

#include <windows.h>

#include <bcrypt.h>

#include <limits>

namespace platform {

void secureZero(void *data, std::size_t size)
{
    if (data && size)
        SecureZeroMemory(data, size);
}

void secureZero(std::string &text)
{
    secureZero(text.data(), text.size());
}

void secureZero(std::vector<std::uint8_t> &bytes)
{
    secureZero(bytes.data(), bytes.size());
}

bool randomBytes(std::uint8_t *out, std::size_t size)
{
    // BCryptGenRandom takes a ULONG count, so larger requests are served in pieces.
    constexpr std::size_t chunk = std::numeric_limits<ULONG>::max();
    while (size > 0) {
        const ULONG n = static_cast<ULONG>(size < chunk ? size : chunk);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out, n, BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return false;
        out += n;
        size -= n;
    }
    return true;
}

} // namespace platform
