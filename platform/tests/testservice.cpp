// A service program for the service-control tests, run by the service manager as
//   <self> <service name> <exit code> <mode>
// with mode "normal" (report RUNNING, wait for STOP, report STOPPED with the exit code) or
// "die" (report RUNNING, then end abruptly without a final report). While running, a resume or
// network-change control is answered by reporting RUNNING again with its user control code as
// the exit code, so that a test sees which control arrived. Run by hand it exits with the
// dispatcher's error (1063).
#include "platform/event.h"
#include "platform/servicehost.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

platform::Event stopRequested;

void report(platform::ServiceState state, std::uint32_t exitCode)
{
    platform::ServiceStatusReport status;
    status.state = state;
    status.acceptsStop = state == platform::ServiceState::Running;
    status.win32ExitCode = exitCode;
    status.waitHintMs = state == platform::ServiceState::StartPending ? 25000 : 0;
    platform::reportServiceStatus(status);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return 87;
    const std::string name = argv[1];
    const auto exitCode = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 10));
    const std::string mode = argv[3];
    return static_cast<int>(
        platform::runServiceDispatcher(name, [&](const std::vector<std::string> &) {
            if (!platform::registerServiceControlHandler(
                    name, [](platform::ServiceControl control) {
                        using platform::ServiceControl;
                        if (control == ServiceControl::Stop ||
                            control == ServiceControl::Shutdown) {
                            report(platform::ServiceState::StopPending, 0);
                            stopRequested.set();
                        } else if (control != ServiceControl::Other) {
                            report(platform::ServiceState::Running,
                                   control == ServiceControl::Resumed
                                       ? platform::resumedControlCode
                                       : platform::networkChangedControlCode);
                        }
                    }))
                return;
            report(platform::ServiceState::StartPending, 0);
            report(platform::ServiceState::Running, 0);
            if (mode == "die") {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                std::_Exit(3);
            }
            stopRequested.wait(-1);
            report(platform::ServiceState::Stopped, exitCode);
        }));
}
