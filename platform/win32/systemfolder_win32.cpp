#include "platform/systemfolder.h"

#include "platform/testswitch.h"
#include "platform/win32/accessrules.h"
#include "platform/win32/filesecurity.h"
#include "platform/win32/handles.h"
#include "platform/win32/localfile.h"
#include "platform/win32/widetext.h"
#include "platform/winerror.h"

#include <aclapi.h>
#include <sddl.h>

#include <optional>
#include <vector>

namespace platform {

namespace win32 {

namespace {

constexpr ACCESS_MASK leafChangeRights = DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL |
                                         GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA |
                                         FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD;
constexpr ACCESS_MASK holderChangeRights =
    DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_ALL | FILE_DELETE_CHILD;

bool isTrustedInstaller(PSID sid)
{
    static const wchar_t text[] = L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    LocalMemory<PSID> trustedInstaller;
    return ConvertStringSidToSidW(text, trustedInstaller.receive()) &&
           EqualSid(sid, trustedInstaller.get());
}

bool isAdministratorSid(PSID sid)
{
    return IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || isTrustedInstaller(sid);
}

// CREATOR OWNER matters only in inheritable entries; OWNER RIGHTS grants to the owner, who is
// an administrator once the owner check passed.
bool grantsNobodyElse(PSID sid)
{
    return isAdministratorSid(sid) || IsWellKnownSid(sid, WinCreatorOwnerSid) ||
           IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
}

bool isDeniedEntry(BYTE type)
{
    return type == ACCESS_DENIED_ACE_TYPE || type == ACCESS_DENIED_OBJECT_ACE_TYPE ||
           type == ACCESS_DENIED_CALLBACK_ACE_TYPE ||
           type == ACCESS_DENIED_CALLBACK_OBJECT_ACE_TYPE;
}

} // namespace

bool descriptorLetsOthersChange(PSECURITY_DESCRIPTOR descriptor, EntryRole role)
{
    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    if (!descriptor || !GetSecurityDescriptorOwner(descriptor, &owner, &ownerDefaulted) || !owner ||
        !isAdministratorSid(owner))
        return true;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    // A null access list grants everyone everything.
    if (!GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) || !present || !acl)
        return true;
    const ACCESS_MASK change = role == EntryRole::Leaf ? leafChangeRights : holderChangeRights;
    for (DWORD index = 0; index < acl->AceCount; ++index) {
        void *entry = nullptr;
        if (!GetAce(acl, index, &entry))
            return true;
        const auto *header = static_cast<const ACE_HEADER *>(entry);
        if ((header->AceFlags & INHERIT_ONLY_ACE) || isDeniedEntry(header->AceType))
            continue;
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return true;
        auto *allowed = static_cast<ACCESS_ALLOWED_ACE *>(entry);
        if ((allowed->Mask & change) != 0 && !grantsNobodyElse(&allowed->SidStart))
            return true;
    }
    return false;
}

} // namespace win32

namespace {

using win32::EntryRole;
using win32::LocalMemory;
using win32::UniqueHandle;

// Opens the entry itself, a link or reparse point included, for its attributes and security.
bool openEntry(const std::wstring &path, UniqueHandle &handle, BY_HANDLE_FILE_INFORMATION &info)
{
    handle = UniqueHandle(
        CreateFileW(path.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return handle.valid() && GetFileInformationByHandle(handle.get(), &info);
}

bool entryLetsOthersChange(HANDLE handle, EntryRole role)
{
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    PSID owner = nullptr;
    PACL acl = nullptr;
    if (GetSecurityInfo(handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &acl, nullptr, descriptor.receive()) != ERROR_SUCCESS)
        return true;
    return win32::descriptorLetsOthersChange(descriptor.get(), role);
}

// Judges every entry of `path` from the drive's root down, as found. `sawLink` tells the caller
// to judge the resolved path as well.
bool checkEntries(const std::wstring &path, bool &sawLink)
{
    if (!win32::isDriveLetterPath(path) || win32::hasDotComponent(path))
        return false;
    std::vector<std::wstring> entries{path.substr(0, 3)};
    std::size_t start = 3;
    while (start < path.size()) {
        const std::size_t end = std::min(path.find(L'\\', start), path.size());
        if (end > start)
            entries.push_back(path.substr(0, end));
        start = end + 1;
    }
    for (std::size_t index = 0; index < entries.size(); ++index) {
        const bool last = index + 1 == entries.size();
        UniqueHandle handle;
        BY_HANDLE_FILE_INFORMATION info{};
        if (!openEntry(entries[index], handle, info))
            return false;
        const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        sawLink = sawLink || link;
        // Whoever may write a reparse point may point it elsewhere: judged like the object.
        if (entryLetsOthersChange(handle.get(), last || link ? EntryRole::Leaf : EntryRole::Holder))
            return false;
        if (!last && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return false;
    }
    return true;
}

std::wstring resolvedPath(const std::wstring &path)
{
    UniqueHandle handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle.valid() ? win32::finalPathOf(handle.get()) : std::wstring();
}

} // namespace

bool isPrivilegedProcess()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()))
        return false;
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
        elevation.TokenIsElevated)
        return true;
    BYTE buffer[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)];
    return GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size) &&
           IsWellKnownSid(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, WinLocalSystemSid);
}

bool isChangeableOnlyByAdministrators(const std::string &path)
{
    const std::optional<std::wstring> wide = win32::toWide(path);
    if (!wide || path.find('\0') != std::string::npos)
        return false;
    const std::wstring native = win32::nativeSeparators(*wide);
    bool sawLink = false;
    if (!checkEntries(native, sawLink))
        return false;
    if (!sawLink)
        return true;
    bool linkAgain = false;
    return checkEntries(resolvedPath(native), linkAgain) && !linkAgain;
}

std::string tunnelErrorDirectory()
{
    const std::wstring programData = win32::programDataDirectory();
    return programData.empty() ? std::string() : win32::toUtf8(programData + L"\\SolvikVPN");
}

std::uint32_t prepareTunnelErrorDirectory(const std::string &readerAccount)
{
    const std::string directory = tunnelErrorDirectory();
    const std::optional<std::wstring> wide = win32::toWide(directory);
    LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    if (directory.empty() || !wide ||
        !win32::administratorsAndReaderDescriptor(readerAccount, L"0x1200a9", descriptor))
        return winerror::accessDenied;
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    if (!CreateDirectoryW(wide->c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS)
        return winerror::accessDenied;
    UniqueHandle handle;
    BY_HANDLE_FILE_INFORMATION info{};
    // Wine keeps no access lists, so tests there may trust the folder's (test builds only); it
    // must still be a real folder.
    if (!openEntry(*wide, handle, info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(isChangeableOnlyByAdministrators(directory) || testSwitch(TestSwitch::TrustFolders)))
        return winerror::accessDenied;
    return winerror::success;
}

} // namespace platform
