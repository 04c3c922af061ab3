#include "platform/supervisedprocess.h"

#include "platform/posix/childexec.h"
#include "platform/posix/enginegroup.h"
#include "platform/posix/fileio.h"
#include "platform/posix/posixerror.h"
#include "platform/winerror.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void execChild(pid_t parent, int input, int output, int errorPipe, int group,
                            const char *directory, char *const argv[])
{
    ::setpgid(0, 0);
    // Joined before the program runs, so not one of its packets goes out unexempted.
    if (group >= 0 && ::write(group, "0", 1) != 1)
        childexec::reportFailure(errorPipe);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent)
        ::_exit(127); // the supervisor died before the parent-death signal was armed
    childexec::resetSignals();
    if (::dup2(input, STDIN_FILENO) >= 0 && ::dup2(output, STDOUT_FILENO) >= 0 &&
        ::dup2(output, STDERR_FILENO) >= 0 && (!directory || ::chdir(directory) == 0)) {
        childexec::keepOnlyStandardStreams();
        ::execv(argv[0], argv);
    }
    childexec::reportFailure(errorPipe);
}

} // namespace

struct SupervisedProcess::Impl
{
    pid_t pid = -1;
    bool reaped = false;
    bool contained = false;
    int status = 0;
    bool terminated = false;
    std::uint32_t terminateCode = 0;
    posix::UniqueFd input;
    posix::UniqueFd output;
    posix::Pipe wake; // readable once cancelOutput() was called
    bool exempt = false;

    bool reap(bool block)
    {
        if (pid <= 0 || reaped)
            return reaped;
        int result;
        do {
            result = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        } while (result < 0 && errno == EINTR);
        if (result == pid || (result < 0 && errno == ECHILD))
            reaped = true;
        return reaped;
    }
};

SupervisedProcess::SupervisedProcess()
    : d(std::make_unique<Impl>())
{}

SupervisedProcess::~SupervisedProcess()
{
    closeContainment();
    if (d->pid > 0 && !d->reaped) {
        ::kill(d->pid, SIGKILL);
        d->reap(true);
    }
}

std::uint32_t SupervisedProcess::start(const std::string &program,
                                       const std::vector<std::string> &arguments,
                                       const std::string &workingDirectory)
{
    if (d->pid > 0)
        return winerror::invalidParameter;
    posix::Pipe input;
    posix::Pipe output;
    posix::Pipe errorPipe;
    posix::Pipe wake;
    if (!posix::makePipe(input, O_CLOEXEC) || !posix::makePipe(output, O_CLOEXEC) ||
        !posix::makePipe(errorPipe, O_CLOEXEC) || !posix::makePipe(wake, O_CLOEXEC | O_NONBLOCK))
        return windowsErrorFromErrno(errno);
    // Everything the child needs is prepared before fork: it may only make async-safe calls.
    std::vector<std::string> words{program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv = childexec::argumentVector(words);
    const char *directory = workingDirectory.empty() ? nullptr : workingDirectory.c_str();
    posix::UniqueFd group(d->exempt ? enginegroup::openMembership() : -1);
    if (d->exempt) {
        if (!group.valid())
            return windowsErrorFromErrno(errno);
    }

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(parent, input.read.get(), output.write.get(), errorPipe.write.get(), group.get(),
                  directory, argv.data());
    const int forkErrno = errno;
    // The child's ends belong to the child now.
    input.read.close();
    output.write.close();
    errorPipe.write.close();
    if (pid < 0)
        return windowsErrorFromErrno(forkErrno);
    ::setpgid(pid, pid); // also here, so the group exists before either side goes on
    d->pid = pid;
    d->contained = true;
    int childErrno = 0;
    if (posix::readFully(errorPipe.read.get(), &childErrno, sizeof childErrno)) {
        d->reap(true);
        d->pid = -1;
        d->reaped = false;
        d->contained = false;
        return windowsErrorFromErrno(childErrno);
    }
    d->input = std::move(input.write);
    d->output = std::move(output.read);
    d->wake = std::move(wake);
    return winerror::success;
}

void SupervisedProcess::exemptFromFirewall()
{
    d->exempt = true;
}

bool SupervisedProcess::writeInput(const void *data, std::size_t size)
{
    if (!d->input.valid())
        return false;
    // A child that closed its input must fail the write, not kill us with SIGPIPE: block the
    // signal on this thread and swallow a pending one afterwards.
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    const auto *bytes = static_cast<const char *>(data);
    bool ok = true;
    while (size > 0) {
        const ssize_t written = ::write(d->input.get(), bytes, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            ok = false;
            break;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    if (!ok) {
        const timespec immediately{0, 0};
        while (::sigtimedwait(&pipeSignal, nullptr, &immediately) == SIGPIPE) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return ok;
}

void SupervisedProcess::closeInput()
{
    d->input.close();
}

std::size_t SupervisedProcess::readOutput(void *buffer, std::size_t size)
{
    const int fd = d->output.get();
    if (fd < 0)
        return 0;
    pollfd watched[2] = {{fd, POLLIN, 0}, {d->wake.read.get(), POLLIN, 0}};
    int ready;
    do {
        ready = ::poll(watched, 2, -1);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0 || watched[1].revents != 0)
        return 0;
    ssize_t got;
    do {
        got = ::read(fd, buffer, size);
    } while (got < 0 && errno == EINTR);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

void SupervisedProcess::cancelOutput()
{
    if (d->wake.write.valid())
        (void)!::write(d->wake.write.get(), "x", 1);
}

void SupervisedProcess::closeOutput()
{
    d->output.close();
}

SupervisedProcess::WaitResult SupervisedProcess::wait(int timeoutMs, const Event *stop)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    // There is no portable way to wait for a child and an event at once; a short poll keeps
    // the reaction time well below what the callers' timeouts can notice.
    constexpr int sliceMs = 10;
    for (;;) {
        if (d->pid <= 0 || d->reap(false))
            return WaitResult::Exited;
        if (stop && stop->isSet())
            return WaitResult::EventSet;
        if (timeoutMs >= 0 && Clock::now() >= deadline)
            return WaitResult::TimedOut;
        if (stop)
            stop->wait(sliceMs);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(sliceMs));
    }
}

bool SupervisedProcess::hasExited()
{
    return d->pid <= 0 || d->reap(false);
}

std::uint32_t SupervisedProcess::exitCode() const
{
    if (!d->reaped)
        return 0;
    if (WIFEXITED(d->status))
        return static_cast<std::uint32_t>(WEXITSTATUS(d->status));
    if (d->terminated && WIFSIGNALED(d->status) && WTERMSIG(d->status) == SIGKILL)
        return d->terminateCode;
    if (WIFSIGNALED(d->status))
        return 128u + static_cast<std::uint32_t>(WTERMSIG(d->status));
    return 1;
}

bool SupervisedProcess::sendBreak()
{
    if (d->pid <= 0 || d->reaped)
        return false;
    return ::killpg(d->pid, SIGINT) == 0;
}

bool SupervisedProcess::terminate(std::uint32_t exitCode)
{
    if (d->pid <= 0 || d->reaped)
        return false;
    d->terminated = true;
    d->terminateCode = exitCode;
    return ::kill(d->pid, SIGKILL) == 0;
}

void SupervisedProcess::closeContainment()
{
    if (!d->contained)
        return;
    d->contained = false;
    // The group outlives its leader while members remain, so this also reaches grandchildren.
    ::killpg(d->pid, SIGKILL);
}

std::uint32_t SupervisedProcess::processId() const
{
    return d->pid > 0 ? static_cast<std::uint32_t>(d->pid) : 0;
}

} // namespace platform
