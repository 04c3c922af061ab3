#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The notification-area icon's context menu, drawn by the system where the system has one of
// its own (Windows). Elsewhere the caller shows the toolkit's menu instead.
namespace platform {

// One line of the menu: a command (1 to 65535) with its text (UTF-8), or a separator. A disabled
// command is shown greyed and cannot be chosen.
struct TrayMenuEntry
{
    int command = 0;
    std::string text;
    bool enabled = true;

    static TrayMenuEntry separator() { return {}; }
    bool isSeparator() const { return command == 0; }
};

// True when showTrayMenu() draws a menu: Windows; false on POSIX.
bool hasNativeTrayMenu();

// Shows `entries` as a popup menu at the cursor and waits for the user. `window` is the native
// handle of the window that owns the menu (Windows: its HWND); it is brought to the foreground
// first, so that the menu closes when the user clicks elsewhere, and receives an empty message
// afterwards. Returns the chosen command, 0 when the menu closed without a choice, and nothing
// when no menu could be built (an entry that is neither a separator nor a valid command with
// UTF-8 text, or the system refused; always on POSIX).
std::optional<int> showTrayMenu(std::intptr_t window, const std::vector<TrayMenuEntry> &entries);

} // namespace platform
