#pragma once

#include <functional>
#include <memory>

// Tells the service when the machine's network changed under the tunnel: a default route came or
// went, or a network interface appeared (the tunnel adapter coming back after sleep among them).
// Windows: NotifyRouteChange2 and NotifyIpInterfaceChange, loaded at run time. POSIX: a netlink
// socket on the link and route groups. Where the system offers neither, the watch stays silent.
namespace platform {

class NetworkWatch
{
public:
    // Runs on a thread of the watch's own, once per notification the system sends; bursts are
    // the caller's to debounce.
    using Callback = std::function<void()>;

    NetworkWatch();
    ~NetworkWatch();
    NetworkWatch(const NetworkWatch &) = delete;
    NetworkWatch &operator=(const NetworkWatch &) = delete;

    // Starts watching; false when the system offers no way to. Stopping is the destructor's, and
    // no callback runs after it returned.
    bool start(Callback callback);

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace platform
