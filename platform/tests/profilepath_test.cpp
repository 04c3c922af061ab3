#include "platform/profilepath.h"
#include "tempdir.h"

#include <doctest.h>

#include <filesystem>

namespace {

const std::string fileName = "tnel_0123456789abcdef0123.vless.dpapi";

} // namespace

TEST_CASE("a profile path is accepted only when it names the expected local file")
{
    TempDir directory;
    const std::string good = directory.file(fileName);
    writeRaw(good, bytesOf("blob"));
    std::filesystem::create_directories(directory.file("sub"));
    writeRaw(directory.file("tnel_0123456789ABCDEF0123.vless.dpapi.x"), bytesOf("blob"));
    writeRaw(directory.file("other.bin"), bytesOf("secret"));
    std::error_code linkError;
    std::filesystem::create_symlink(directory.file("other.bin"), directory.file("sub/" + fileName),
                                    linkError);
    // Wine has no symbolic links; the row below then checks a plain missing file.
    if (linkError)
        MESSAGE("no symbolic links on this system: the link row checks a missing file");

    struct Row
    {
        const char *name;
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
        // A link named right that leads to another file must not pass as the profile.
        {"link to another file", directory.file("sub/" + fileName), false},
#ifndef _WIN32
        {"relative path", fileName, false},
        {"network-looking double slash", "//server/share/" + fileName, false},
#endif
    };
    for (const Row &row : rows) {
        CAPTURE(row.name);
        CHECK(platform::isLocalProfilePath(row.path, fileName) == row.accepted);
    }
    CHECK_FALSE(platform::isLocalProfilePath(good, ""));
}

TEST_CASE("the canonical path resolves links and relative parts")
{
    TempDir directory;
    const std::string good = directory.file(fileName);
    writeRaw(good, bytesOf("blob"));
    std::filesystem::create_directories(directory.file("sub"));
    const std::string canonical = platform::canonicalFilePath(good);
    REQUIRE_FALSE(canonical.empty());
    CHECK(platform::canonicalFilePath(directory.path() + "/sub/../" + fileName) == canonical);
    CHECK(platform::canonicalFilePath(directory.file("absent")).empty());
    CHECK(platform::canonicalFilePath("").empty());
}
