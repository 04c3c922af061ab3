#include "platform/servicecontrol.h"

#include "platform/win32/widetext.h"
#include "platform/winerror.h"

#include <windows.h>

// windows.h maps CreateService to CreateServiceW, which would rename our enumerator here; the
// wide call is spelled out below.
#undef CreateService

namespace platform {

namespace {

DWORD managerRights(ManagerAccess access)
{
    switch (access) {
    case ManagerAccess::CreateService:
        return SC_MANAGER_CREATE_SERVICE;
    case ManagerAccess::Enumerate:
        return SC_MANAGER_ENUMERATE_SERVICE;
    case ManagerAccess::Connect:
        break;
    }
    return SC_MANAGER_CONNECT;
}

DWORD serviceRights(unsigned access)
{
    DWORD rights = 0;
    if (access & ServiceQueryStatus)
        rights |= SERVICE_QUERY_STATUS;
    if (access & ServiceStart)
        rights |= SERVICE_START;
    if (access & ServiceStop)
        rights |= SERVICE_STOP;
    if (access & ServiceDelete)
        rights |= DELETE;
    if (access & ServiceUserControl)
        rights |= SERVICE_USER_DEFINED_CONTROL;
    return rights;
}

ServiceState stateOf(DWORD state)
{
    switch (state) {
    case SERVICE_STOPPED:
        return ServiceState::Stopped;
    case SERVICE_START_PENDING:
        return ServiceState::StartPending;
    case SERVICE_STOP_PENDING:
        return ServiceState::StopPending;
    case SERVICE_RUNNING:
        return ServiceState::Running;
    default:
        return ServiceState::Other;
    }
}

ServiceStatus statusOf(const SERVICE_STATUS_PROCESS &raw)
{
    ServiceStatus status;
    status.state = stateOf(raw.dwCurrentState);
    status.win32ExitCode = raw.dwWin32ExitCode;
    status.serviceSpecificExitCode = raw.dwServiceSpecificExitCode;
    status.processId = raw.dwProcessId;
    status.acceptsStop = (raw.dwControlsAccepted & SERVICE_ACCEPT_STOP) != 0;
    return status;
}

// A failing call whose error number is 0 must still read as a failure.
std::uint32_t lastError(std::uint32_t withoutNumber = winerror::generalFailure)
{
    const DWORD error = GetLastError();
    return error ? error : withoutNumber;
}

// Owns a service manager or service handle; both close with CloseServiceHandle.
struct OwnedScHandle
{
    explicit OwnedScHandle(SC_HANDLE opened)
        : handle(opened)
    {}
    ~OwnedScHandle() { CloseServiceHandle(handle); }
    OwnedScHandle(const OwnedScHandle &) = delete;
    OwnedScHandle &operator=(const OwnedScHandle &) = delete;
    SC_HANDLE handle;
};

} // namespace

struct ServiceHandle::Impl : OwnedScHandle
{
    using OwnedScHandle::OwnedScHandle;
};

struct ServiceManager::Impl : OwnedScHandle
{
    using OwnedScHandle::OwnedScHandle;
};

ServiceHandle::ServiceHandle() = default;
ServiceHandle::~ServiceHandle() = default;
ServiceHandle::ServiceHandle(ServiceHandle &&other) noexcept = default;
ServiceHandle &ServiceHandle::operator=(ServiceHandle &&other) noexcept = default;

void ServiceHandle::close()
{
    d.reset();
}

std::uint32_t ServiceHandle::start()
{
    if (!d)
        return error();
    return StartServiceW(d->handle, 0, nullptr) ? winerror::success : lastError();
}

std::uint32_t ServiceHandle::stop(ServiceStatus *status)
{
    if (!d)
        return error();
    SERVICE_STATUS raw{};
    const bool sent = ControlService(d->handle, SERVICE_CONTROL_STOP, &raw);
    const std::uint32_t result = sent ? winerror::success : lastError();
    if (status) {
        SERVICE_STATUS_PROCESS full{};
        full.dwCurrentState = raw.dwCurrentState;
        full.dwControlsAccepted = raw.dwControlsAccepted;
        full.dwWin32ExitCode = raw.dwWin32ExitCode;
        full.dwServiceSpecificExitCode = raw.dwServiceSpecificExitCode;
        *status = statusOf(full);
    }
    return result;
}

std::uint32_t ServiceHandle::control(std::uint32_t code)
{
    if (!d)
        return error();
    SERVICE_STATUS raw{};
    return ControlService(d->handle, code, &raw) ? winerror::success : lastError();
}

std::uint32_t ServiceHandle::query(ServiceStatus &status)
{
    if (!d)
        return error();
    SERVICE_STATUS_PROCESS raw{};
    DWORD needed = 0;
    // A query that fails without a number reads as a service that did not answer in time.
    if (!QueryServiceStatusEx(d->handle, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&raw),
                              sizeof raw, &needed))
        return lastError(winerror::serviceRequestTimeout);
    status = statusOf(raw);
    return winerror::success;
}

std::uint32_t ServiceHandle::remove()
{
    if (!d)
        return error();
    return DeleteService(d->handle) ? winerror::success : lastError();
}

ServiceManager::ServiceManager(ManagerAccess access)
{
    SC_HANDLE handle = OpenSCManagerW(nullptr, nullptr, managerRights(access));
    if (handle)
        d = std::make_unique<Impl>(handle);
    else
        openError = lastError();
}

ServiceManager::~ServiceManager() = default;
ServiceManager::ServiceManager(ServiceManager &&other) noexcept = default;
ServiceManager &ServiceManager::operator=(ServiceManager &&other) noexcept = default;

ServiceHandle ServiceManager::openService(const std::string &name, unsigned access)
{
    ServiceHandle handle;
    const auto wideName = win32::toWide(name);
    if (!d || !wideName || wideName->empty()) {
        handle.openError = d ? winerror::invalidName : error();
        return handle;
    }
    SC_HANDLE opened = OpenServiceW(d->handle, wideName->c_str(), serviceRights(access));
    if (opened)
        handle.d = std::make_unique<ServiceHandle::Impl>(opened);
    else
        handle.openError = lastError();
    return handle;
}

ServiceHandle ServiceManager::createService(const ServiceDefinition &definition, unsigned access)
{
    ServiceHandle handle;
    const auto name = win32::toWide(definition.name);
    const auto displayName = win32::toWide(definition.displayName);
    const auto commandLine = win32::toWide(definition.commandLine);
    if (!d || !name || !displayName || !commandLine || name->empty()) {
        handle.openError = d ? winerror::invalidName : error();
        return handle;
    }
    const DWORD startType =
        definition.startType == ServiceStartType::Auto ? SERVICE_AUTO_START : SERVICE_DEMAND_START;
    // LocalSystem: no account, no password; no load order group, tag or dependencies.
    SC_HANDLE created =
        CreateServiceW(d->handle, name->c_str(), displayName->c_str(), serviceRights(access),
                       SERVICE_WIN32_OWN_PROCESS, startType, SERVICE_ERROR_NORMAL,
                       commandLine->c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (created)
        handle.d = std::make_unique<ServiceHandle::Impl>(created);
    else
        handle.openError = lastError();
    return handle;
}

std::uint32_t ServiceManager::enumerateServices(std::vector<ServiceEntry> &entries)
{
    entries.clear();
    if (!d)
        return error();
    DWORD resume = 0;
    for (;;) {
        // First ask for the size, then fetch; more services may appear in between, so the
        // resume handle carries on where a short buffer stopped.
        DWORD needed = 0;
        DWORD count = 0;
        const DWORD resumeBefore = resume;
        BOOL done =
            EnumServicesStatusExW(d->handle, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                  nullptr, 0, &needed, &count, &resume, nullptr);
        if (done)
            return winerror::success;
        if (GetLastError() != ERROR_MORE_DATA)
            return lastError();
        resume = resumeBefore;
        std::vector<BYTE> buffer(needed);
        done = EnumServicesStatusExW(
            d->handle, SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL, buffer.data(),
            static_cast<DWORD>(buffer.size()), &needed, &count, &resume, nullptr);
        if (!done && GetLastError() != ERROR_MORE_DATA)
            return lastError();
        const auto *services =
            reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW *>(buffer.data());
        for (DWORD i = 0; i < count; ++i) {
            entries.push_back({win32::toUtf8(services[i].lpServiceName),
                               statusOf(services[i].ServiceStatusProcess)});
        }
        if (done)
            return winerror::success;
    }
}

} // namespace platform
