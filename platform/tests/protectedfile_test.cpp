#include "platform/protectedfile.h"

#include "tempdir.h"

#include <doctest.h>

#include <algorithm>
#include <filesystem>

using platform::readProtectedFile;
using platform::writeProtectedFileAtomically;

namespace {

bool writeUser(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    return writeProtectedFileAtomically(path, bytes, "SolvikVPN", false, {});
}

std::uintmax_t fileSize(const std::string &path)
{
    return std::filesystem::file_size(path);
}

// Finds a plaintext length and description whose protected file is exactly `target` bytes, by
// measuring real writes: the blob overhead differs between the platforms (and DPAPI pads to the
// cipher block), so it is not assumed. Leaves that file at `path`.
bool writeExactSize(const std::string &path, std::uintmax_t target, std::size_t &plainSize,
                    std::string &description)
{
    for (std::size_t extra = 0; extra < 16; ++extra) {
        description = std::string("tnel_size") + std::string(extra, 'x');
        if (!writeProtectedFileAtomically(path, {}, description, true, {}))
            return false;
        std::intmax_t length =
            static_cast<std::intmax_t>(target) - static_cast<std::intmax_t>(fileSize(path));
        for (int attempt = 0; attempt < 3 && length >= 0; ++attempt) {
            const std::vector<std::uint8_t> plain(static_cast<std::size_t>(length), 0x5A);
            if (!writeProtectedFileAtomically(path, plain, description, true, {}))
                return false;
            const std::uintmax_t size = fileSize(path);
            if (size == target) {
                plainSize = plain.size();
                return true;
            }
            length += static_cast<std::intmax_t>(target) - static_cast<std::intmax_t>(size);
        }
    }
    return false;
}

} // namespace

TEST_CASE("round trip at user and machine scope")
{
    TempDir dir;
    std::vector<std::uint8_t> binary(70000);
    for (std::size_t i = 0; i < binary.size(); ++i)
        binary[i] = static_cast<std::uint8_t>(i * 7 + 3);
    const struct
    {
        const char *name;
        std::vector<std::uint8_t> bytes;
    } payloads[] = {
        {"empty", {}},
        {"compact json", bytesOf(R"({"accessToken":"a.b.c","refreshToken":"r"})")},
        {"embedded zero bytes", {0, 1, 0, 2, 0}},
        {"binary 70000 bytes", binary},
    };
    for (const bool machine : {false, true}) {
        for (const auto &payload : payloads) {
            CAPTURE(machine);
            INFO("payload: " << std::string(payload.name));
            const std::string path = dir.file("roundtrip.dpapi");
            REQUIRE(writeProtectedFileAtomically(path, payload.bytes, "SolvikVPN", machine, {}));
            CHECK(readProtectedFile(path) == payload.bytes);
            CHECK_FALSE(exists(path + ".tmp"));
            // Plaintext never lands on disk as such.
            if (payload.bytes.size() > 8) {
                const std::vector<std::uint8_t> raw = readRaw(path);
                CHECK(std::search(raw.begin(), raw.end(), payload.bytes.begin(),
                                  payload.bytes.begin() + 8) == raw.end());
            }
        }
    }
}

TEST_CASE("a file of exactly 1 MiB is read; a valid blob one step larger is refused")
{
    TempDir dir;
    const std::string path = dir.file("limit.dpapi");
    std::size_t plainSize = 0;
    std::string description;
    REQUIRE(writeExactSize(path, platform::protectedFileLimit, plainSize, description));
    REQUIRE(fileSize(path) == platform::protectedFileLimit);
    CHECK(readProtectedFile(path) == std::vector<std::uint8_t>(plainSize, 0x5A));

    // The smallest valid blob over the limit (one byte over where the format has no padding,
    // one cipher block over with DPAPI) must be refused for its size alone.
    for (std::size_t more = 1; more <= 64; ++more) {
        REQUIRE(writeProtectedFileAtomically(
            path, std::vector<std::uint8_t>(plainSize + more, 0x5A), description, true, {}));
        if (fileSize(path) > platform::protectedFileLimit)
            break;
    }
    MESSAGE("smallest blob over the limit: " << fileSize(path) << " bytes");
    CHECK(fileSize(path) > platform::protectedFileLimit);
    CHECK(readProtectedFile(path).empty());
}

TEST_CASE("damaged, foreign or missing files read as empty without crashing")
{
    TempDir dir;
    const std::string good = dir.file("good.dpapi");
    // Large enough that the middle of the blob is ciphertext whatever the header looks like.
    REQUIRE(writeUser(good, bytesOf("{\"deviceSecret\":\"" + std::string(2000, 's') + "\"}")));
    const std::vector<std::uint8_t> blob = readRaw(good);
    REQUIRE(blob.size() > 2000);

    const auto flipped = [&](std::size_t at) {
        std::vector<std::uint8_t> copy = blob;
        copy[at] ^= 0x01;
        return copy;
    };
    const struct
    {
        const char *name;
        std::vector<std::uint8_t> content;
    } rows[] = {
        {"zero length", {}},
        {"one byte", {blob[0]}},
        {"truncated to half", {blob.begin(), blob.begin() + blob.size() / 2}},
        {"last byte cut", {blob.begin(), blob.end() - 1}},
        {"first byte flipped", flipped(0)},
        {"middle byte flipped", flipped(blob.size() / 2)},
        {"last byte flipped", flipped(blob.size() - 1)},
        {"plain text", bytesOf("{\"deviceId\":\"1234\"}")},
        {"random noise",
         [] {
             std::vector<std::uint8_t> noise(300);
             platform::randomBytes(noise.data(), noise.size());
             return noise;
         }()},
    };
    for (const auto &row : rows) {
        INFO("row: " << std::string(row.name));
        const std::string path = dir.file("damaged.dpapi");
        writeRaw(path, row.content);
        CHECK(readProtectedFile(path).empty());
    }
    CHECK(readProtectedFile(dir.file("missing.dpapi")).empty());
    CHECK(readProtectedFile(dir.path()).empty());
    CHECK(readProtectedFile("").empty());
    // The untouched original still reads, so the rows above failed for their damage alone.
    CHECK_FALSE(readProtectedFile(good).empty());
}

TEST_CASE("replacement is atomic and leaves no temporary file")
{
    TempDir dir;
    const std::string path = dir.file("session.dpapi");
    const std::string temporary = path + ".tmp";

    SUBCASE("a write over an existing file replaces it")
    {
        REQUIRE(writeUser(path, bytesOf("old")));
        REQUIRE(writeUser(path, bytesOf("new content")));
        CHECK(readProtectedFile(path) == bytesOf("new content"));
        CHECK_FALSE(exists(temporary));
    }
    SUBCASE("a stale temporary file is overwritten and does not survive")
    {
        REQUIRE(writeUser(path, bytesOf("old")));
        writeRaw(temporary, bytesOf("left over by a crash"));
        REQUIRE(writeUser(path, bytesOf("new")));
        CHECK(readProtectedFile(path) == bytesOf("new"));
        CHECK_FALSE(exists(temporary));
    }
    SUBCASE("a failed move keeps the target and removes the temporary file")
    {
        // A non-empty directory under the target name cannot be replaced by a file.
        std::filesystem::create_directory(path);
        writeRaw(path + "/keep", bytesOf("x"));
        CHECK_FALSE(writeUser(path, bytesOf("new")));
        CHECK(std::filesystem::is_directory(path));
        CHECK_FALSE(exists(temporary));
    }
    SUBCASE("a target in a missing directory fails")
    {
        CHECK_FALSE(writeUser(dir.file("no/such/dir/session.dpapi"), bytesOf("x")));
    }
    SUBCASE("an empty path or one with an embedded NUL is refused")
    {
        CHECK_FALSE(writeUser("", bytesOf("x")));
        CHECK_FALSE(writeUser(path + std::string(1, '\0') + "x", bytesOf("x")));
        CHECK_FALSE(exists(path));
    }
}

TEST_CASE("a file left for a reader: readable, and a reader that is no account is refused")
{
    TempDir dir;
    const std::string error = dir.file("tnel_0123456789abcdef0123.vless.dpapi.error.dpapi");
    const std::string reader = platform::currentAccountId();
    REQUIRE(writeProtectedFileAtomically(error, bytesOf("old"), "tnel", true, reader));
    CHECK(readProtectedFile(error) == bytesOf("old"));
    CHECK_FALSE(exists(error + ".tmp"));

    // Anything that could smuggle another entry into an access list, or name no account.
    for (const char *bad :
         {"not-an-account", "S-1-5-21-1)(A;;FA;;;WD", "1000 ", "-1", "S-1-", "0x3e8"}) {
        CAPTURE(bad);
        CHECK_FALSE(writeProtectedFileAtomically(error, bytesOf("new"), "tnel", true, bad));
        CHECK_FALSE(exists(error + ".tmp"));
        CHECK(readProtectedFile(error) == bytesOf("old"));
    }
}

TEST_CASE("currentAccountId names the account")
{
    CHECK_FALSE(platform::currentAccountId().empty());
}
