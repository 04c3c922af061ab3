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
// command prompt. STOP reaches the service as SIGTERM; the dispatcher turns it into a control
// on the dispatcher thread, as on Windows. Status reports are written into the record
// atomically under the state directory's lock.
namespace platform {

enum class ServiceControl
{
    Stop,
    Shutdown,
    Other
};

// What a service reports (SERVICE_STATUS with type own-process).
struct ServiceStatusReport
{
    ServiceState state = ServiceState::StartPending;
    bool acceptsStop = false; // SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
    std::uint32_t win32ExitCode = 0;
    std::uint32_t serviceSpecificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHintMs = 0;
};

// Runs on the dispatcher thread for every control the service receives.
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
