#include "platform/crypto.h"

#include <doctest.h>

#include <algorithm>
#include <array>
#include <set>

TEST_CASE("secureZero clears every byte of each buffer kind and keeps its size")
{
    std::array<std::uint8_t, 37> raw{};
    raw.fill(0xA5);
    platform::secureZero(raw.data(), raw.size());
    CHECK(std::all_of(raw.begin(), raw.end(), [](std::uint8_t b) { return b == 0; }));

    // Long enough to live on the heap rather than in the small-string buffer.
    std::string text(100, 'k');
    platform::secureZero(text);
    CHECK(text.size() == 100);
    CHECK(text.find_first_not_of('\0') == std::string::npos);

    std::vector<std::uint8_t> bytes(4096, 0x7F);
    platform::secureZero(bytes);
    CHECK(bytes.size() == 4096);
    CHECK(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; }));

    // Empty buffers and a null pointer are harmless.
    std::string empty;
    std::vector<std::uint8_t> none;
    platform::secureZero(empty);
    platform::secureZero(none);
    platform::secureZero(nullptr, 0);
}

TEST_CASE("randomBytes fills buffers with fresh, well-spread values")
{
    CHECK(platform::randomBytes(nullptr, 0));

    std::array<std::uint8_t, 32> first{};
    std::array<std::uint8_t, 32> second{};
    REQUIRE(platform::randomBytes(first.data(), first.size()));
    REQUIRE(platform::randomBytes(second.data(), second.size()));
    CHECK(first != second);
    CHECK(std::any_of(first.begin(), first.end(), [](std::uint8_t b) { return b != 0; }));

    // 64 KiB of a working generator hits every byte value; a stuck or short fill does not.
    std::vector<std::uint8_t> large(65536, 0);
    REQUIRE(platform::randomBytes(large.data(), large.size()));
    const std::set<std::uint8_t> seen(large.begin(), large.end());
    CHECK(seen.size() == 256);
    // The tail is filled too (a fill that stops early leaves zeros at the end).
    CHECK(std::any_of(large.end() - 64, large.end(), [](std::uint8_t b) { return b != 0; }));
}
