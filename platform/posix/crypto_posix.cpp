#include "platform/crypto.h"

#include <sodium.h>

namespace platform {

void secureZero(void *data, std::size_t size)
{
    if (data && size)
        sodium_memzero(data, size);
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
    // sodium_init is idempotent and thread-safe; it opens the kernel's generator once.
    if (sodium_init() < 0)
        return false;
    if (size)
        randombytes_buf(out, size);
    return true;
}

} // namespace platform
