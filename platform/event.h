#pragma once

#include <memory>

// A manual-reset event, initially not set (CreateEventW on Windows). Set from one thread (for
// example a service control handler), waited for on another; SupervisedProcess::wait can wait
// for it and a process at once.
namespace platform {

class Event
{
public:
    Event();
    ~Event();
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    // False when the system could not create the event; set/wait then do nothing.
    bool isValid() const;
    void set();
    bool isSet() const;
    // Waits up to `timeoutMs` (negative: without limit); true when the event is set.
    bool wait(int timeoutMs) const;

    struct Impl;

private:
    friend class SupervisedProcess;
    std::unique_ptr<Impl> d;
};

} // namespace platform
