#include "tunnel/tunnelhelper.h"

#include "common/enginecommand.h"
#include "common/tunnelcontract.h"
#include "platform/servicecontrol.h"
#include "platform/systemfolder.h"
#include "platform/testswitch.h"
#include "platform/winerror.h"
#include "tunnel/healthcheck.h"
#include "tunnel/pollschedule.h"
#include "tunnel/tunnelfirewall.h"
#include "tunnel/tunnelprofilefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>

#include <algorithm>

#include <chrono>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;
namespace winerror = platform::winerror;

namespace tunnelhelper {

namespace {

constexpr auto pollInterval = std::chrono::milliseconds(100);
constexpr int stopQueries = 200;   // 20 s for a service to stop
constexpr int startQueries = 250;  // 25 s for a service to come up
constexpr int createAttempts = 20; // 2 s for an old service marked for deletion to go

// Anchored on the whole name: "$" alone would also match before a trailing line feed.
bool matches(const char *pattern, const QString &text)
{
    const QRegularExpression expression{
        QRegularExpression::anchoredPattern(QString::fromLatin1(pattern))};
    return expression.match(text).hasMatch();
}

// Queries the service (the first time at once) until `done` accepts its status, for as long as
// `queries` queries 100 ms apart would take; the pauses start short (PollSchedule), so a service
// that is there at once is seen at once. 0 when it did; else the failed query's error number, or
// 1053 when the service never got there.
template<typename Done>
std::uint32_t pollUntil(platform::ServiceHandle &service, int queries,
                        platform::ServiceStatus &status, Done done)
{
    PollSchedule schedule(pollInterval, queries);
    for (;;) {
        if (const std::uint32_t error = service.query(status); error != 0) {
            return error;
        }
        if (done(status)) {
            return 0;
        }
        const std::optional<std::chrono::milliseconds> pause = schedule.nextPause();
        if (!pause) {
            return tunnelcontract::exitcode::serviceTimeout;
        }
        std::this_thread::sleep_for(*pause);
    }
}

// Waits for RUNNING; 0 then, else the install's result for the state the service ended in.
std::uint32_t waitUntilRunning(platform::ServiceHandle &service)
{
    platform::ServiceStatus status;
    const std::uint32_t error = pollUntil(service, startQueries, status, [](const auto &current) {
        return current.state == platform::ServiceState::Running ||
               current.state == platform::ServiceState::Stopped;
    });
    if (error != 0 || status.state == platform::ServiceState::Running) {
        return error;
    }
    // A service that stopped while starting passes its own exit code on.
    return status.win32ExitCode != 0
               ? status.win32ExitCode
               : std::uint32_t(tunnelcontract::exitcode::serviceStoppedWhileStarting);
}

platform::ServiceHandle createReplacingOld(platform::ServiceManager &manager,
                                           const platform::ServiceDefinition &definition)
{
    const unsigned access =
        platform::ServiceStart | platform::ServiceQueryStatus | platform::ServiceDelete;
    PollSchedule schedule(pollInterval, createAttempts);
    for (;;) {
        platform::ServiceHandle service = manager.createService(definition, access);
        const std::optional<std::chrono::milliseconds> pause = schedule.nextPause();
        if (service.error() != winerror::serviceMarkedForDelete || !pause) {
            return service;
        }
        std::this_thread::sleep_for(*pause);
    }
}

// The files the service leaves for the client; it cannot remove them there itself.
void removeServiceFiles(const QString &tunnelName)
{
    QFile::remove(tunnelcontract::tunnelErrorPath(tunnelName));
    QFile::remove(tunnelcontract::tunnelStatusPath(tunnelName));
}

} // namespace

bool isCleanupTarget(const QString &serviceName, CleanupScope scope)
{
    return matches(earlierProductServicePattern, serviceName) ||
           (scope == CleanupScope::All && matches(productServicePattern, serviceName));
}

std::uint32_t stopTunnelService(const QString &serviceName, bool remove)
{
    platform::ServiceManager manager(platform::ManagerAccess::Connect);
    if (!manager.isOpen()) {
        return manager.error();
    }
    platform::ServiceHandle service = manager.openService(
        serviceName.toStdString(),
        platform::ServiceStop | platform::ServiceQueryStatus | platform::ServiceDelete);
    if (service.error() == winerror::serviceDoesNotExist) {
        return 0;
    }
    if (!service.isOpen()) {
        return service.error();
    }
    // A service that is already stopped refuses the control; the queries below decide.
    service.stop();
    platform::ServiceStatus status;
    const std::uint32_t error = pollUntil(service, stopQueries, status, [](const auto &current) {
        return current.state == platform::ServiceState::Stopped;
    });
    if (error != 0) {
        return error;
    }
    return remove ? service.remove() : 0;
}

std::uint32_t cleanupServices(CleanupScope scope)
{
    std::vector<platform::ServiceEntry> entries;
    {
        platform::ServiceManager manager(platform::ManagerAccess::Enumerate);
        if (!manager.isOpen()) {
            return manager.error();
        }
        if (const std::uint32_t error = manager.enumerateServices(entries); error != 0) {
            return error;
        }
    }
    std::uint32_t result = 0;
    for (const platform::ServiceEntry &entry : entries) {
        const QString name = QString::fromStdString(entry.name);
        if (!isCleanupTarget(name, scope)) {
            continue;
        }
        if (const std::uint32_t error = stopTunnelService(name, true); error != 0) {
            result = error;
        }
    }
    if (scope == CleanupScope::All) {
        if (const std::uint32_t error = tunnelfirewall::lift(); error != 0) {
            result = error;
        }
    }
    return result;
}

QString serviceCommandLine(const QString &serviceProgramPath, const QString &tunnelName,
                           const QString &profilePath, const tunnelcontract::TunnelOptions &options)
{
    return u"\"%1\" --service %2 \"%3\""_s.arg(QDir::toNativeSeparators(serviceProgramPath),
                                               tunnelName, QDir::toNativeSeparators(profilePath)) +
           tunnelcontract::optionArguments(options);
}

bool isInstalledSafely(const QString &serviceProgramPath)
{
    const QString directory = QFileInfo(serviceProgramPath).absolutePath();
    const QStringList paths{serviceProgramPath, directory,
                            enginecommand::engineDirectory(directory),
                            enginecommand::enginePath(directory)};
    // Something missing cannot be planted by others when the folder above it is safe; the
    // service then stops with the system's own error for it.
    return std::all_of(paths.cbegin(), paths.cend(), [](const QString &path) {
        const QFileInfo entry(path);
        return (!entry.exists() && !entry.isSymLink()) ||
               platform::isChangeableOnlyByAdministrators(
                   QDir::toNativeSeparators(path).toStdString());
    });
}

std::uint32_t stopTunnel(const QString &tunnelName)
{
    std::uint32_t result = stopTunnelService(tunnelcontract::serviceName(tunnelName), true);
    // Only once the service is gone: lifted earlier, a service still running would have let
    // traffic out while its engine was down.
    if (result == 0) {
        result = tunnelfirewall::lift();
    }
    // Only in a folder that nobody else can change (or, in tests under Wine, one trusted as
    // such); the client cannot remove it there itself.
    if (result == 0 &&
        (platform::isChangeableOnlyByAdministrators(platform::tunnelErrorDirectory()) ||
         platform::testSwitch(platform::TestSwitch::TrustFolders))) {
        removeServiceFiles(tunnelName);
    }
    return result;
}

std::uint32_t installTunnel(const QString &tunnelName, const QString &profilePath,
                            const QString &serviceProgramPath,
                            const tunnelcontract::TunnelOptions &options)
{
    TunnelProfileRead profile = readTunnelProfileFile(tunnelName, profilePath);
    // The profile is read here once; the health check uses what this read found.
    const auto wipe = qScopeGuard([&profile] {
        if (profile.content) {
            tunnelcontract::wipeTunnelProfileFile(*profile.content);
        }
    });
    if (!profile.accepted) {
        return tunnelcontract::exitcode::invalidCommandLine;
    }
    // An unprivileged helper cannot lend anyone rights; a privileged one must not run code that
    // others could have replaced. Tests under Wine, which keeps no access lists, may trust the
    // folders (test builds only).
    if (platform::isPrivilegedProcess() &&
        !platform::testSwitch(platform::TestSwitch::TrustFolders) &&
        !isInstalledSafely(serviceProgramPath)) {
        return tunnelcontract::exitcode::programFolderNotProtected;
    }
    if (platform::prepareTunnelErrorDirectory(profile.ownerAccount.toStdString()) != 0) {
        return tunnelcontract::exitcode::errorFolderNotProtected;
    }
    removeServiceFiles(tunnelName);
    if (const std::uint32_t error = cleanupServices(CleanupScope::EarlierProducts); error != 0) {
        return error;
    }
    const QString serviceName = tunnelcontract::serviceName(tunnelName);
    const platform::ServiceDefinition definition{
        serviceName.toStdString(), tunnelcontract::serviceDisplayName(tunnelName).toStdString(),
        serviceCommandLine(serviceProgramPath, tunnelName, profilePath, options).toStdString(),
        platform::ServiceStartType::Demand};
    if (const std::uint32_t error = stopTunnelService(serviceName, true); error != 0) {
        return error;
    }
    std::uint32_t result = 0;
    {
        platform::ServiceManager manager(platform::ManagerAccess::CreateService);
        if (!manager.isOpen()) {
            return manager.error();
        }
        platform::ServiceHandle service = createReplacingOld(manager, definition);
        if (!service.isOpen()) {
            return service.error();
        }
        result = service.start();
        if (result == 0) {
            result = waitUntilRunning(service);
        }
    }
    if (result == 0 && !(profile.content && healthcheck::checkTunnelHealth(*profile.content))) {
        result = tunnelcontract::exitcode::healthCheckFailed;
    }
    if (result != 0) {
        // A failed install leaves no service behind, nor a block that a service which died while
        // starting left up; the service's error file stays.
        stopTunnelService(serviceName, true);
        tunnelfirewall::lift();
    }
    return result;
}

} // namespace tunnelhelper
