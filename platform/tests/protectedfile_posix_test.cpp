#include "platform/protectedfile.h"

#include "tempdir.h"

#include <doctest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using platform::readProtectedFile;
using platform::writeProtectedFileAtomically;

namespace {

// Every test of this executable keeps its user key in a temporary configuration directory, never
// in the account's real one. Set before main, so the portable suite uses it too.
struct KeyHome
{
    KeyHome() { ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1); }
    TempDir dir;
};
const KeyHome keyHome;

struct stat statOf(const std::string &path)
{
    struct stat info
    {
    };
    REQUIRE(::lstat(path.c_str(), &info) == 0);
    return info;
}

// Points the user key at another configuration directory for one scope.
class OtherKeyHome
{
public:
    explicit OtherKeyHome(const std::string &home) { ::setenv("XDG_CONFIG_HOME", home.c_str(), 1); }
    ~OtherKeyHome() { ::setenv("XDG_CONFIG_HOME", keyHome.dir.path().c_str(), 1); }
};

bool writeUser(const std::string &path, const std::string &text)
{
    return writeProtectedFileAtomically(path, bytesOf(text), "SolvikVPN", false, {});
}

} // namespace

TEST_CASE("owner-only files are mode 0600 and owned by this account")
{
    TempDir dir;
    const std::string path = dir.file("session.dpapi");
    const mode_t old = ::umask(0);
    const bool written = writeUser(path, "{}");
    ::umask(old);
    REQUIRE(written);
    const struct stat info = statOf(path);
    CHECK((info.st_mode & 07777) == 0600);
    CHECK(info.st_uid == ::geteuid());
    CHECK(platform::currentAccountId() == std::to_string(::geteuid()));
}

TEST_CASE("the blob is 46 bytes plus description plus plaintext, description in clear")
{
    TempDir dir;
    const std::string path = dir.file("format.dpapi");
    REQUIRE(writeProtectedFileAtomically(path, std::vector<std::uint8_t>(1000, 1),
                                         "tnel_00112233445566778899", true, {}));
    const std::vector<std::uint8_t> raw = readRaw(path);
    CHECK(raw.size() == 46 + 25 + 1000);
    CHECK(std::string(raw.begin() + 6, raw.begin() + 31) == "tnel_00112233445566778899");

    // The description is authenticated: editing it in place breaks the blob.
    std::vector<std::uint8_t> edited = raw;
    edited[6] = 'T';
    writeRaw(path, edited);
    CHECK(readProtectedFile(path).empty());
    // So is the scope byte.
    edited = raw;
    edited[3] = 0;
    writeRaw(path, edited);
    CHECK(readProtectedFile(path).empty());
    // And the length: the tag must be the last 16 bytes.
    edited = raw;
    edited.push_back(0);
    writeRaw(path, edited);
    CHECK(readProtectedFile(path).empty());
    // An unknown format version is not guessed at.
    edited = raw;
    edited[2] = 2;
    writeRaw(path, edited);
    CHECK(readProtectedFile(path).empty());
    writeRaw(path, raw);
    CHECK(readProtectedFile(path).size() == 1000);
}

TEST_CASE("the user key: created once, private, bound to its account")
{
    TempDir dir;
    const std::string keyPath = keyHome.dir.file("solvikvpn/protect.key");
    const std::string path = dir.file("session.dpapi");
    REQUIRE(writeUser(path, "first"));
    const std::vector<std::uint8_t> key = readRaw(keyPath);
    CHECK(key.size() == 32);
    CHECK((statOf(keyPath).st_mode & 07777) == 0600);
    CHECK((statOf(keyHome.dir.file("solvikvpn")).st_mode & 0077) == 0);
    REQUIRE(writeUser(path, "second"));
    CHECK(readRaw(keyPath) == key);

    SUBCASE("another account's key (another key file) cannot read the file")
    {
        TempDir other;
        OtherKeyHome home(other.path());
        CHECK(readProtectedFile(path).empty());
        // Reading never creates a key; writing does, and that key is a different one.
        CHECK_FALSE(exists(other.file("solvikvpn/protect.key")));
        REQUIRE(writeUser(dir.file("other.dpapi"), "theirs"));
        CHECK(readRaw(other.file("solvikvpn/protect.key")) != key);
        CHECK(readProtectedFile(path).empty());
    }
    SUBCASE("machine scope does not depend on the user key")
    {
        const std::string machine = dir.file("tnel.profile");
        REQUIRE(writeProtectedFileAtomically(machine, bytesOf("m"), "tnel", true, {}));
        TempDir other;
        OtherKeyHome home(other.path());
        CHECK(readProtectedFile(machine) == bytesOf("m"));
    }
    SUBCASE("a key readable by others is refused for reading and writing")
    {
        for (const mode_t mode : {0640, 0604, 0660}) {
            CAPTURE(mode);
            REQUIRE(::chmod(keyPath.c_str(), mode) == 0);
            CHECK(readProtectedFile(path).empty());
            CHECK_FALSE(writeUser(dir.file("new.dpapi"), "x"));
        }
        REQUIRE(::chmod(keyPath.c_str(), 0600) == 0);
        CHECK(readProtectedFile(path) == bytesOf("second"));
    }
    SUBCASE("a key of the wrong size or behind a symbolic link is refused")
    {
        TempDir other;
        OtherKeyHome home(other.path());
        REQUIRE(::mkdir(other.file("solvikvpn").c_str(), 0700) == 0);
        REQUIRE(::symlink(keyPath.c_str(), other.file("solvikvpn/protect.key").c_str()) == 0);
        CHECK(readProtectedFile(path).empty());
        CHECK_FALSE(writeUser(dir.file("new.dpapi"), "x"));
        REQUIRE(::unlink(other.file("solvikvpn/protect.key").c_str()) == 0);
        writeRaw(other.file("solvikvpn/protect.key"), std::vector<std::uint8_t>(31, 1));
        REQUIRE(::chmod(other.file("solvikvpn/protect.key").c_str(), 0600) == 0);
        CHECK_FALSE(writeUser(dir.file("new.dpapi"), "x"));
    }
    SUBCASE("a key owned by another account is refused")
    {
        if (::geteuid() != 0) {
            MESSAGE("needs root to give the key file away; skipped");
            return;
        }
        REQUIRE(::chown(keyPath.c_str(), 65534, 65534) == 0);
        CHECK(readProtectedFile(path).empty());
        CHECK_FALSE(writeUser(dir.file("new.dpapi"), "x"));
        REQUIRE(::chown(keyPath.c_str(), 0, 0) == 0);
        CHECK(readProtectedFile(path) == bytesOf("second"));
    }
}

TEST_CASE("a file left for a reader is that reader's, mode 0400")
{
    TempDir dir;
    const std::string target = dir.file("tnel.error");
    REQUIRE(writeProtectedFileAtomically(target, bytesOf("e"), "tnel", true,
                                         std::to_string(::geteuid())));
    CHECK((statOf(target).st_mode & 07777) == 0400);
    CHECK(statOf(target).st_uid == ::geteuid());

    if (::geteuid() == 0) {
        // The service runs as root and leaves the file to the account that wrote the profile.
        REQUIRE(writeProtectedFileAtomically(target, bytesOf("e"), "tnel", true, "65534"));
        CHECK(statOf(target).st_uid == 65534);
        CHECK((statOf(target).st_mode & 07777) == 0400);
    } else {
        // As an ordinary account, giving the file away fails, and so does the write.
        CHECK_FALSE(writeProtectedFileAtomically(target, bytesOf("x"), "tnel", true, "0"));
        CHECK_FALSE(exists(target + ".tmp"));
        CHECK(readProtectedFile(target) == bytesOf("e"));
    }
}

TEST_CASE("the new file never inherits a planted temporary file's inode or permissions")
{
    TempDir dir;
    const std::string path = dir.file("session.dpapi");
    const std::string temporary = path + ".tmp";
    const std::string victim = dir.file("victim");
    writeRaw(victim, bytesOf("precious"));

    SUBCASE("symbolic link")
    {
        REQUIRE(::symlink(victim.c_str(), temporary.c_str()) == 0);
    }
    SUBCASE("hard link")
    {
        REQUIRE(::link(victim.c_str(), temporary.c_str()) == 0);
    }
    SUBCASE("world-readable leftover")
    {
        writeRaw(temporary, bytesOf("stale"));
        REQUIRE(::chmod(temporary.c_str(), 0666) == 0);
    }
    REQUIRE(writeUser(path, "secret"));
    CHECK(readRaw(victim) == bytesOf("precious"));
    CHECK((statOf(path).st_mode & 07777) == 0600);
    CHECK(readProtectedFile(path) == bytesOf("secret"));
    CHECK_FALSE(exists(temporary));
}

TEST_CASE("reading a FIFO or an oversized sparse file returns at once")
{
    TempDir dir;
    const std::string fifo = dir.file("fifo.dpapi");
    REQUIRE(::mkfifo(fifo.c_str(), 0600) == 0);
    CHECK(readProtectedFile(fifo).empty());

    const std::string huge = dir.file("huge.dpapi");
    writeRaw(huge, {});
    REQUIRE(::truncate(huge.c_str(), 1LL << 40) == 0);
    CHECK(readProtectedFile(huge).empty());
}

TEST_CASE("a protected file is read only as itself: no link to it, and no one else's")
{
    TempDir dir;
    const std::string path = dir.file("state.dpapi");
    REQUIRE(writeUser(path, "secret"));
    const std::string symbolic = dir.file("symbolic.dpapi");
    const std::string hard = dir.file("hard.dpapi");
    REQUIRE(::symlink(path.c_str(), symbolic.c_str()) == 0);
    CHECK(readProtectedFile(symbolic).empty());
    REQUIRE(::link(path.c_str(), hard.c_str()) == 0);
    CHECK(readProtectedFile(hard).empty());
    CHECK(readProtectedFile(path).empty());
    REQUIRE(::unlink(hard.c_str()) == 0);
    CHECK(readProtectedFile(path) == bytesOf("secret"));
    // A file of another account is refused (only root can give one away to test it).
    if (::geteuid() == 0) {
        REQUIRE(::chown(path.c_str(), 4242, static_cast<gid_t>(-1)) == 0);
        CHECK(readProtectedFile(path).empty());
    }
}
