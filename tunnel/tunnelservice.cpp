#include "tunnel/tunnelservice.h"

#include "common/tunnelcontract.h"
#include "platform/event.h"
#include "platform/servicehost.h"
#include "platform/winerror.h"
#include "tunnel/enginesupervisor.h"

#include <mutex>

using platform::ServiceState;

namespace tunnelservice {

namespace {

constexpr std::uint32_t pendingWaitHintMs = 25000;

// The status record is written by the control handler (dispatcher thread) and by the service
// thread; the lock keeps the checkpoint count and the report in step.
class StatusRecord
{
public:
    void report(ServiceState state, std::uint32_t exitCode)
    {
        const std::lock_guard lock(m_mutex);
        // A late control must not reopen a service that already reported its end.
        if (m_stopped) {
            return;
        }
        m_stopped = state == ServiceState::Stopped;
        platform::ServiceStatusReport status;
        status.state = state;
        status.win32ExitCode = exitCode;
        const bool pending =
            state == ServiceState::StartPending || state == ServiceState::StopPending;
        status.acceptsStop = state == ServiceState::Running;
        status.waitHintMs = pending ? pendingWaitHintMs : 0;
        m_checkPoint = pending ? m_checkPoint + 1 : 0;
        status.checkPoint = m_checkPoint;
        platform::reportServiceStatus(status);
    }

private:
    std::mutex m_mutex;
    std::uint32_t m_checkPoint = 0;
    bool m_stopped = false;
};

void runTunnelService(const QString &serviceName, StatusRecord &record, platform::Event &stopEvent,
                      EngineSupervisor &supervisor)
{
    const bool registered = platform::registerServiceControlHandler(
        serviceName.toStdString(),
        [&record, &stopEvent, &supervisor](platform::ServiceControl control) {
            switch (control) {
            case platform::ServiceControl::Stop:
            case platform::ServiceControl::Shutdown:
                record.report(ServiceState::StopPending, 0);
                stopEvent.set();
                break;
            case platform::ServiceControl::Resumed:
            case platform::ServiceControl::NetworkChanged:
                supervisor.requestCheck();
                break;
            case platform::ServiceControl::Other:
                break;
            }
        });
    if (!registered) {
        return;
    }
    if (!stopEvent.isValid()) {
        record.report(ServiceState::Stopped, platform::winerror::notEnoughMemory);
        return;
    }
    supervisor.run(stopEvent);
}

} // namespace

std::uint32_t runServiceMode(const QString &tunnelName, const QString &profilePath,
                             const QString &applicationDirectory,
                             const tunnelcontract::TunnelOptions &options)
{
    // All three outlive the dispatcher, so a control that arrives while the service thread ends
    // still finds them.
    StatusRecord record;
    platform::Event stopEvent;
    EngineSupervisor supervisor(
        applicationDirectory, tunnelName, profilePath, options,
        [&record](ServiceState state, std::uint32_t exitCode) { record.report(state, exitCode); });
    const QString serviceName = tunnelcontract::serviceName(tunnelName);
    return platform::runServiceDispatcher(
        serviceName.toStdString(), [&](const std::vector<std::string> &) {
            runTunnelService(serviceName, record, stopEvent, supervisor);
        });
}

} // namespace tunnelservice
