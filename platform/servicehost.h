#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/servicecontrol.h"

// The service side of service control: run inside the service manager's dispatcher and report
// status. One service per process.
//
// POSIX: the manager starts a service in its own session with the environment variable
// SOLVIKVPN_SERVICE_RECORD naming its record; without it (or with a record that does not name
// this process) runServiceDispatcher returns 1063, as Windows does for a program started from a
// command prompt. STOP reaches the service as SIGTERM, the user controls 200 and 201 as SIGUSR1
// and SIGUSR2; the dispatcher turns them into controls on the dispatcher thread, as on Windows.
// Status reports are written into the record atomically under the state directory's lock.
namespace platform {

enum class ServiceControl
{
    Stop,
    Shutdown,
    // The machine woke from sleep: a power event, or in test builds the user control 200.
    Resumed,
    // Test builds only: the user control 201, standing in for a NetworkWatch notification, which
    // Wine never sends.
    NetworkChanged,
    Other
};

// User control codes (128-255) a test build maps to Resumed and NetworkChanged; a release build
// maps every user code to Other.
inline constexpr std::uint32_t resumedControlCode = 200;
inline constexpr std::uint32_t networkChangedControlCode = 201;

// What a service reports (SERVICE_STATUS with type own-process).
struct ServiceStatusReport
{
    ServiceState state = ServiceState::StartPending;
    // SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN, and SERVICE_ACCEPT_POWEREVENT with them.
    bool acceptsStop = false;
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHintMs = 0;
};

// Runs on the dispatcher thread for every control the service receives. Windows: a resume
// (PBT_APMRESUMEAUTOMATIC or PBT_APMRESUMESUSPEND) is Resumed, any other power event Other; a
// user code the service does not take is Other and answered with 1052.
using ServiceControlHandler = std::function<void(ServiceControl)>;
// The service's main function; runs on a thread of its own with the start arguments (the first
// is the service name, as Windows passes it).
using ServiceMain = std::function<void(const std::vector<std::string> &arguments)>;

// StartServiceCtrlDispatcherW with one table entry. Blocks until the service has stopped (its
// main function has returned). Returns 0, or the error of connecting to the manager (1063 when
// the process was not started as a service).
std::uint32_t runServiceDispatcher(const std::string &serviceName, ServiceMain serviceMain);

// RegisterServiceCtrlHandlerExW for the running service; call it first in the service main.
// False when registration fails (the service then returns without reporting anything).
bool registerServiceControlHandler(const std::string &serviceName, ServiceControlHandler handler);

// SetServiceStatus with the handle registered above. Safe to call from the service thread and
// from the control handler at the same time. False when no handler is registered or the manager
// refuses the report.
bool reportServiceStatus(const ServiceStatusReport &report);

} // namespace platform
