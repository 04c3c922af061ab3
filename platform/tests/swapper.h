#pragma once

// Plays a hostile unprivileged account for the tests of the privileged side (POSIX, as root): a
// process of uid 65534 that exchanges two directory entries back and forth, as fast as it can,
// until it is stopped, its parent dies or a minute has passed.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <string>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

class Swapper
{
public:
    static constexpr uid_t attackerUid = 65534;

    Swapper(const std::string &first, const std::string &second)
    {
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid != 0)
            return;
        // Only system calls from here on: the parent may have threads.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent || ::setgroups(0, nullptr) != 0 || ::setgid(attackerUid) != 0 ||
            ::setuid(attackerUid) != 0)
            ::_exit(1);
        const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        while (std::chrono::steady_clock::now() < end)
            ::renameat2(AT_FDCWD, first.c_str(), AT_FDCWD, second.c_str(), RENAME_EXCHANGE);
        ::_exit(0);
    }
    ~Swapper()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
    }
    Swapper(const Swapper &) = delete;
    Swapper &operator=(const Swapper &) = delete;

    bool isRunning() const { return m_pid > 0; }

private:
    pid_t m_pid = -1;
};
