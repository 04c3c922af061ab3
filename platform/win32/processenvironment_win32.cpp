#include "platform/processenvironment.h"

#include "platform/testswitch.h"
#include "platform/win32/localfile.h"
#include "platform/win32/widetext.h"

#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace platform {

namespace {

std::wstring windowsDirectory()
{
    wchar_t buffer[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

// _wputenv_s keeps the C runtime's copy and the process environment in step.
void assign(const std::wstring &name, const std::wstring &value)
{
    _wputenv_s(name.c_str(), value.c_str());
}

} // namespace

void restrictProcessEnvironment()
{
    // Qt's plugins, the TLS library and anything else loaded from now on come from the
    // program's own folder or System32, never from PATH or the working directory.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);

    std::vector<std::wstring> names;
    if (wchar_t *block = GetEnvironmentStringsW()) {
        for (const wchar_t *entry = block; *entry; entry += wcslen(entry) + 1) {
            const std::wstring assignment = entry;
            const auto equals = assignment.find(L'=', 1); // "=C:=C:\..." are per-drive folders
            if (equals != std::wstring::npos)
                names.push_back(assignment.substr(0, equals));
        }
        FreeEnvironmentStringsW(block);
    }
    for (const std::wstring &name : names) {
        if (name.front() != L'=' && !isTestVariable(win32::toUtf8(name)))
            assign(name, L"");
    }
    // What the system's own libraries expect, taken from the system rather than the user.
    const std::wstring windows = windowsDirectory();
    if (!windows.empty()) {
        assign(L"SystemRoot", windows);
        assign(L"windir", windows);
        assign(L"SystemDrive", windows.substr(0, 2));
        assign(L"PATH", windows + L"\\System32;" + windows);
    }
    const std::wstring programData = win32::programDataDirectory();
    if (!programData.empty())
        assign(L"ProgramData", programData);
}

std::string requestingAccount()
{
    return {};
}

} // namespace platform
