#include "platform/servicehost.h"

#include "platform/win32/handles.h"
#include "platform/win32/widetext.h"
#include "platform/winerror.h"

#include <mutex>
#include <windows.h>

namespace platform {

namespace {

// How long the process waits for its service thread once the service has stopped.
constexpr DWORD serviceThreadExitMs = 10000;

// One service per process: the dispatcher's callbacks are plain functions, so what they need
// lives here.
struct Host
{
    std::mutex mutex;
    ServiceMain serviceMain;
    ServiceControlHandler handler;
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    // The service thread: the dispatcher returns as soon as STOPPED is reported, while that
    // thread is still on its way out.
    win32::UniqueHandle serviceThread;
};

Host &host()
{
    static Host instance;
    return instance;
}

DWORD currentStateOf(ServiceState state)
{
    switch (state) {
    case ServiceState::Stopped:
        return SERVICE_STOPPED;
    case ServiceState::StartPending:
        return SERVICE_START_PENDING;
    case ServiceState::StopPending:
        return SERVICE_STOP_PENDING;
    case ServiceState::Running:
    case ServiceState::Other:
        break;
    }
    return SERVICE_RUNNING;
}

void WINAPI serviceMainEntry(DWORD argc, LPWSTR *argv)
{
    std::vector<std::string> arguments;
    for (DWORD i = 0; i < argc; ++i)
        arguments.push_back(win32::toUtf8(argv[i]));
    ServiceMain serviceMain;
    win32::UniqueHandle self;
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), self.receive(),
                    SYNCHRONIZE, FALSE, 0);
    {
        std::lock_guard lock(host().mutex);
        serviceMain = host().serviceMain;
        host().serviceThread = std::move(self);
    }
    if (serviceMain)
        serviceMain(arguments);
}

// User control codes: the service manager passes them on without knowing what they mean.
constexpr DWORD firstUserControl = 128;
constexpr DWORD lastUserControl = 255;

ServiceControl controlOf(DWORD control, DWORD eventType)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        return ServiceControl::Stop;
    case SERVICE_CONTROL_SHUTDOWN:
        return ServiceControl::Shutdown;
    case SERVICE_CONTROL_POWEREVENT:
        return eventType == PBT_APMRESUMEAUTOMATIC || eventType == PBT_APMRESUMESUSPEND
                   ? ServiceControl::Resumed
                   : ServiceControl::Other;
#if SOLVIKVPN_TEST_SWITCHES
    // Wine sends services no power events and refuses to pass one on from ControlService.
    case resumedControlCode:
        return ServiceControl::Resumed;
    case networkChangedControlCode:
        return ServiceControl::NetworkChanged;
#endif
    default:
        return ServiceControl::Other;
    }
}

DWORD WINAPI controlHandlerEntry(DWORD control, DWORD eventType, LPVOID, LPVOID)
{
    ServiceControlHandler handler;
    {
        std::lock_guard lock(host().mutex);
        handler = host().handler;
    }
    const ServiceControl mapped = controlOf(control, eventType);
    if (handler)
        handler(mapped);
    const bool userControl = control >= firstUserControl && control <= lastUserControl;
    return userControl && mapped == ServiceControl::Other ? ERROR_INVALID_SERVICE_CONTROL
                                                          : NO_ERROR;
}

} // namespace

std::uint32_t runServiceDispatcher(const std::string &serviceName, ServiceMain serviceMain)
{
    auto name = win32::toWide(serviceName);
    if (!name || name->empty() || !serviceMain)
        return winerror::invalidParameter;
    {
        std::lock_guard lock(host().mutex);
        host().serviceMain = std::move(serviceMain);
    }
    SERVICE_TABLE_ENTRYW table[] = {{name->data(), serviceMainEntry}, {nullptr, nullptr}};
    const std::uint32_t result =
        StartServiceCtrlDispatcherW(table) ? winerror::success : GetLastError();
    // Ending the process while the service thread still runs would kill it wherever it is,
    // perhaps holding a lock that the process's own exit needs. A thread that never ends does not
    // keep the process either.
    win32::UniqueHandle serviceThread;
    {
        std::lock_guard lock(host().mutex);
        serviceThread = std::move(host().serviceThread);
    }
    if (serviceThread.valid())
        WaitForSingleObject(serviceThread.get(), serviceThreadExitMs);
    std::lock_guard lock(host().mutex);
    host().serviceMain = nullptr;
    host().handler = nullptr;
    host().statusHandle = nullptr;
    return result;
}

bool registerServiceControlHandler(const std::string &serviceName, ServiceControlHandler handler)
{
    const auto name = win32::toWide(serviceName);
    if (!name || name->empty() || !handler)
        return false;
    {
        std::lock_guard lock(host().mutex);
        host().handler = std::move(handler);
    }
    SERVICE_STATUS_HANDLE statusHandle =
        RegisterServiceCtrlHandlerExW(name->c_str(), controlHandlerEntry, nullptr);
    std::lock_guard lock(host().mutex);
    host().statusHandle = statusHandle;
    if (!statusHandle)
        host().handler = nullptr;
    return statusHandle != nullptr;
}

bool reportServiceStatus(const ServiceStatusReport &report)
{
    // The service thread and the control handler both report: one at a time.
    std::lock_guard lock(host().mutex);
    if (!host().statusHandle)
        return false;
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = currentStateOf(report.state);
    status.dwControlsAccepted = report.acceptsStop ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN |
                                                         SERVICE_ACCEPT_POWEREVENT
                                                   : 0;
    status.dwWin32ExitCode = report.win32ExitCode;
    status.dwServiceSpecificExitCode = report.serviceSpecificExitCode;
    status.dwCheckPoint = report.checkPoint;
    status.dwWaitHint = report.waitHintMs;
    return SetServiceStatus(host().statusHandle, &status) != FALSE;
}

} // namespace platform
