#pragma once

// UTF-8 <-> UTF-16 for the wide Win32 calls. The seam speaks UTF-8; Windows speaks UTF-16.

#include <windows.h>

#include <limits>
#include <optional>
#include <string>

namespace platform::win32 {

// Nothing when `text` is not valid UTF-8 or is too long for the conversion call.
inline std::optional<std::wstring> toWide(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return std::nullopt;
    const int length = static_cast<int>(text.size());
    const int needed =
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, nullptr, 0);
    if (needed <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), length, wide.data(),
                            needed) != needed)
        return std::nullopt;
    return wide;
}

// Empty when `wide` is not valid UTF-16.
inline std::string toUtf8(const std::wstring &wide)
{
    if (wide.empty() || wide.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        return {};
    const int length = static_cast<int>(wide.size());
    const int needed = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length,
                                           nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return {};
    std::string text(static_cast<std::size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), length, text.data(), needed,
                            nullptr, nullptr) != needed)
        return {};
    return text;
}

// Win32 path calls accept '/', but descriptors and moves are happiest with native separators.
inline std::wstring nativeSeparators(std::wstring path)
{
    for (wchar_t &c : path) {
        if (c == L'/')
            c = L'\\';
    }
    return path;
}

} // namespace platform::win32
