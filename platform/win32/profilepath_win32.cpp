#include "platform/profilepath.h"

#include "platform/crypto.h"
#include "platform/protectedfile.h"
#include "platform/win32/handles.h"
#include "platform/win32/localfile.h"
#include "platform/win32/widetext.h"

#include <aclapi.h>
#include <sddl.h>

namespace platform {

namespace {

std::wstring lastComponent(const std::wstring &path)
{
    const auto separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::string ownerOf(HANDLE file)
{
    win32::LocalMemory<PSECURITY_DESCRIPTOR> descriptor;
    PSID owner = nullptr;
    if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, descriptor.receive()) != ERROR_SUCCESS ||
        !owner)
        return {};
    win32::LocalMemory<LPWSTR> text;
    return ConvertSidToStringSidW(owner, text.receive()) ? win32::toUtf8(text.get())
                                                         : std::string();
}

} // namespace

bool readLocalProfileFile(const std::string &path, const std::string &expectedFileName,
                          const std::string & /*requiredOwner*/, std::vector<std::uint8_t> &blob,
                          std::string &ownerAccount)
{
    const std::optional<std::wstring> wide = win32::toWide(path);
    const std::optional<std::wstring> expected = win32::toWide(expectedFileName);
    if (!wide || !expected || expected->empty() ||
        path.find_first_of(std::string("\"\0", 2)) != std::string::npos)
        return false;
    const std::wstring native = win32::nativeSeparators(*wide);
    if (!win32::isDriveLetterPath(native) || win32::hasDotComponent(native) ||
        lastComponent(native) != *expected)
        return false;
    // The entry itself, a reparse point included: it is refused below, never followed.
    win32::UniqueHandle file(CreateFileW(native.c_str(), GENERIC_READ | READ_CONTROL,
                                         FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || !GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
        info.nNumberOfLinks != 1)
        return false;
    const unsigned long long size =
        (static_cast<unsigned long long>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    // The real path must be the one given: a junction or link on the way would change it.
    const std::wstring real = win32::finalPathOf(file.get());
    if (size > protectedFileLimit || !win32::isDriveLetterPath(real) ||
        CompareStringOrdinal(real.c_str(), int(real.size()), native.c_str(), int(native.size()),
                             TRUE) != CSTR_EQUAL ||
        lastComponent(real) != *expected)
        return false;
    // A mapped network drive still has a letter.
    if (GetDriveTypeW(real.substr(0, 3).c_str()) == DRIVE_REMOTE)
        return false;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    const std::string owner = ownerOf(file.get());
    if (!win32::readExactly(file.get(), bytes)) {
        secureZero(bytes);
        return false;
    }
    blob = std::move(bytes);
    ownerAccount = owner;
    return true;
}

} // namespace platform
