#include "platform/profilepath.h"

#include "platform/win32/handles.h"
#include "platform/win32/widetext.h"

#include <regex>

namespace platform {

namespace {

std::string lastComponent(const std::string &path)
{
    const auto separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

bool hasParentComponent(const std::string &path)
{
    std::size_t start = 0;
    for (;;) {
        const auto end = path.find_first_of("/\\", start);
        const auto component = path.substr(start, end == std::string::npos ? end : end - start);
        if (component == "..")
            return true;
        if (end == std::string::npos)
            return false;
        start = end + 1;
    }
}

} // namespace

std::string canonicalFilePath(const std::string &path)
{
    const auto wide = win32::toWide(path);
    if (path.empty() || !wide)
        return {};
    win32::UniqueHandle file(CreateFileW(
        wide->c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid())
        return {};
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD needed = GetFinalPathNameByHandleW(file.get(), nullptr, 0, flags);
    if (needed == 0)
        return {};
    std::wstring resolved(needed, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(file.get(), resolved.data(), needed, flags);
    if (length == 0 || length >= needed)
        return {};
    resolved.resize(length);
    // "\\?\C:\..." is a local path; "\\?\UNC\server\share\..." a network one.
    const std::wstring unc = L"\\\\?\\UNC\\";
    const std::wstring local = L"\\\\?\\";
    if (resolved.rfind(unc, 0) == 0)
        resolved = L"\\\\" + resolved.substr(unc.size());
    else if (resolved.rfind(local, 0) == 0)
        resolved = resolved.substr(local.size());
    return win32::toUtf8(resolved);
}

bool isLocalProfilePath(const std::string &path, const std::string &expectedFileName)
{
    if (expectedFileName.empty() || path.find('"') != std::string::npos ||
        hasParentComponent(path) || lastComponent(path) != expectedFileName)
        return false;
    const std::string canonical = canonicalFilePath(path);
    static const std::regex driveLetter("^[A-Za-z]:[/\\\\]");
    if (canonical.empty() || !std::regex_search(canonical, driveLetter) ||
        lastComponent(canonical) != expectedFileName)
        return false;
    const auto wide = win32::toWide(canonical);
    const DWORD attributes = wide ? GetFileAttributesW(wide->c_str()) : INVALID_FILE_ATTRIBUTES;
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    // A mapped network drive still has a letter.
    const std::wstring drive = wide->substr(0, 3);
    return GetDriveTypeW(drive.c_str()) != DRIVE_REMOTE;
}

} // namespace platform
