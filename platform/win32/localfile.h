#pragma once

// Where an open file or folder really is, the path forms the privileged side accepts, and
// reading a whole file from its handle.

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdint>
#include <cwctype>
#include <string>
#include <vector>

namespace platform::win32 {

// The path of the object behind `handle` with every link and reparse point resolved, in its DOS
// form ("C:\..."), or "\\server\share\..." for a network path; empty when it cannot be read.
inline std::wstring finalPathOf(HANDLE handle)
{
    const DWORD flags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    const DWORD needed = GetFinalPathNameByHandleW(handle, nullptr, 0, flags);
    if (needed == 0)
        return {};
    std::wstring resolved(needed, L'\0');
    const DWORD length = GetFinalPathNameByHandleW(handle, resolved.data(), needed, flags);
    if (length == 0 || length >= needed)
        return {};
    resolved.resize(length);
    const std::wstring unc = L"\\\\?\\UNC\\";
    const std::wstring local = L"\\\\?\\";
    if (resolved.rfind(unc, 0) == 0)
        return L"\\\\" + resolved.substr(unc.size());
    if (resolved.rfind(local, 0) == 0)
        return resolved.substr(local.size());
    return resolved;
}

// "X:\..." with a drive letter: the only form accepted from an unprivileged caller (UNC, device
// and "\\?\" paths are refused).
inline bool isDriveLetterPath(const std::wstring &path)
{
    return path.size() >= 3 && std::iswalpha(path[0]) && path[0] < 0x80 && path[1] == L':' &&
           path[2] == L'\\';
}

// Components of `path` split at backslashes; false when one of them is "." or "..".
inline bool hasDotComponent(const std::wstring &path)
{
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of(L"\\/", start), path.size());
        const std::wstring component = path.substr(start, end - start);
        if (component == L"." || component == L"..")
            return true;
        start = end + 1;
    }
    return false;
}

// The machine's program data folder ("C:\ProgramData"), from the system rather than the
// environment; empty when it cannot be determined.
inline std::wstring programDataDirectory()
{
    PWSTR path = nullptr;
    std::wstring result;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_DONT_VERIFY, nullptr, &path)))
        result = path;
    CoTaskMemFree(path);
    return result;
}

// Fills `bytes` from the file's current position; false when the file ends early or a read fails.
inline bool readExactly(HANDLE file, std::vector<std::uint8_t> &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD got = 0;
        const std::size_t left = bytes.size() - done;
        if (!ReadFile(file, bytes.data() + done, left > 0x10000000 ? 0x10000000 : DWORD(left), &got,
                      nullptr) ||
            got == 0)
            return false;
        done += got;
    }
    return true;
}

} // namespace platform::win32
