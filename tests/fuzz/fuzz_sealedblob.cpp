// Feeds arbitrary bytes to the POSIX protected blob: its header reader and its opening must never
// read outside the input, and any bytes sealed at machine scope open again unchanged.
#include "fuzzrequire.h"
#include "platform/crypto.h"
#include "platform/posix/sealedblob.h"

#include <cstdint>
#include <vector>

namespace {

namespace sealedblob = platform::sealedblob;

// Magic, version, scope, description length; then nonce and tag.
constexpr std::size_t fixedHeader = 6;
constexpr std::size_t nonceAndTag = 24 + 16;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::uint8_t> bytes(data, data + size);
    const std::optional<sealedblob::Header> header = sealedblob::readHeader(bytes);
    if (header) {
        require(header->size == fixedHeader + header->description.size());
        require(header->size + nonceAndTag <= bytes.size());
    }
    // Unauthenticated bytes never open; whatever does must fit the blob it came from.
    std::vector<std::uint8_t> opened = sealedblob::unseal(bytes);
    require(opened.empty() ||
            (header && opened.size() == bytes.size() - header->size - nonceAndTag));
    platform::secureZero(opened);

    const std::optional<std::vector<std::uint8_t>> sealed =
        sealedblob::seal(bytes, "tnel_0123456789abcdef0123", sealedblob::Scope::Machine);
    require(sealed.has_value());
    std::vector<std::uint8_t> again = sealedblob::unseal(*sealed);
    require(again == bytes);
    platform::secureZero(again);
    return 0;
}
