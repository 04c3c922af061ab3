#include "platform/traymenu.h"

namespace platform {

// Desktops on POSIX have no system menu for tray icons: the toolkit draws one.
bool hasNativeTrayMenu()
{
    return false;
}

std::optional<int> showTrayMenu(std::intptr_t, const std::vector<TrayMenuEntry> &)
{
    return std::nullopt;
}

} // namespace platform
