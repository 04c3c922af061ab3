#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct Event::Impl
{
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool set = false;
};

Event::Event()
    : d(std::make_unique<Impl>())
{}

Event::~Event() = default;

bool Event::isValid() const
{
    return true;
}

void Event::set()
{
    {
        std::lock_guard lock(d->mutex);
        d->set = true;
    }
    d->changed.notify_all();
}

bool Event::isSet() const
{
    std::lock_guard lock(d->mutex);
    return d->set;
}

bool Event::wait(int timeoutMs) const
{
    std::unique_lock lock(d->mutex);
    if (timeoutMs < 0) {
        d->changed.wait(lock, [this] { return d->set; });
        return true;
    }
    return d->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return d->set; });
}

} // namespace platform
