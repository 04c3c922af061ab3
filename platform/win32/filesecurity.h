#pragma once

// The current account's SID and the security descriptors the protected files and the system
// folder are created with.

#include "platform/win32/handles.h"

#include <windows.h>

#include <sddl.h>

#include <string>
#include <string_view>
#include <vector>

namespace platform::win32 {

// The token user's SID as text ("S-1-5-21-..."); empty when the token cannot be queried.
inline std::wstring currentSidText()
{
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.receive()))
        return {};
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return {};
    std::vector<BYTE> buffer(size);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return {};
    const auto *user = reinterpret_cast<const TOKEN_USER *>(buffer.data());
    LocalMemory<LPWSTR> text;
    if (!ConvertSidToStringSidW(user->User.Sid, text.receive()))
        return {};
    return text.get();
}

// A protected DACL (nothing inherited from the folder) granting full access to LocalSystem, the
// built-in Administrators and the current account, and to nobody else. False when the account's
// SID is unknown: a list without it would lock the account out of its own file.
inline bool ownerOnlyDescriptor(LocalMemory<PSECURITY_DESCRIPTOR> &descriptor)
{
    const std::wstring sid = currentSidText();
    if (sid.empty())
        return false;
    std::wstring text = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;%1)";
    text.replace(text.find(L"%1"), 2, sid);
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                descriptor.receive(), nullptr);
}

// "S-1-" followed by digits and dashes: nothing that could add an entry to a descriptor string.
inline bool isSidText(std::string_view text)
{
    if (text.size() < 5 || text.size() > 184 || text.substr(0, 4) != "S-1-")
        return false;
    for (const char c : text.substr(4)) {
        if (c != '-' && (c < '0' || c > '9'))
            return false;
    }
    return true;
}

// A protected DACL: full access for LocalSystem and the Administrators, and `readerRights`
// (an SDDL rights string such as "FR") for `readerSid` when it is not empty. False when the
// reader is not a SID.
inline bool administratorsAndReaderDescriptor(const std::string &readerSid,
                                              const wchar_t *readerRights,
                                              LocalMemory<PSECURITY_DESCRIPTOR> &descriptor)
{
    std::wstring text = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";
    if (!readerSid.empty()) {
        if (!isSidText(readerSid))
            return false;
        text += std::wstring(L"(A;;") + readerRights + L";;;" +
                std::wstring(readerSid.begin(), readerSid.end()) + L")";
    }
    return ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                descriptor.receive(), nullptr);
}

} // namespace platform::win32
