#include "platform/elevation.h"

#include "platform/win32/handles.h"
#include "platform/win32/widetext.h"
#include "platform/winerror.h"

#include <windows.h>

#include <shellapi.h>

namespace platform {

struct ElevatedProcess::Impl
{
    win32::UniqueHandle process;
    std::uint32_t exitCode = 1;
    bool exited = false;
};

ElevatedProcess::ElevatedProcess() = default;
ElevatedProcess::~ElevatedProcess() = default;
ElevatedProcess::ElevatedProcess(ElevatedProcess &&other) noexcept = default;
ElevatedProcess &ElevatedProcess::operator=(ElevatedProcess &&other) noexcept = default;

std::uint32_t ElevatedProcess::start(const std::string &program, const std::string &argumentText)
{
    if (isOpen())
        return winerror::invalidParameter;
    const std::optional<std::wstring> file = win32::toWide(program);
    const std::optional<std::wstring> parameters = win32::toWide(argumentText);
    if (!file || !parameters || file->empty())
        return winerror::invalidParameter;

    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"runas";
    info.lpFile = file->c_str();
    info.lpParameters = parameters->c_str();
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) {
        const DWORD error = GetLastError();
        return error != 0 ? error : winerror::generalFailure;
    }
    // Without a process handle (the shell handed the request on) there is nothing to watch.
    if (!info.hProcess)
        return winerror::generalFailure;
    d = std::make_unique<Impl>();
    d->process = win32::UniqueHandle(info.hProcess);
    return winerror::success;
}

ElevatedProcess::State ElevatedProcess::poll()
{
    if (!isOpen() || d->exited)
        return State::Exited;
    const DWORD wait = WaitForSingleObject(d->process.get(), 0);
    if (wait == WAIT_TIMEOUT)
        return State::Running;
    // WAIT_FAILED would otherwise be polled forever: count it as an end with an unreadable code.
    DWORD code = 0;
    d->exitCode = wait == WAIT_OBJECT_0 && GetExitCodeProcess(d->process.get(), &code) ? code : 1;
    d->exited = true;
    return State::Exited;
}

std::uint32_t ElevatedProcess::exitCode() const
{
    return d ? d->exitCode : 1;
}

std::intptr_t ElevatedProcess::endHandle() const
{
    return isOpen() ? reinterpret_cast<std::intptr_t>(d->process.get()) : -1;
}

bool ElevatedProcess::isOpen() const
{
    return d && d->process.valid();
}

void ElevatedProcess::close()
{
    d.reset();
}

std::vector<std::string> splitArgumentText(const std::string &argumentText)
{
    // A stand-in program name first, as the rules for it differ from the arguments'.
    const std::optional<std::wstring> wide = win32::toWide(argumentText);
    if (!wide)
        return {};
    const std::wstring commandLine = L"program " + *wide;
    int count = 0;
    win32::LocalMemory<LPWSTR *> argv;
    *argv.receive() = CommandLineToArgvW(commandLine.c_str(), &count);
    if (!argv.get())
        return {};
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(win32::toUtf8(argv.get()[i]));
    return arguments;
}

} // namespace platform
