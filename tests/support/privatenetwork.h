#pragma once

#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

// Moves the calling thread, and everything it starts from then on, into a network namespace of
// its own with only loopback up, so a test's tunnels and firewall blocks never touch the
// machine's network. Needs root.
inline bool enterPrivateNetwork()
{
    if (unshare(CLONE_NEWNET) != 0) {
        return false;
    }
    ifreq request{};
    std::strcpy(request.ifr_name, "lo");
    const int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool up = control >= 0 && ioctl(control, SIOCGIFFLAGS, &request) == 0 &&
                    (request.ifr_flags = short(request.ifr_flags | IFF_UP),
                     ioctl(control, SIOCSIFFLAGS, &request) == 0);
    ::close(control);
    return up;
}
