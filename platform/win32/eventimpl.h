#pragma once

#include "platform/event.h"
#include "platform/win32/handles.h"

namespace platform {

// Shared with the supervised process, which waits for the event and a process at once.
struct Event::Impl
{
    win32::UniqueHandle handle;
};

} // namespace platform
