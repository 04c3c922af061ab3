#include "platform/protectedfile.h"

#include "platform/win32/filesecurity.h"
#include "platform/win32/handles.h"
#include "platform/win32/widetext.h"
#include "tempdir.h"

#include <doctest.h>

#include <windows.h>

#include <aclapi.h>
#include <dpapi.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

using platform::readProtectedFile;
using platform::writeProtectedFileAtomically;
using platform::win32::LocalMemory;

namespace {

std::wstring wide(const std::string &text)
{
    return platform::win32::toWide(text).value_or(std::wstring());
}

struct Dacl
{
    bool read = false;
    bool present = false;
    bool isNull = false;
    bool isProtected = false;
    std::vector<std::pair<std::wstring, ACCESS_MASK>> allowed; // SID text, mask
    int otherAces = 0;
};

Dacl daclIn(PSECURITY_DESCRIPTOR descriptor)
{
    Dacl result;
    result.read = true;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    result.isProtected = (control & SE_DACL_PROTECTED) != 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted);
    result.present = present;
    result.isNull = present && acl == nullptr;
    for (DWORD i = 0; acl && i < acl->AceCount; ++i) {
        void *ace = nullptr;
        if (!GetAce(acl, i, &ace))
            continue;
        if (static_cast<ACE_HEADER *>(ace)->AceType != ACCESS_ALLOWED_ACE_TYPE) {
            ++result.otherAces;
            continue;
        }
        auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(ace);
        LocalMemory<LPWSTR> sid;
        ConvertSidToStringSidW(reinterpret_cast<PSID>(&allowed->SidStart), sid.receive());
        result.allowed.emplace_back(sid.get() ? sid.get() : L"?", allowed->Mask);
    }
    return result;
}

Dacl daclOf(const std::string &path)
{
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    PACL acl = nullptr;
    if (GetNamedSecurityInfoW(wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &acl, nullptr,
                              descriptor.receive()) != ERROR_SUCCESS)
        return {};
    return daclIn(descriptor.get());
}

bool runningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

const std::wstring systemSid = L"S-1-5-18";
const std::wstring administratorsSid = L"S-1-5-32-544";

// The owner-only list exactly: protected, LocalSystem, the Administrators and this account.
void checkExactlyOwnerOnly(const Dacl &dacl)
{
    REQUIRE(dacl.read);
    CHECK(dacl.present);
    CHECK_FALSE(dacl.isNull);
    CHECK(dacl.isProtected);
    CHECK(dacl.otherAces == 0);
    const std::vector<std::pair<std::wstring, ACCESS_MASK>> expected = {
        {systemSid, FILE_ALL_ACCESS},
        {administratorsSid, FILE_ALL_ACCESS},
        {wide(platform::currentAccountId()), FILE_ALL_ACCESS}};
    CHECK(dacl.allowed == expected);
}

// A file written with the owner-only list. Windows keeps the descriptor as given. Wine keeps no
// descriptor of its own: it maps the DACL to Unix mode bits and synthesises a DACL from them
// (SYSTEM and the owner, no protection flag, no Administrators), so there it can only show that
// the account has full access and nobody outside SY/BA/the account has any.
void checkOwnerOnlyOnDisk(const std::string &path)
{
    const Dacl dacl = daclOf(path);
    if (!runningUnderWine()) {
        checkExactlyOwnerOnly(dacl);
        return;
    }
    MESSAGE("Wine: file DACLs are synthesised from Unix modes; checking what it can show");
    REQUIRE(dacl.read);
    CHECK_FALSE(dacl.isNull);
    const std::wstring self = wide(platform::currentAccountId());
    bool selfFull = false;
    for (const auto &[sid, mask] : dacl.allowed) {
        INFO("ACE for " << platform::win32::toUtf8(sid));
        CHECK((sid == systemSid || sid == administratorsSid || sid == self));
        selfFull = selfFull || (sid == self && (mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS);
    }
    CHECK(selfFull);
}

// The DPAPI blob layout: version, provider GUID, master key version, master key GUID, flags.
DWORD blobFlags(const std::vector<std::uint8_t> &blob)
{
    DWORD flags = 0;
    if (blob.size() >= 44)
        std::memcpy(&flags, blob.data() + 40, sizeof flags);
    return flags;
}

bool containsUtf16(const std::vector<std::uint8_t> &blob, const std::wstring &text)
{
    const auto *begin = reinterpret_cast<const std::uint8_t *>(text.data());
    const std::vector<std::uint8_t> needle(begin, begin + text.size() * sizeof(wchar_t));
    return std::search(blob.begin(), blob.end(), needle.begin(), needle.end()) != blob.end();
}

} // namespace

TEST_CASE("the account id is the token user's SID")
{
    const std::string sid = platform::currentAccountId();
    CHECK(sid.rfind("S-1-5-21-", 0) == 0);
    CHECK(wide(sid) == platform::win32::currentSidText());
}

TEST_CASE("the owner-only descriptor: protected DACL for SY, BA and the current SID")
{
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    REQUIRE(platform::win32::ownerOnlyDescriptor(descriptor));
    checkExactlyOwnerOnly(daclIn(descriptor.get()));
}

TEST_CASE("owner-only files carry that list, also when they replace a looser file")
{
    TempDir dir;
    const std::string path = dir.file("session.dpapi");
    REQUIRE(writeProtectedFileAtomically(path, bytesOf("{}"), "SolvikVPN", false, {}));
    checkOwnerOnlyOnDisk(path);

    // An ordinary new file grants more (inherited ACEs, or Everyone under Wine); replacing it
    // must not keep that list.
    const std::string loose = dir.file("loose.dpapi");
    writeRaw(loose, bytesOf("x"));
    const Dacl before = daclOf(loose);
    CHECK(before.allowed.size() > 0);
    REQUIRE(writeProtectedFileAtomically(loose, bytesOf("{}"), "SolvikVPN", false, {}));
    checkOwnerOnlyOnDisk(loose);
}

TEST_CASE("a file left for a reader: full access for SY and BA, read for the reader")
{
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    const std::string reader = "S-1-5-21-1-2-3-1001";
    REQUIRE(platform::win32::administratorsAndReaderDescriptor(reader, L"FR", descriptor));
    const Dacl dacl = daclIn(descriptor.get());
    CHECK(dacl.isProtected);
    CHECK(dacl.otherAces == 0);
    const std::vector<std::pair<std::wstring, ACCESS_MASK>> expected = {
        {systemSid, FILE_ALL_ACCESS},
        {administratorsSid, FILE_ALL_ACCESS},
        {wide(reader), FILE_GENERIC_READ}};
    CHECK(dacl.allowed == expected);

    TempDir dir;
    const std::string error = dir.file("tnel.error");
    REQUIRE(writeProtectedFileAtomically(error, bytesOf("e"), "tnel", true,
                                         platform::currentAccountId()));
    CHECK(readProtectedFile(error) == bytesOf("e"));
    if (!runningUnderWine()) {
        const Dacl onDisk = daclOf(error);
        CHECK(onDisk.isProtected);
        CHECK(onDisk.allowed.size() == 3);
    } else {
        MESSAGE("Wine: file DACLs are synthesised from Unix modes; the descriptor is checked "
                "as built");
    }
}

TEST_CASE("DPAPI blobs: user and machine scope, description in clear, no own header")
{
    TempDir dir;
    const std::string user = dir.file("user.dpapi");
    const std::string machine = dir.file("machine.dpapi");
    REQUIRE(writeProtectedFileAtomically(user, bytesOf("u"), "SolvikVPN", false, {}));
    REQUIRE(writeProtectedFileAtomically(machine, bytesOf("m"), "tnel_0011", true, {}));

    const std::vector<std::uint8_t> userBlob = readRaw(user);
    const std::vector<std::uint8_t> machineBlob = readRaw(machine);
    if (runningUnderWine()) {
        MESSAGE("Wine does not record the machine-scope flag in the blob; not checked here");
    } else {
        CHECK((blobFlags(userBlob) & CRYPTPROTECT_LOCAL_MACHINE) == 0);
        CHECK((blobFlags(machineBlob) & CRYPTPROTECT_LOCAL_MACHINE) != 0);
    }
    CHECK(containsUtf16(userBlob, L"SolvikVPN"));
    CHECK(containsUtf16(machineBlob, L"tnel_0011"));

    // The file is exactly what CryptUnprotectData accepts, and nothing else is needed to read it.
    DATA_BLOB input{static_cast<DWORD>(machineBlob.size()), const_cast<BYTE *>(machineBlob.data())};
    DATA_BLOB output{0, nullptr};
    LPWSTR description = nullptr;
    REQUIRE(CryptUnprotectData(&input, &description, nullptr, nullptr, nullptr,
                               CRYPTPROTECT_UI_FORBIDDEN, &output));
    CHECK(std::wstring(description) == L"tnel_0011");
    CHECK(std::vector<std::uint8_t>(output.pbData, output.pbData + output.cbData) == bytesOf("m"));
    LocalFree(description);
    LocalFree(output.pbData);

    CHECK(readProtectedFile(user) == bytesOf("u"));
    CHECK(readProtectedFile(machine) == bytesOf("m"));
}

TEST_CASE("a write while a reader holds the file waits for it, and never leaves a mix")
{
    TempDir dir;
    const std::string path = dir.file("session.dpapi");
    REQUIRE(writeProtectedFileAtomically(path, bytesOf("old"), "SolvikVPN", false, {}));
    // A reader that shares read and delete access, as readProtectedFile does, for a moment.
    platform::win32::UniqueHandle reader(
        CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    REQUIRE(reader.valid());
    std::thread release([&reader] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        reader.close();
    });
    CHECK(writeProtectedFileAtomically(path, bytesOf("new"), "SolvikVPN", false, {}));
    release.join();
    CHECK(readProtectedFile(path) == bytesOf("new"));
    CHECK_FALSE(exists(path + ".tmp"));
}
