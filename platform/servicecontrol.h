#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The manager side of service control: install, start, stop, query, delete and enumerate
// services. Every operation returns a Windows error number (platform/winerror.h), 0 on success.
//
// Windows: the Service Control Manager. POSIX: a small manager of our own with the same
// semantics, keeping one record file per service under a root-owned state directory,
// "/var/lib/solvikvpn/services" unless the environment variable SOLVIKVPN_SERVICE_ROOT names
// another one (tests point it at a temporary directory). The directory and its records are
// treated as untrusted input: a directory not owned by this account or writable by others
// is refused with 5, a malformed record reads as absent.
namespace platform {

enum class ServiceState
{
    Stopped,
    StartPending,
    StopPending,
    Running,
    Other
};

struct ServiceStatus
{
    ServiceState state = ServiceState::Stopped;
    std::uint32_t win32ExitCode = 0; // the service's exit code (1067 when it died)
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t processId = 0; // 0 when no process runs
    bool acceptsStop = false;    // the service currently accepts STOP
};

enum class ServiceStartType
{
    Demand,
    Auto
};

// What a new service runs. `commandLine` is the full command line as Windows stores it
// (lpBinaryPathName): the program, quoted when it contains spaces, then the arguments; an
// argument with spaces is enclosed in double quotes. The POSIX half splits it by the same
// quoting rules (no escapes: double quotes only group).
struct ServiceDefinition
{
    std::string name;
    std::string displayName;
    std::string commandLine;
    ServiceStartType startType = ServiceStartType::Demand;
};

// Access asked for when opening the manager (SC_MANAGER_CONNECT, SC_MANAGER_CREATE_SERVICE,
// SC_MANAGER_ENUMERATE_SERVICE).
enum class ManagerAccess
{
    Connect,
    CreateService,
    Enumerate
};

// Access asked for on a service; combine with |. An operation the handle was not opened for
// fails with 5 on both halves.
enum ServiceAccess : unsigned
{
    ServiceQueryStatus = 1u,  // SERVICE_QUERY_STATUS
    ServiceStart = 2u,        // SERVICE_START
    ServiceStop = 4u,         // SERVICE_STOP
    ServiceDelete = 8u,       // DELETE
    ServiceUserControl = 16u, // SERVICE_USER_DEFINED_CONTROL
};

// An open service (SC_HANDLE on Windows), closed by the destructor. Move-only.
class ServiceHandle
{
public:
    ServiceHandle();
    ~ServiceHandle();
    ServiceHandle(ServiceHandle &&other) noexcept;
    ServiceHandle &operator=(ServiceHandle &&other) noexcept;
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;

    bool isOpen() const;
    // The error number of the open or create that produced this handle; 0 when open.
    std::uint32_t error() const;

    // StartServiceW without arguments. 1056 when already running, 1072 when marked for deletion.
    std::uint32_t start();
    // ControlService(SERVICE_CONTROL_STOP). 1062 when not running, 1061 when the service does
    // not accept STOP right now. `status` (optional) receives the status after the control.
    std::uint32_t stop(ServiceStatus *status = nullptr);
    // ControlService with a user control code (128-255, platform/servicehost.h). 1062 when not
    // running, 1061 while it starts or stops, 1052 for a code the service does not take. POSIX:
    // the codes 200 and 201 travel as signals to the service process, any other is 1052.
    std::uint32_t control(std::uint32_t code);
    // QueryServiceStatusEx(SC_STATUS_PROCESS_INFO).
    std::uint32_t query(ServiceStatus &status);
    // DeleteService: the service goes once it is stopped and every handle to it is closed;
    // until then it is "marked for deletion" (1072 for a second delete or a create of the name).
    std::uint32_t remove();

    // Closes the handle now (CloseServiceHandle).
    void close();

    struct Impl;

private:
    friend class ServiceManager;
    std::unique_ptr<Impl> d;
    std::uint32_t openError = 0;
};

struct ServiceEntry
{
    std::string name;
    ServiceStatus status;
};

// A connection to the service manager (OpenSCManagerW on the local machine), closed by the
// destructor. Move-only.
class ServiceManager
{
public:
    explicit ServiceManager(ManagerAccess access);
    ~ServiceManager();
    ServiceManager(ServiceManager &&other) noexcept;
    ServiceManager &operator=(ServiceManager &&other) noexcept;
    ServiceManager(const ServiceManager &) = delete;
    ServiceManager &operator=(const ServiceManager &) = delete;

    bool isOpen() const;
    std::uint32_t error() const; // 0 when open, else the error of opening the manager

    // OpenServiceW. The handle's error() is 1060 for an unknown service.
    ServiceHandle openService(const std::string &name, unsigned access);
    // CreateServiceW: own process, error control normal, LocalSystem, no group or dependencies.
    // 1073 when the name exists, 1072 while a deleted service of that name still runs.
    ServiceHandle createService(const ServiceDefinition &definition, unsigned access);
    // EnumServicesStatusExW(SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL): every
    // service in every state. `entries` is replaced.
    std::uint32_t enumerateServices(std::vector<ServiceEntry> &entries);

    struct Impl;

private:
    std::unique_ptr<Impl> d;
    std::uint32_t openError = 0;
};

} // namespace platform
