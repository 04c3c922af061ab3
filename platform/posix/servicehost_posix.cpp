#include "platform/servicehost.h"

#include "platform/posix/servicerecord.h"
#include "platform/winerror.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

namespace platform {

namespace record = servicerecord;

namespace {

// One service per process, as in a Windows own-process service.
struct Host
{
    std::mutex mutex;
    std::string root;
    std::string name;
    std::uint64_t id = 0;
    bool dispatching = false;
    ServiceControlHandler handler;
};

Host &host()
{
    static Host instance;
    return instance;
}

// The record named by the environment must be ours: in a sound state directory, for this
// service, and started for this very process. Anything else means we were not started by
// the manager.
bool adoptRecord(const std::string &serviceName, std::string &root, std::uint64_t &id)
{
    const char *variable = std::getenv(record::recordVariable);
    if (!variable || !record::isValidServiceName(serviceName))
        return false;
    const std::string path = variable;
    ::unsetenv(record::recordVariable); // our children are not services
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return false;
    root = path.substr(0, slash);
    if (root != record::configuredRoot() || path.substr(slash + 1) != serviceName + ".service" ||
        record::checkRoot(root) != winerror::success)
        return false;
    record::Lock lock(root);
    record::Record entry;
    if (!lock.isLocked() || !record::read(root, serviceName, entry) || entry.pid != ::getpid())
        return false;
    id = entry.id;
    return true;
}

// The control a signal taken by the dispatcher stands for; the user controls only in test builds.
std::optional<ServiceControl> controlOf(int signal)
{
    if (signal == SIGTERM)
        return ServiceControl::Stop;
#if SOLVIKVPN_TEST_SWITCHES
    if (signal == record::resumedSignal)
        return ServiceControl::Resumed;
    if (signal == record::networkChangedSignal)
        return ServiceControl::NetworkChanged;
#endif
    return std::nullopt;
}

} // namespace

std::uint32_t runServiceDispatcher(const std::string &serviceName, ServiceMain serviceMain)
{
    std::string root;
    std::uint64_t id = 0;
    if (!serviceMain || !adoptRecord(serviceName, root, id))
        return winerror::failedServiceControllerConnect;
    {
        std::lock_guard lock(host().mutex);
        host().root = root;
        host().name = serviceName;
        host().id = id;
        host().dispatching = true;
    }
    // STOP arrives as SIGTERM, the user controls as their signals. Blocked here before the
    // service thread exists, so every thread inherits the mask and only this loop takes them,
    // like the dispatcher thread; a release build takes the user signals and drops them.
    sigset_t controlSignals;
    sigemptyset(&controlSignals);
    sigaddset(&controlSignals, SIGTERM);
    sigaddset(&controlSignals, record::resumedSignal);
    sigaddset(&controlSignals, record::networkChangedSignal);
    ::pthread_sigmask(SIG_BLOCK, &controlSignals, nullptr);
    std::atomic<bool> finished{false};
    std::thread service([&] {
        serviceMain({serviceName});
        finished = true;
    });
    const timespec slice{0, 50 * 1000 * 1000};
    while (!finished) {
        const auto control = controlOf(::sigtimedwait(&controlSignals, nullptr, &slice));
        if (!control)
            continue;
        ServiceControlHandler handler;
        {
            std::lock_guard lock(host().mutex);
            handler = host().handler;
        }
        if (handler)
            handler(*control);
    }
    service.join();
    std::lock_guard lock(host().mutex);
    host().dispatching = false;
    host().handler = nullptr;
    return winerror::success;
}

bool registerServiceControlHandler(const std::string &serviceName, ServiceControlHandler handler)
{
    std::lock_guard lock(host().mutex);
    if (!host().dispatching || serviceName != host().name || !handler)
        return false;
    host().handler = std::move(handler);
    return true;
}

bool reportServiceStatus(const ServiceStatusReport &report)
{
    std::lock_guard lock(host().mutex);
    if (!host().dispatching || !host().handler)
        return false;
    record::Lock stateLock(host().root);
    record::Record entry;
    if (!stateLock.isLocked() || !record::read(host().root, host().name, entry) ||
        entry.id != host().id || entry.pid != ::getpid())
        return false;
    entry.state = report.state;
    entry.acceptsStop = report.acceptsStop;
    entry.exitCode = report.win32ExitCode;
    entry.specificExitCode = report.serviceSpecificExitCode;
    entry.checkPoint = report.checkPoint;
    entry.waitHint = report.waitHintMs;
    if (report.state == ServiceState::Stopped) {
        entry.pid = 0;
        entry.pidStart = 0;
        entry.acceptsStop = false;
        if (entry.deleted) {
            record::remove(host().root, host().name);
            return true;
        }
    }
    return record::write(host().root, entry);
}

} // namespace platform
