// Win32 half: a value of the current user's Run key, whose command lines Explorer starts when
// the user signs in.

#include "platform/autostart.h"

#include "platform/win32/localfile.h"
#include "platform/win32/widetext.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>

namespace platform {

namespace {

constexpr wchar_t runKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t valueName[] = L"SolvikVPN";

std::optional<std::wstring> readRunValue()
{
    std::wstring data;
    DWORD size = 0;
    LSTATUS status = ERROR_MORE_DATA;
    // The value may grow between asking for its size and reading it.
    while (status == ERROR_MORE_DATA) {
        data.resize(size / sizeof(wchar_t) + 1);
        size = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = RegGetValueW(HKEY_CURRENT_USER, runKey, valueName, RRF_RT_REG_SZ, nullptr,
                              data.data(), &size);
    }
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    // RegGetValueW terminates the text; what follows a NUL is not part of the command.
    data.resize(std::wcslen(data.c_str()));
    return data;
}

// The program of a command line: its quoted first argument, or, unquoted, everything up to the
// first blank.
std::optional<std::string> programOfCommand(const std::wstring &command)
{
    std::wstring program;
    if (command.starts_with(L'"')) {
        const std::size_t close = command.find(L'"', 1);
        if (close == std::wstring::npos)
            return std::nullopt;
        program = command.substr(1, close - 1);
    } else {
        program = command.substr(0, command.find_first_of(L" \t"));
    }
    std::string text = win32::toUtf8(program);
    if (text.empty())
        return std::nullopt;
    return text;
}

} // namespace

std::optional<std::string> registeredStartAtLoginProgram()
{
    const std::optional<std::wstring> command = readRunValue();
    return command ? programOfCommand(*command) : std::nullopt;
}

bool registerStartAtLogin(const std::string &programPath)
{
    const std::optional<std::wstring> wide = win32::toWide(programPath);
    if (!wide)
        return false;
    const std::wstring program = win32::nativeSeparators(*wide);
    const bool absolute = win32::isDriveLetterPath(program) || program.starts_with(L"\\\\");
    if (!absolute || std::any_of(program.begin(), program.end(),
                                 [](wchar_t c) { return c < 0x20 || c == 0x7F || c == L'"'; }))
        return false;
    const std::wstring command = L"\"" + program + L"\" --hidden";
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, runKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LSTATUS written =
        RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE *>(command.c_str()),
                       static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return written == ERROR_SUCCESS;
}

bool unregisterStartAtLogin()
{
    // Deletes the value only; the key belongs to everyone who starts at sign-in.
    const LSTATUS status = RegDeleteKeyValueW(HKEY_CURRENT_USER, runKey, valueName);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

} // namespace platform
