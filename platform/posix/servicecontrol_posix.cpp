#include "platform/servicecontrol.h"

#include "platform/posix/childexec.h"
#include "platform/posix/fileio.h"
#include "platform/posix/posixerror.h"
#include "platform/posix/servicerecord.h"
#include "platform/servicehost.h"
#include "platform/winerror.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <unistd.h>

extern char **environ;

namespace platform {

namespace record = servicerecord;

namespace {

// Splits a stored command line the way the service manager reads lpBinaryPathName: blanks
// separate words, double quotes group (the quotes themselves are dropped).
std::vector<std::string> splitCommandLine(const std::string &commandLine)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (const char c : commandLine) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord)
                words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words.push_back(word);
    return words;
}

// Starts the service program detached from us, in a session of its own (double fork), with
// quiet standard streams, "/" as working directory and the record's path in its environment.
std::uint32_t spawnService(std::vector<std::string> words, const std::string &recordPath,
                           pid_t &servicePid)
{
    if (words.empty() || words.front().empty() || words.front().front() != '/')
        return winerror::fileNotFound;
    std::vector<char *> argv = childexec::argumentVector(words);
    std::string recordEntry = std::string(record::recordVariable) + "=" + recordPath;
    const std::string prefix = std::string(record::recordVariable) + "=";
    std::vector<char *> envp;
    for (char **entry = environ; *entry; ++entry) {
        if (std::string_view(*entry).substr(0, prefix.size()) != prefix)
            envp.push_back(*entry);
    }
    envp.push_back(recordEntry.data());
    envp.push_back(nullptr);

    posix::Pipe channel;
    if (!posix::makePipe(channel, O_CLOEXEC))
        return windowsErrorFromErrno(errno);
    const pid_t intermediate = ::fork();
    if (intermediate == 0) {
        ::setsid();
        const pid_t service = ::fork();
        if (service == 0) {
            childexec::resetSignals();
            const int quiet = ::open("/dev/null", O_RDWR);
            if (quiet >= 0) {
                ::dup2(quiet, STDIN_FILENO);
                ::dup2(quiet, STDOUT_FILENO);
                ::dup2(quiet, STDERR_FILENO);
            }
            childexec::keepOnlyStandardStreams();
            if (::chdir("/") == 0)
                ::execve(argv[0], argv.data(), envp.data());
            childexec::reportFailure(channel.write.get());
        }
        (void)!::write(channel.write.get(), &service, sizeof service);
        ::_exit(service > 0 ? 0 : 1);
    }
    const int forkErrno = errno;
    channel.write.close();
    if (intermediate < 0)
        return windowsErrorFromErrno(forkErrno);
    pid_t service = -1;
    const bool gotPid =
        posix::readFully(channel.read.get(), &service, sizeof service) && service > 0;
    int execError = 0;
    const bool execFailed =
        gotPid && posix::readFully(channel.read.get(), &execError, sizeof execError);
    childexec::reap(intermediate);
    if (!gotPid)
        return winerror::generalFailure;
    if (execFailed)
        return windowsErrorFromErrno(execError);
    servicePid = service;
    return winerror::success;
}

std::uint64_t newRecordId()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
               std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()) |
           1u;
}

} // namespace

struct ServiceHandle::Impl
{
    std::string root;
    std::string name;
    std::uint64_t id = 0;
    unsigned access = 0;
    ServiceStatus lastStatus;

    // The service this handle was opened on, brought up to date; false when it is gone.
    bool current(record::Record &entry)
    {
        if (!record::read(root, name, entry) || entry.id != id)
            return false;
        if (!record::settle(root, entry))
            return false;
        lastStatus = record::statusOf(entry);
        return true;
    }

    // Every control starts alike: the handle must carry `right`, and the state directory stays
    // locked for the whole read-modify-write. `action` gets the record brought up to date and
    // whether the service is still there.
    template<typename Action> std::uint32_t control(unsigned right, Action action)
    {
        if (!(access & right))
            return winerror::accessDenied;
        record::Lock lock(root);
        if (!lock.isLocked())
            return winerror::accessDenied;
        record::Record entry;
        const bool present = current(entry);
        return action(entry, present);
    }
};

struct ServiceManager::Impl
{
    std::string root;
    ManagerAccess access = ManagerAccess::Connect;
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
    return d->control(ServiceStart, [this](record::Record &entry, bool present) {
        if (!present || entry.deleted)
            return winerror::serviceMarkedForDelete;
        if (entry.state != ServiceState::Stopped)
            return winerror::serviceAlreadyRunning;
        pid_t pid = 0;
        const auto spawned = spawnService(splitCommandLine(entry.commandLine),
                                          record::recordPath(d->root, d->name), pid);
        if (spawned != winerror::success)
            return spawned;
        // Written before the lock is released: the service's first report waits for it.
        entry.state = ServiceState::StartPending;
        entry.acceptsStop = false;
        entry.exitCode = 0;
        entry.specificExitCode = 0;
        entry.checkPoint = 0;
        entry.waitHint = 0;
        entry.pid = pid;
        entry.pidStart = record::processStartTime(pid);
        if (entry.pidStart == 0)
            entry.pidStart = 1; // already gone: the next look at the record reports 1067
        record::write(d->root, entry);
        d->lastStatus = record::statusOf(entry);
        return winerror::success;
    });
}

std::uint32_t ServiceHandle::stop(ServiceStatus *status)
{
    if (!d)
        return error();
    return d->control(ServiceStop, [this, status](record::Record &entry, bool present) {
        if (status)
            *status = d->lastStatus;
        if (!present || entry.state == ServiceState::Stopped)
            return winerror::serviceNotActive;
        if (!entry.acceptsStop)
            return winerror::serviceCannotAcceptControl;
        if (::kill(entry.pid, SIGTERM) != 0)
            return windowsErrorFromErrno(errno);
        return winerror::success;
    });
}

std::uint32_t ServiceHandle::control(std::uint32_t code)
{
    if (!d)
        return error();
    return d->control(ServiceUserControl, [code](record::Record &entry, bool present) {
        if (!present || entry.state == ServiceState::Stopped)
            return winerror::serviceNotActive;
        const int signal = code == resumedControlCode          ? record::resumedSignal
                           : code == networkChangedControlCode ? record::networkChangedSignal
                                                               : 0;
        if (signal == 0)
            return winerror::invalidServiceControl;
        // Before RUNNING the service may not have blocked the signal yet, which would end it.
        if (entry.state != ServiceState::Running)
            return winerror::serviceCannotAcceptControl;
        if (::kill(entry.pid, signal) != 0)
            return windowsErrorFromErrno(errno);
        return winerror::success;
    });
}

std::uint32_t ServiceHandle::query(ServiceStatus &status)
{
    if (!d)
        return error();
    return d->control(ServiceQueryStatus, [this, &status](record::Record &, bool present) {
        if (!present) {
            // Deleted and gone: like an open handle on Windows, report it stopped.
            d->lastStatus.state = ServiceState::Stopped;
            d->lastStatus.processId = 0;
            d->lastStatus.acceptsStop = false;
        }
        status = d->lastStatus;
        return winerror::success;
    });
}

std::uint32_t ServiceHandle::remove()
{
    if (!d)
        return error();
    return d->control(ServiceDelete, [this](record::Record &entry, bool present) {
        if (!present || entry.deleted)
            return winerror::serviceMarkedForDelete;
        entry.deleted = true;
        if (entry.state == ServiceState::Stopped)
            record::remove(d->root, d->name);
        else
            record::write(d->root, entry);
        return winerror::success;
    });
}

namespace {

// Visits every live record under `root`, removing leftovers of killed writers on the way; the
// caller holds the lock. False when the directory cannot be read.
bool forEachRecord(const std::string &root,
                   const std::function<void(const record::Record &)> &visit)
{
    DIR *directory = ::opendir(root.c_str());
    if (!directory)
        return false;
    const std::string suffix = ".service";
    while (const dirent *item = ::readdir(directory)) {
        const std::string file = item->d_name;
        if (record::isLeftoverFile(file)) {
            ::unlinkat(::dirfd(directory), file.c_str(), 0);
            continue;
        }
        if (file.size() <= suffix.size() ||
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        record::Record entry;
        const std::string name = file.substr(0, file.size() - suffix.size());
        if (record::read(root, name, entry) && record::settle(root, entry))
            visit(entry);
    }
    ::closedir(directory);
    return true;
}

} // namespace

ServiceManager::ServiceManager(ManagerAccess access)
{
    std::string root;
    openError = record::openRoot(root);
    if (openError == winerror::success)
        d.reset(new Impl{root, access});
}

ServiceManager::~ServiceManager() = default;
ServiceManager::ServiceManager(ServiceManager &&other) noexcept = default;
ServiceManager &ServiceManager::operator=(ServiceManager &&other) noexcept = default;

ServiceHandle ServiceManager::openService(const std::string &name, unsigned access)
{
    ServiceHandle handle;
    if (!d) {
        handle.openError = error();
        return handle;
    }
    if (!record::isValidServiceName(name)) {
        handle.openError = winerror::invalidName;
        return handle;
    }
    record::Lock lock(d->root);
    if (lock.isLocked())
        record::removeLeftover(d->root, name);
    record::Record entry;
    if (!lock.isLocked() || !record::read(d->root, name, entry) ||
        !record::settle(d->root, entry)) {
        handle.openError = lock.isLocked() ? winerror::serviceDoesNotExist : winerror::accessDenied;
        return handle;
    }
    handle.d.reset(
        new ServiceHandle::Impl{d->root, name, entry.id, access, record::statusOf(entry)});
    return handle;
}

ServiceHandle ServiceManager::createService(const ServiceDefinition &definition, unsigned access)
{
    ServiceHandle handle;
    if (!d || d->access != ManagerAccess::CreateService) {
        handle.openError = d ? winerror::accessDenied : error();
        return handle;
    }
    if (!record::isValidServiceName(definition.name)) {
        handle.openError = winerror::invalidName;
        return handle;
    }
    if (!record::isValidRecordText(definition.displayName) ||
        !record::isValidRecordText(definition.commandLine) || definition.commandLine.empty()) {
        handle.openError = winerror::invalidParameter;
        return handle;
    }
    record::Lock lock(d->root);
    if (!lock.isLocked()) {
        handle.openError = winerror::accessDenied;
        return handle;
    }
    record::Record existing;
    if (record::read(d->root, definition.name, existing) && record::settle(d->root, existing)) {
        handle.openError =
            existing.deleted ? winerror::serviceMarkedForDelete : winerror::serviceExists;
        return handle;
    }
    // Like the Windows manager, display names are unique across services.
    bool displayNameTaken = false;
    forEachRecord(d->root, [&](const record::Record &other) {
        displayNameTaken = displayNameTaken || other.displayName == definition.displayName;
    });
    if (displayNameTaken) {
        handle.openError = winerror::duplicateServiceName;
        return handle;
    }
    record::Record entry;
    entry.name = definition.name;
    entry.displayName = definition.displayName;
    entry.commandLine = definition.commandLine;
    entry.autoStart = definition.startType == ServiceStartType::Auto;
    entry.id = newRecordId();
    if (!record::write(d->root, entry)) {
        handle.openError = winerror::accessDenied;
        return handle;
    }
    handle.d.reset(
        new ServiceHandle::Impl{d->root, entry.name, entry.id, access, record::statusOf(entry)});
    return handle;
}

std::uint32_t ServiceManager::enumerateServices(std::vector<ServiceEntry> &entries)
{
    entries.clear();
    if (!d)
        return error();
    if (d->access != ManagerAccess::Enumerate)
        return winerror::accessDenied;
    record::Lock lock(d->root);
    if (!lock.isLocked() || !forEachRecord(d->root, [&entries](const record::Record &entry) {
            entries.push_back({entry.name, record::statusOf(entry)});
        }))
        return winerror::accessDenied;
    std::sort(entries.begin(), entries.end(),
              [](const ServiceEntry &a, const ServiceEntry &b) { return a.name < b.name; });
    return winerror::success;
}

} // namespace platform
