#include "platform/event.h"
#include "platform/networkwatch.h"
#include "testprograms.h"

#include <doctest.h>

#ifndef _WIN32
#include <cstring>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#endif

TEST_CASE("a network watch hears an interface come up")
{
    {
        platform::NetworkWatch watch;
        const bool started = watch.start([] {});
        if (runsUnderWine()) {
            MESSAGE("Wine: only shown not to crash; it started: ", started);
            return;
        }
        CHECK(started);
    }
#ifndef _WIN32
    // Caused in a network namespace of a child's own, where loopback starts down, so that the
    // machine's network stays as it is. The child's exit code tells what it saw.
    const pid_t child = fork();
    REQUIRE(child >= 0);
    if (child == 0) {
        if (unshare(CLONE_NEWNET) != 0)
            _exit(77);
        platform::Event heard;
        platform::NetworkWatch watch;
        ifreq request{};
        std::strcpy(request.ifr_name, "lo");
        const int control = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (!watch.start([&heard] { heard.set(); }) || ioctl(control, SIOCGIFFLAGS, &request) != 0)
            _exit(1);
        request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
        _exit(ioctl(control, SIOCSIFFLAGS, &request) == 0 && heard.wait(2000) ? 0 : 2);
    }
    int status = 0;
    REQUIRE(waitpid(child, &status, 0) == child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        MESSAGE("no network namespace could be made here: the event part is skipped");
    else
        CHECK(status == 0);
#endif
}
