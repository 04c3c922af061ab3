#include "platform/traymenu.h"

#include "platform/win32/widetext.h"

#include <windows.h>

#include <memory>
#include <type_traits>

namespace platform {

namespace {

constexpr int lastCommand = 0xffff;

struct MenuDestroyer
{
    void operator()(HMENU menu) const { DestroyMenu(menu); }
};
using UniqueMenu = std::unique_ptr<std::remove_pointer_t<HMENU>, MenuDestroyer>;

bool append(HMENU menu, const TrayMenuEntry &entry)
{
    if (entry.isSeparator())
        return AppendMenuW(menu, MF_SEPARATOR, 0, nullptr) != FALSE;
    const std::optional<std::wstring> text = win32::toWide(entry.text);
    if (entry.command < 0 || entry.command > lastCommand || !text ||
        text->find(L'\0') != std::wstring::npos)
        return false;
    const UINT flags = MF_STRING | (entry.enabled ? MF_ENABLED : MF_GRAYED);
    return AppendMenuW(menu, flags, static_cast<UINT_PTR>(entry.command), text->c_str()) != FALSE;
}

} // namespace

bool hasNativeTrayMenu()
{
    return true;
}

std::optional<int> showTrayMenu(std::intptr_t window, const std::vector<TrayMenuEntry> &entries)
{
    UniqueMenu menu(CreatePopupMenu());
    if (!menu)
        return std::nullopt;
    for (const TrayMenuEntry &entry : entries) {
        if (!append(menu.get(), entry))
            return std::nullopt;
    }
    const HWND owner = reinterpret_cast<HWND>(window);
    POINT cursor{};
    GetCursorPos(&cursor);
    // Without the owner in the foreground the menu stays open when the user clicks elsewhere.
    SetForegroundWindow(owner);
    const int chosen =
        static_cast<int>(TrackPopupMenu(menu.get(), TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON,
                                        cursor.x, cursor.y, 0, owner, nullptr));
    menu.reset();
    // Forces the task switch without which a notification icon's menu misbehaves the next time
    // it opens.
    PostMessageW(owner, WM_NULL, 0, 0);
    return chosen;
}

} // namespace platform
