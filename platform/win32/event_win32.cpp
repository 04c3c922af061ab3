#include "platform/event.h"

#include "platform/win32/eventimpl.h"

namespace platform {

Event::Event()
    : d(std::make_unique<Impl>())
{
    // Manual reset, initially not set, unnamed.
    *d->handle.receive() = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

Event::~Event() = default;

bool Event::isValid() const
{
    return d->handle.valid();
}

void Event::set()
{
    if (d->handle.valid())
        SetEvent(d->handle.get());
}

bool Event::isSet() const
{
    return wait(0);
}

bool Event::wait(int timeoutMs) const
{
    if (!d->handle.valid())
        return false;
    const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    return WaitForSingleObject(d->handle.get(), timeout) == WAIT_OBJECT_0;
}

} // namespace platform
