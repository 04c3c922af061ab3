#include "platform/profilepath.h"
#include "platform/protectedfile.h"
#include "tempdir.h"

#include <doctest.h>

#include <filesystem>

#ifndef _WIN32
#include "swapper.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#endif

namespace {

const std::string fileName = "tnel_0123456789abcdef0123.vless.dpapi";

bool accepted(const std::string &path, const std::string &expected = fileName,
              const std::string &requiredOwner = {})
{
    std::vector<std::uint8_t> blob;
    std::string owner;
    return platform::readLocalProfileFile(path, expected, requiredOwner, blob, owner);
}

} // namespace

TEST_CASE("the profile file is read only when the open file is the expected local file")
{
    TempDir directory;
    const std::string good = directory.file(fileName);
    writeRaw(good, bytesOf("blob"));
    std::filesystem::create_directories(directory.file("sub"));
    std::filesystem::create_directories(directory.file("real"));
    writeRaw(directory.file("real/" + fileName), bytesOf("blob"));
    writeRaw(directory.file("tnel_0123456789ABCDEF0123.vless.dpapi.x"), bytesOf("blob"));
    writeRaw(directory.file("other.bin"), bytesOf("secret"));
    std::filesystem::create_directories(directory.file("big"));
    writeRaw(directory.file("big/" + fileName),
             std::vector<std::uint8_t>(platform::protectedFileLimit + 1, 'x'));
    std::error_code linkError;
    std::filesystem::create_symlink(directory.file("other.bin"), directory.file("sub/" + fileName),
                                    linkError);
    std::filesystem::create_directory_symlink(directory.file("real"), directory.file("linked"),
                                              linkError);
    std::filesystem::create_directories(directory.file("hard"));
    writeRaw(directory.file("hard/first"), bytesOf("blob"));
    std::filesystem::create_hard_link(directory.file("hard/first"),
                                      directory.file("hard/" + fileName), linkError);
    // Wine has no symbolic links; those rows then check a missing file.
    if (linkError)
        MESSAGE("links cannot be made here (" << linkError.message()
                                              << "): the link rows check a missing file");

    struct Row
    {
        std::string name;
        std::string path;
        bool accepted;
    };
    const Row rows[] = {
        {"the file itself", good, true},
        {"missing file", directory.file("sub/missing/" + fileName), false},
        {"name differs in letter case", directory.file("tnel_0123456789ABCDEF0123.vless.dpapi"),
         false},
        {"other file name", directory.file("other.bin"), false},
        {"a directory of that name", directory.path() + "/sub", false},
        {"double quote", directory.path() + "/\"" + fileName, false},
        {"parent component", directory.file("sub/../" + fileName), false},
        {"dot component", directory.file("./" + fileName), false},
        {"larger than 1 MiB", directory.file("big/" + fileName), false},
        // A name that leads elsewhere: the last component, a folder on the way, a second name.
        {"link to another file", directory.file("sub/" + fileName), false},
        {"through a linked folder", directory.file("linked/" + fileName), false},
        {"one of two names of a file", directory.file("hard/" + fileName), false},
#ifdef _WIN32
        {"network path", "\\\\server\\share\\" + fileName, false},
        {"device path", "\\\\?\\" + good, false},
        {"device namespace", "\\\\.\\" + good, false},
        {"global root", "\\\\?\\GLOBALROOT\\??\\" + good, false},
#else
        {"relative path", fileName, false},
        {"network-looking double slash", "//server/share/" + fileName, false},
        {"empty component", directory.path() + "//" + fileName, false},
        {"through a magic link of /proc", "/proc/self/root" + good, false},
#endif
    };
    for (const Row &row : rows) {
        CAPTURE(row.name);
        CHECK(accepted(row.path) == row.accepted);
    }
    CHECK_FALSE(accepted(good, ""));

    std::vector<std::uint8_t> blob;
    std::string owner;
    REQUIRE(platform::readLocalProfileFile(good, fileName, {}, blob, owner));
    CHECK(blob == bytesOf("blob"));
    CHECK(owner == platform::currentAccountId());
}

#ifndef _WIN32

TEST_CASE("a path swapped for links while it is read never yields another account's file")
{
    if (::geteuid() != 0) {
        MESSAGE("not root: the attacking account cannot be played; nothing to race");
        return;
    }
    TempDir root;
    REQUIRE(::chmod(root.path().c_str(), 0755) == 0);
    // Another tunnel's file, in a folder only root can read.
    std::filesystem::create_directories(root.file("victim"));
    REQUIRE(::chmod(root.file("victim").c_str(), 0700) == 0);
    writeRaw(root.file("victim/" + fileName), bytesOf("VICTIM"));
    // The attacker's data directory: its own file, and links named alike to the victim's.
    const std::string home = root.file("home");
    std::filesystem::create_directories(home + "/own");
    writeRaw(home + "/own/" + fileName, bytesOf("ATTACKER"));
    std::filesystem::create_directory_symlink(root.file("victim"), home + "/lure");
    std::filesystem::create_symlink(root.file("victim/" + fileName), home + "/own/lure");
    const uid_t attacker = Swapper::attackerUid;
    for (const std::string &path : {home, home + "/own", home + "/own/" + fileName})
        REQUIRE(::chown(path.c_str(), attacker, attacker) == 0);
    REQUIRE(::lchown((home + "/lure").c_str(), attacker, attacker) == 0);
    REQUIRE(::lchown((home + "/own/lure").c_str(), attacker, attacker) == 0);

    // One swapper exchanges the folder with a link to the victim's, one the file with a link.
    Swapper folders(home + "/own", home + "/lure");
    Swapper files(home + "/own/" + fileName, home + "/own/lure");
    REQUIRE((folders.isRunning() && files.isRunning()));
    int own = 0;
    int victim = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (int round = 0; round < 5000 && std::chrono::steady_clock::now() < end; ++round) {
        std::vector<std::uint8_t> blob;
        std::string owner;
        if (!platform::readLocalProfileFile(home + "/own/" + fileName, fileName, {}, blob, owner))
            continue;
        if (blob == bytesOf("ATTACKER"))
            ++own;
        else
            ++victim;
    }
    INFO("reads of the attacker's own file: " << own);
    CHECK(victim == 0);
    CHECK(own > 0);
}

TEST_CASE("only the asking account's own file is read, never one bound over its name")
{
    if (::geteuid() != 0) {
        MESSAGE("not root: no other account's file can be made");
        return;
    }
    TempDir root;
    const std::string own = root.file("own");
    std::filesystem::create_directories(own);
    writeRaw(own + "/" + fileName, bytesOf("ATTACKER"));
    writeRaw(root.file(fileName), bytesOf("ROOT'S"));
    const std::string attacker = std::to_string(Swapper::attackerUid);
    for (const std::string &path : {own, own + "/" + fileName})
        REQUIRE(::chown(path.c_str(), Swapper::attackerUid, Swapper::attackerUid) == 0);

    struct Row
    {
        std::string name;
        std::string path;
        std::string requiredOwner;
        bool accepted;
    };
    const Row rows[] = {
        {"the asking account's file", own + "/" + fileName, attacker, true},
        {"the folder owner's file, read as root", own + "/" + fileName, "", true},
        {"another account's file", root.file(fileName), attacker, false},
        {"root's file in its folder, read as root", root.file(fileName), "", true},
        {"an account pkexec could not name", own + "/" + fileName, "-", false},
    };
    for (const Row &row : rows) {
        CAPTURE(row.name);
        CHECK(accepted(row.path, fileName, row.requiredOwner) == row.accepted);
    }
    REQUIRE(::chown(root.file(fileName).c_str(), Swapper::attackerUid, Swapper::attackerUid) == 0);
    CHECK_FALSE(accepted(root.file(fileName)));

    // A mount namespace of its own binds root's file over the attacker's name; the reader there
    // must refuse the name, whoever owns what lies under it.
    REQUIRE(::chown(root.file(fileName).c_str(), 0, 0) == 0);
    const pid_t child = ::fork();
    REQUIRE(child >= 0);
    if (child == 0) {
        const bool bound = ::unshare(CLONE_NEWNS) == 0 &&
                           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                           ::mount(root.file(fileName).c_str(), (own + "/" + fileName).c_str(),
                                   nullptr, MS_BIND, nullptr) == 0;
        ::_exit(!bound ? 2 : accepted(own + "/" + fileName, fileName, "0") ? 1 : 0);
    }
    int status = 0;
    REQUIRE(::waitpid(child, &status, 0) == child);
    REQUIRE(WIFEXITED(status));
    CHECK(WEXITSTATUS(status) == 0);
}

#endif
