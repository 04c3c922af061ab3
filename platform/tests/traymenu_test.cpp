#include "platform/traymenu.h"

#include <doctest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <initializer_list>
#endif

using platform::TrayMenuEntry;

namespace {

std::vector<TrayMenuEntry> trayEntries()
{
    return {{1, "Open Solvik VPN"}, {2, "Quick guide"}, TrayMenuEntry::separator(), {3, "Quit"}};
}

} // namespace

#ifdef _WIN32

namespace {

// A hidden window that owns the menu; null where Wine has no display to create windows on.
struct OwnerWindow
{
    OwnerWindow()
        : handle(CreateWindowExW(0, L"STATIC", L"tray menu owner", WS_POPUP, 0, 0, 10, 10, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr))
    {}
    ~OwnerWindow()
    {
        if (handle)
            DestroyWindow(handle);
    }
    OwnerWindow(const OwnerWindow &) = delete;
    OwnerWindow &operator=(const OwnerWindow &) = delete;

    std::intptr_t id() const { return reinterpret_cast<std::intptr_t>(handle); }

    HWND handle;
};

// The menu's modal loop reads the keyboard from the thread's queue, so keys posted before it
// opens are what the user types into it.
void postKeys(HWND window, std::initializer_list<WPARAM> keys)
{
    for (const WPARAM key : keys)
        REQUIRE(PostMessageW(window, WM_KEYDOWN, key, 1));
}

// Empties the thread's queue; true when it held the empty message for `window`.
bool takeEmptyMessage(HWND window)
{
    bool found = false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        found = found || (message.hwnd == window && message.message == WM_NULL);
    return found;
}

void CALLBACK endMenu(HWND, UINT, UINT_PTR, DWORD)
{
    EndMenu();
}

} // namespace

TEST_CASE("the system's menu returns the command chosen, or 0 without a choice")
{
    CHECK(platform::hasNativeTrayMenu());
    const OwnerWindow owner;
    if (!owner.handle) {
        // Wine without a display has no window driver: the menu is built, but neither its owner
        // nor its popup can exist, so tracking fails and nothing is chosen. Run the lane under
        // xvfb-run to see the menu itself.
        MESSAGE("Wine without a display: no windows, so the menu cannot be tracked");
        CHECK(platform::showTrayMenu(0, trayEntries()) == 0);
        return;
    }

    struct Row
    {
        std::string name;
        std::initializer_list<WPARAM> keys;
        int command;
    };
    const Row rows[] = {
        {"Escape closes it", {VK_ESCAPE}, 0},
        {"the first entry", {VK_DOWN, VK_RETURN}, 1},
        {"the second entry", {VK_DOWN, VK_DOWN, VK_RETURN}, 2},
        {"the separator cannot be chosen", {VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}, 3},
    };
    for (const Row &row : rows) {
        CAPTURE(row.name);
        postKeys(owner.handle, row.keys);
        CHECK(platform::showTrayMenu(owner.id(), trayEntries()) == row.command);
        CHECK(GetForegroundWindow() == owner.handle);
        CHECK(takeEmptyMessage(owner.handle));
    }

    // A greyed command is never the choice, whether the keys pass over it or stop on it.
    std::vector<TrayMenuEntry> greyed = trayEntries();
    greyed.at(1).enabled = false;
    postKeys(owner.handle, {VK_DOWN, VK_DOWN, VK_RETURN, VK_ESCAPE});
    const std::optional<int> chosen = platform::showTrayMenu(owner.id(), greyed);
    REQUIRE(chosen.has_value());
    CHECK(*chosen != 2);
    // Also drops the Escape a menu closed by Return leaves behind.
    CHECK(takeEmptyMessage(owner.handle));

    // Closed from outside its loop, as when the system cancels modes.
    const UINT_PTR timer = SetTimer(owner.handle, 1, USER_TIMER_MINIMUM, endMenu);
    REQUIRE(timer != 0);
    CHECK(platform::showTrayMenu(owner.id(), trayEntries()) == 0);
    KillTimer(owner.handle, timer);
    CHECK(takeEmptyMessage(owner.handle));
}

TEST_CASE("a menu with an entry the system cannot show is not shown at all")
{
    const OwnerWindow owner;
    struct Row
    {
        std::string name;
        TrayMenuEntry entry;
    };
    const Row rows[] = {
        {"text that is not UTF-8", {4, "Quit \xff"}},
        {"text with a NUL", {4, std::string("Quit\0now", 8)}},
        {"a negative command", {-1, "Quit"}},
        {"a command beyond 16 bits", {0x10000, "Quit"}},
    };
    for (const Row &row : rows) {
        CAPTURE(row.name);
        std::vector<TrayMenuEntry> entries = trayEntries();
        entries.push_back(row.entry);
        // Should the menu open after all, Escape closes it instead of leaving the test waiting.
        if (owner.handle)
            postKeys(owner.handle, {VK_ESCAPE});
        CHECK_FALSE(platform::showTrayMenu(owner.id(), entries).has_value());
        if (owner.handle)
            CHECK_FALSE(takeEmptyMessage(owner.handle));
    }
}

#else

TEST_CASE("POSIX desktops have no system menu for tray icons")
{
    CHECK_FALSE(platform::hasNativeTrayMenu());
    CHECK_FALSE(platform::showTrayMenu(0, trayEntries()).has_value());
}

#endif
