#include "platform/posix/childexec.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform::childexec {

std::vector<char *> argumentVector(std::vector<std::string> &words)
{
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    return argv;
}

void reap(pid_t pid)
{
    int status;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

void resetSignals()
{
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGHUP, SIGCHLD})
        ::signal(signal, SIG_DFL);
}

void keepOnlyStandardStreams()
{
    if (::close_range(STDERR_FILENO + 1, ~0u, CLOSE_RANGE_CLOEXEC) == 0)
        return;
    // Kernels before 5.11: the descriptors a process of ours may hold are few and low.
    for (int fd = STDERR_FILENO + 1; fd < 4096; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
}

void reportFailure(int errorPipe)
{
    const int error = errno;
    (void)!::write(errorPipe, &error, sizeof error);
    ::_exit(127);
}

} // namespace platform::childexec
