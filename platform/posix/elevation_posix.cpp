#include "platform/elevation.h"

#include "platform/exitstatus.h"
#include "platform/posix/childexec.h"
#include "platform/posix/fileio.h"
#include "platform/posix/posixerror.h"
#include "platform/testswitch.h"
#include "platform/winerror.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace platform {

namespace {

constexpr char pkexecPath[] = "/usr/bin/pkexec";
// pkexec's exit codes for its own outcomes.
constexpr int pkexecDismissed = 126;
constexpr int pkexecNotAuthorised = 127;

struct Elevator
{
    bool direct = true;
    std::string program;
};

Elevator chooseElevator()
{
    if (const std::optional<std::string> choice = testSwitch(TestSwitch::Elevation)) {
        if (*choice == "direct")
            return {};
        return {false, *choice};
    }
    if (::geteuid() == 0)
        return {};
    return {false, pkexecPath};
}

// Runs in the forked child: only async-signal-safe calls until exec.
[[noreturn]] void execChild(int nullInput, int errorPipe, char *const argv[])
{
    childexec::resetSignals();
    if (::dup2(nullInput, STDIN_FILENO) >= 0) {
        childexec::keepOnlyStandardStreams();
        ::execv(argv[0], argv);
    }
    childexec::reportFailure(errorPipe);
}

} // namespace

struct ElevatedProcess::Impl
{
    pid_t pid = -1;
    // Readable once the program has ended; the program is not reaped until poll().
    posix::UniqueFd endDescriptor;
    bool direct = true;
    bool reaped = false;
    State state = State::Running;
    std::uint32_t exitCode = 1;

    Impl() = default;
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;
    ~Impl()
    {
        if (pid <= 0 || reaped)
            return;
        // Like a closed Windows handle, the program runs on; someone must still reap it.
        std::thread([child = pid] { childexec::reap(child); }).detach();
    }
};

ElevatedProcess::ElevatedProcess() = default;
ElevatedProcess::~ElevatedProcess() = default;
ElevatedProcess::ElevatedProcess(ElevatedProcess &&other) noexcept = default;
ElevatedProcess &ElevatedProcess::operator=(ElevatedProcess &&other) noexcept = default;

std::uint32_t ElevatedProcess::start(const std::string &program, const std::string &argumentText)
{
    if (isOpen())
        return winerror::invalidParameter;
    const Elevator elevator = chooseElevator();
    // pkexec insists on absolute paths, and a relative one would depend on our working directory.
    if (program.empty() || program.front() != '/' ||
        (!elevator.direct && elevator.program.front() != '/'))
        return winerror::invalidParameter;

    std::vector<std::string> words;
    if (!elevator.direct)
        words.push_back(elevator.program);
    words.push_back(program);
    for (std::string &argument : splitArgumentText(argumentText))
        words.push_back(std::move(argument));
    std::vector<char *> argv = childexec::argumentVector(words);

    posix::UniqueFd nullInput(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    posix::Pipe errorPipe;
    if (!nullInput.valid() || !posix::makePipe(errorPipe, O_CLOEXEC))
        return windowsErrorFromErrno(errno);
    const pid_t pid = ::fork();
    if (pid == 0)
        execChild(nullInput.get(), errorPipe.write.get(), argv.data());
    const int forkErrno = errno;
    errorPipe.write.close();
    if (pid < 0)
        return windowsErrorFromErrno(forkErrno);
    // The pipe closes at a successful exec; an errno arriving instead means the exec failed.
    int childErrno = 0;
    if (posix::readFully(errorPipe.read.get(), &childErrno, sizeof childErrno)) {
        childexec::reap(pid);
        return windowsErrorFromErrno(childErrno);
    }
    d = std::make_unique<Impl>();
    d->pid = pid;
    // Our own unreaped child: its number cannot have been reused yet.
    d->endDescriptor = posix::UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    d->direct = elevator.direct;
    return winerror::success;
}

ElevatedProcess::State ElevatedProcess::poll()
{
    if (!isOpen())
        return State::Exited;
    if (d->reaped)
        return d->state;
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(d->pid, &status, WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result == 0)
        return State::Running;
    d->reaped = true;
    d->state = State::Exited;
    d->exitCode = 1; // reaped by someone else: the code is lost
    if (result != d->pid)
        return d->state;
    if (WIFSIGNALED(status)) {
        d->exitCode = 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    } else if (WIFEXITED(status)) {
        const int code = WEXITSTATUS(status);
        if (!d->direct && (code == pkexecDismissed || code == pkexecNotAuthorised)) {
            d->state = State::ElevationRefused;
            d->exitCode = code == pkexecDismissed ? winerror::cancelled : winerror::accessDenied;
        } else {
            d->exitCode = fromExitStatus(code);
        }
    }
    return d->state;
}

std::uint32_t ElevatedProcess::exitCode() const
{
    return d ? d->exitCode : 1;
}

std::intptr_t ElevatedProcess::endHandle() const
{
    return isOpen() && d->endDescriptor.get() >= 0 ? d->endDescriptor.get() : -1;
}

bool ElevatedProcess::isOpen() const
{
    return d && d->pid > 0;
}

void ElevatedProcess::close()
{
    d.reset();
}

std::vector<std::string> splitArgumentText(const std::string &argumentText)
{
    std::vector<std::string> arguments;
    std::string current;
    bool started = false;
    int quotes = 0; // 0 outside quotes, 1 inside
    std::size_t backslashes = 0;
    const std::size_t length = argumentText.size();
    for (std::size_t i = 0; i < length; ++i) {
        const char c = argumentText[i];
        if ((c == ' ' || c == '\t') && quotes == 0) {
            if (started)
                arguments.push_back(std::move(current));
            current.clear();
            started = false;
            backslashes = 0;
            continue;
        }
        started = true;
        if (c == '\\') {
            current += c;
            ++backslashes;
            continue;
        }
        if (c != '"') {
            current += c;
            backslashes = 0;
            continue;
        }
        if (backslashes % 2 == 0) {
            current.resize(current.size() - backslashes / 2);
            ++quotes;
        } else {
            current.resize(current.size() - backslashes / 2 - 1);
            current += '"';
        }
        backslashes = 0;
        // A run of quotes: every third one (counting the opening) is a literal quote.
        while (i + 1 < length && argumentText[i + 1] == '"') {
            ++i;
            if (++quotes == 3) {
                current += '"';
                quotes = 0;
            }
        }
        if (quotes == 2)
            quotes = 0;
    }
    if (started)
        arguments.push_back(std::move(current));
    return arguments;
}

} // namespace platform
