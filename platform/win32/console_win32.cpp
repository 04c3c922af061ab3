#include "platform/console.h"

#include <windows.h>

#include <cstdio>

namespace platform {

void attachParentConsole()
{
    // Output redirected to a file or pipe already has a handle; a console is only attached for
    // the rest.
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN)
        return;
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        std::FILE *ignored = nullptr;
        freopen_s(&ignored, "CONOUT$", "w", stdout);
        freopen_s(&ignored, "CONOUT$", "w", stderr);
    }
}

} // namespace platform
