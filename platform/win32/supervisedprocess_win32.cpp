#include "platform/supervisedprocess.h"

#include "platform/win32/eventimpl.h"
#include "platform/win32/handles.h"
#include "platform/win32/widetext.h"
#include "platform/winerror.h"

#include <atomic>

namespace platform {

namespace {

// Quotes one argument so that the child's CommandLineToArgvW reads it back unchanged.
std::wstring quoteArgument(const std::wstring &argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
        return argument;
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

} // namespace

struct SupervisedProcess::Impl
{
    win32::UniqueHandle process;
    win32::UniqueHandle job;
    win32::UniqueHandle input;
    win32::UniqueHandle output;
    DWORD processId = 0;
    bool ownsConsole = false;
    std::atomic<bool> outputCancelled{false};
};

SupervisedProcess::SupervisedProcess()
    : d(std::make_unique<Impl>())
{}

SupervisedProcess::~SupervisedProcess()
{
    closeContainment();
    d->process.close();
    d->input.close();
    d->output.close();
    if (d->ownsConsole)
        FreeConsole();
}

std::uint32_t SupervisedProcess::start(const std::string &program,
                                       const std::vector<std::string> &arguments,
                                       const std::string &workingDirectory)
{
    if (d->process.valid())
        return winerror::invalidParameter;
    const auto wideProgram = win32::toWide(program);
    const auto wideDirectory = win32::toWide(workingDirectory);
    if (!wideProgram || !wideDirectory)
        return winerror::invalidParameter;
    std::wstring commandLine = L"\"" + win32::nativeSeparators(*wideProgram) + L"\"";
    for (const auto &argument : arguments) {
        const auto wide = win32::toWide(argument);
        if (!wide)
            return winerror::invalidParameter;
        commandLine += L" " + quoteArgument(*wide);
    }

    // Both pipes are created inheritable; our ends are then made private to us.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    win32::UniqueHandle inputRead, inputWrite, outputRead, outputWrite;
    if (!CreatePipe(inputRead.receive(), inputWrite.receive(), &inheritable, 0) ||
        !SetHandleInformation(inputWrite.get(), HANDLE_FLAG_INHERIT, 0))
        return GetLastError();
    if (!CreatePipe(outputRead.receive(), outputWrite.receive(), &inheritable, 0) ||
        !SetHandleInformation(outputRead.get(), HANDLE_FLAG_INHERIT, 0))
        return GetLastError();

    // Ctrl-Break travels through a console: give the child a hidden one shared with us.
    if (!GetConsoleWindow() && AllocConsole()) {
        d->ownsConsole = true;
        if (HWND window = GetConsoleWindow())
            ShowWindow(window, SW_HIDE);
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdInput = inputRead.get();
    startup.hStdOutput = outputWrite.get();
    startup.hStdError = outputWrite.get();
    PROCESS_INFORMATION created{};
    const std::wstring nativeProgram = win32::nativeSeparators(*wideProgram);
    const std::wstring nativeDirectory = win32::nativeSeparators(*wideDirectory);
    if (!CreateProcessW(nativeProgram.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                        CREATE_SUSPENDED | CREATE_NEW_PROCESS_GROUP, nullptr,
                        nativeDirectory.empty() ? nullptr : nativeDirectory.c_str(), &startup,
                        &created))
        return GetLastError();
    win32::UniqueHandle process(created.hProcess);
    win32::UniqueHandle thread(created.hThread);
    inputRead.close();
    outputWrite.close();

    // Contained before it runs a single instruction: nothing it starts can escape the job.
    win32::UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!job.valid() ||
        !SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) ||
        !AssignProcessToJobObject(job.get(), process.get())) {
        TerminateProcess(process.get(), 1);
        return winerror::accessDenied;
    }
    ResumeThread(thread.get());
    d->process = std::move(process);
    d->job = std::move(job);
    d->input = std::move(inputWrite);
    d->output = std::move(outputRead);
    d->processId = created.dwProcessId;
    return winerror::success;
}

void SupervisedProcess::exemptFromFirewall() {}

bool SupervisedProcess::writeInput(const void *data, std::size_t size)
{
    if (!d->input.valid())
        return false;
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(d->input.get(), bytes, chunk, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

void SupervisedProcess::closeInput()
{
    d->input.close();
}

std::size_t SupervisedProcess::readOutput(void *buffer, std::size_t size)
{
    const HANDLE output = d->output.get();
    DWORD got = 0;
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    if (d->outputCancelled || !d->output.valid() || !ReadFile(output, buffer, chunk, &got, nullptr))
        return 0;
    return got;
}

void SupervisedProcess::cancelOutput()
{
    d->outputCancelled = true;
    // A read already waiting in ReadFile is cancelled; one that starts later sees the flag.
    if (d->output.valid())
        CancelIoEx(d->output.get(), nullptr);
}

void SupervisedProcess::closeOutput()
{
    d->output.close();
}

SupervisedProcess::WaitResult SupervisedProcess::wait(int timeoutMs, const Event *stop)
{
    if (!d->process.valid())
        return WaitResult::Exited;
    const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    HANDLE handles[2] = {d->process.get(), nullptr};
    DWORD count = 1;
    if (stop && stop->d->handle.valid())
        handles[count++] = stop->d->handle.get();
    switch (WaitForMultipleObjects(count, handles, FALSE, timeout)) {
    case WAIT_OBJECT_0:
        return WaitResult::Exited;
    case WAIT_OBJECT_0 + 1:
        return WaitResult::EventSet;
    default:
        return WaitResult::TimedOut;
    }
}

bool SupervisedProcess::hasExited()
{
    return wait(0) == WaitResult::Exited;
}

std::uint32_t SupervisedProcess::exitCode() const
{
    DWORD code = 0;
    if (!d->process.valid() || !GetExitCodeProcess(d->process.get(), &code) || code == STILL_ACTIVE)
        return 0;
    return code;
}

bool SupervisedProcess::sendBreak()
{
    return d->process.valid() && GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, d->processId);
}

bool SupervisedProcess::terminate(std::uint32_t exitCode)
{
    return d->process.valid() && TerminateProcess(d->process.get(), exitCode);
}

void SupervisedProcess::closeContainment()
{
    d->job.close();
}

std::uint32_t SupervisedProcess::processId() const
{
    return d->processId;
}

} // namespace platform
