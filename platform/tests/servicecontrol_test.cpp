#include "platform/servicecontrol.h"
#include "platform/servicehost.h"
#include "platform/winerror.h"
#include "tempdir.h"
#include "testprograms.h"

#include <doctest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

#ifndef _WIN32
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

using namespace platform;

namespace {

// POSIX: a private state directory for the manager. Windows (Wine): the real service manager,
// with names unique to this run so that nothing collides with a service left by a crash.
class ServiceTestEnvironment
{
public:
    ServiceTestEnvironment()
    {
#ifndef _WIN32
        chmod(root.path().c_str(), 0700);
        setenv("SOLVIKVPN_SERVICE_ROOT", root.path().c_str(), 1);
#endif
        std::uint8_t random[4];
        platform::randomBytes(random, sizeof random);
        for (std::uint8_t b : random)
            suffix += "0123456789abcdef"[b >> 4], suffix += "0123456789abcdef"[b & 15];
    }
    ~ServiceTestEnvironment()
    {
        // Whatever a failed check left behind is stopped and deleted.
        ServiceManager manager(ManagerAccess::Enumerate);
        std::vector<ServiceEntry> entries;
        manager.enumerateServices(entries);
        for (const auto &entry : entries) {
            if (entry.name.find(suffix) == std::string::npos)
                continue;
            auto service = manager.openService(entry.name, ServiceStop | ServiceDelete);
            service.stop();
            service.remove();
        }
#ifndef _WIN32
        unsetenv("SOLVIKVPN_SERVICE_ROOT");
#endif
    }

    std::string name(const std::string &stem) const
    {
        return "SolvikVPNTest$" + stem + "_" + suffix;
    }

    ServiceDefinition definition(const std::string &name, std::uint32_t exitCode,
                                 const char *mode) const
    {
        // Appended piece by piece: GCC 12 misreads a chain of + here as overlapping copies.
        std::string commandLine = "\"";
        commandLine.append(testProgramPath("platform_testservice"));
        commandLine.append("\" ").append(name).append(" ").append(std::to_string(exitCode));
        commandLine.append(" ").append(mode);
        // Windows refuses a second service with the same display name (1078).
        return {name, "Solvik VPN Test " + name, commandLine, ServiceStartType::Demand};
    }

    TempDir root;
    std::string suffix;
};

constexpr unsigned allAccess = ServiceQueryStatus | ServiceStart | ServiceStop | ServiceDelete;

// Polls like the helper does (100 ms apart) until `state` or the limit.
ServiceStatus waitFor(ServiceHandle &service, ServiceState state, int attempts = 100)
{
    ServiceStatus status;
    for (int i = 0; i < attempts; ++i) {
        if (service.query(status) != winerror::success || status.state == state)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return status;
}

bool listed(const std::string &name)
{
    ServiceManager manager(ManagerAccess::Enumerate);
    std::vector<ServiceEntry> entries;
    REQUIRE(manager.enumerateServices(entries) == winerror::success);
    return std::any_of(entries.begin(), entries.end(),
                       [&](const ServiceEntry &entry) { return entry.name == name; });
}

// A deleted service disappears once its process has exited and the last handle is closed, which
// on Windows and Wine can trail the STOPPED report by a moment.
bool disappears(ServiceManager &manager, const std::string &name)
{
    for (int i = 0; i < 100; ++i) {
        if (manager.openService(name, ServiceQueryStatus).error() ==
                winerror::serviceDoesNotExist &&
            !listed(name))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

TEST_CASE("a service is created, started, stopped with its exit code and deleted")
{
    ServiceTestEnvironment environment;
    const std::string name = environment.name("life");
    ServiceManager manager(ManagerAccess::CreateService);
    REQUIRE(manager.error() == winerror::success);
    auto service = manager.createService(environment.definition(name, 4242, "normal"), allAccess);
    REQUIRE(service.error() == winerror::success);

    ServiceStatus status;
    REQUIRE(service.query(status) == winerror::success);
    CHECK(status.state == ServiceState::Stopped);
    CHECK(service.stop() == winerror::serviceNotActive);

    REQUIRE(service.start() == winerror::success);
    status = waitFor(service, ServiceState::Running);
    REQUIRE(status.state == ServiceState::Running);
    CHECK(status.acceptsStop);
    CHECK(status.processId != 0);
    CHECK(service.start() == winerror::serviceAlreadyRunning);

    CHECK(service.stop() == winerror::success);
    status = waitFor(service, ServiceState::Stopped);
    CHECK(status.state == ServiceState::Stopped);
    CHECK(status.win32ExitCode == 4242);

    CHECK(service.remove() == winerror::success);
    service.close();
    CHECK(disappears(manager, name));
}

TEST_CASE("the manager's refusals carry the Windows error numbers")
{
    ServiceTestEnvironment environment;
    const std::string name = environment.name("errors");
    ServiceManager manager(ManagerAccess::CreateService);
    REQUIRE(manager.error() == winerror::success);
    CHECK(manager.openService(environment.name("unknown"), ServiceQueryStatus).error() ==
          winerror::serviceDoesNotExist);

    auto service = manager.createService(environment.definition(name, 0, "normal"), allAccess);
    REQUIRE(service.error() == winerror::success);
    CHECK(manager.createService(environment.definition(name, 0, "normal"), allAccess).error() ==
          winerror::serviceExists);
    ServiceDefinition sameDisplayName =
        environment.definition(environment.name("other"), 0, "normal");
    sameDisplayName.displayName = environment.definition(name, 0, "normal").displayName;
    CHECK(manager.createService(sameDisplayName, allAccess).error() ==
          winerror::duplicateServiceName);

    auto queryOnly = manager.openService(name, ServiceQueryStatus);
    REQUIRE(queryOnly.error() == winerror::success);
    CHECK(queryOnly.start() == winerror::accessDenied);
    CHECK(queryOnly.remove() == winerror::accessDenied);
    queryOnly.close();

    ServiceManager connectOnly(ManagerAccess::Connect);
    std::vector<ServiceEntry> entries;
    CHECK(connectOnly.enumerateServices(entries) == winerror::accessDenied);
    CHECK(service.remove() == winerror::success);
}

TEST_CASE("a deleted service that still runs blocks its name with 1072 until it stops")
{
    ServiceTestEnvironment environment;
    const std::string name = environment.name("marked");
    ServiceManager manager(ManagerAccess::CreateService);
    auto service = manager.createService(environment.definition(name, 0, "normal"), allAccess);
    REQUIRE(service.error() == winerror::success);
    REQUIRE(service.start() == winerror::success);
    REQUIRE(waitFor(service, ServiceState::Running).state == ServiceState::Running);

    CHECK(service.remove() == winerror::success);
    CHECK(service.remove() == winerror::serviceMarkedForDelete);
    CHECK(manager.createService(environment.definition(name, 0, "normal"), allAccess).error() ==
          winerror::serviceMarkedForDelete);

    CHECK(service.stop() == winerror::success);
    CHECK(waitFor(service, ServiceState::Stopped).state == ServiceState::Stopped);
    service.close();
    // The helper's retry: 100 ms apart, up to 20 attempts.
    ServiceHandle again;
    for (int attempt = 0; attempt < 20; ++attempt) {
        again = manager.createService(environment.definition(name, 0, "normal"), allAccess);
        if (again.error() != winerror::serviceMarkedForDelete)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    CHECK(again.error() == winerror::success);
    CHECK(again.remove() == winerror::success);
}

TEST_CASE("enumeration lists every service in every state")
{
    ServiceTestEnvironment environment;
    ServiceManager manager(ManagerAccess::CreateService);
    const std::string first = environment.name("enumA");
    const std::string second = environment.name("enumB");
    auto a = manager.createService(environment.definition(first, 0, "normal"), allAccess);
    auto b = manager.createService(environment.definition(second, 0, "normal"), allAccess);
    REQUIRE(a.error() == winerror::success);
    REQUIRE(b.error() == winerror::success);
    REQUIRE(b.start() == winerror::success);
    REQUIRE(waitFor(b, ServiceState::Running).state == ServiceState::Running);

    ServiceManager enumerator(ManagerAccess::Enumerate);
    std::vector<ServiceEntry> entries;
    REQUIRE(enumerator.enumerateServices(entries) == winerror::success);
    int found = 0;
    for (const auto &entry : entries) {
        if (entry.name == first) {
            ++found;
            CHECK(entry.status.state == ServiceState::Stopped);
        } else if (entry.name == second) {
            ++found;
            CHECK(entry.status.state == ServiceState::Running);
        }
    }
    CHECK(found == 2);
    b.stop();
    waitFor(b, ServiceState::Stopped);
    CHECK(a.remove() == winerror::success);
    CHECK(b.remove() == winerror::success);
}

TEST_CASE("a service process that dies without reporting STOPPED ends with 1067")
{
    ServiceTestEnvironment environment;
    const std::string name = environment.name("dies");
    ServiceManager manager(ManagerAccess::CreateService);
    auto service = manager.createService(environment.definition(name, 0, "die"), allAccess);
    REQUIRE(service.error() == winerror::success);
    REQUIRE(service.start() == winerror::success);
    if (runsUnderWine()) {
        // Wine's service manager does not notice a service process that dies: it keeps the
        // last reported state. What it can show is that the process really is gone.
        ServiceStatus status = waitFor(service, ServiceState::Running);
        REQUIRE(status.processId != 0);
        CHECK(processEnds(status.processId, 10000));
        MESSAGE("Wine: a dead service process is not reported as stopped with 1067");
        return;
    }
    const auto status = waitFor(service, ServiceState::Stopped);
    CHECK(status.state == ServiceState::Stopped);
    CHECK(status.win32ExitCode == winerror::processAborted);
    CHECK(service.remove() == winerror::success);
}

TEST_CASE("a running service takes the resume and network controls and keeps running")
{
    ServiceTestEnvironment environment;
    ServiceManager manager(ManagerAccess::CreateService);
    auto service =
        manager.createService(environment.definition(environment.name("controls"), 0, "normal"),
                              allAccess | ServiceUserControl);
    REQUIRE(service.error() == winerror::success);
    CHECK(service.control(resumedControlCode) == winerror::serviceNotActive);
    REQUIRE(service.start() == winerror::success);
    REQUIRE(waitFor(service, ServiceState::Running).state == ServiceState::Running);
    CHECK(manager.openService(environment.name("controls"), ServiceQueryStatus)
              .control(resumedControlCode) == winerror::accessDenied);
    // The test service echoes the code of each control it took as its exit code.
    for (const std::uint32_t code : {resumedControlCode, networkChangedControlCode}) {
        CAPTURE(code);
        REQUIRE(service.control(code) == winerror::success);
        ServiceStatus status;
        for (int i = 0; i < 50 && status.win32ExitCode != code; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            REQUIRE(service.query(status) == winerror::success);
        }
        CHECK(status.win32ExitCode == code);
        CHECK(status.state == ServiceState::Running);
    }
    const std::uint32_t unknown = service.control(networkChangedControlCode + 1);
    if (runsUnderWine())
        MESSAGE("Wine: ControlService does not pass on the service's refusal (", unknown, ")");
    else
        CHECK(unknown == winerror::invalidServiceControl);
    CHECK(service.stop() == winerror::success);
    CHECK(waitFor(service, ServiceState::Stopped).state == ServiceState::Stopped);
    CHECK(service.remove() == winerror::success);
}

TEST_CASE("a program not started by the manager cannot reach the dispatcher (1063)")
{
    ServiceTestEnvironment environment;
    const std::string name = environment.name("byhand");
    bool ran = false;
    const auto serviceMain = [&](const std::vector<std::string> &) { ran = true; };
    CHECK(runServiceDispatcher(name, serviceMain) == winerror::failedServiceControllerConnect);
#ifndef _WIN32
    // A record that exists but was started for another process is not ours either.
    ServiceManager manager(ManagerAccess::CreateService);
    auto service = manager.createService(environment.definition(name, 0, "normal"), allAccess);
    REQUIRE(service.error() == winerror::success);
    setenv("SOLVIKVPN_SERVICE_RECORD", environment.root.file(name + ".service").c_str(), 1);
    CHECK(runServiceDispatcher(name, serviceMain) == winerror::failedServiceControllerConnect);
    CHECK(getenv("SOLVIKVPN_SERVICE_RECORD") == nullptr);
    CHECK(service.remove() == winerror::success);
#endif
    CHECK_FALSE(ran);
    CHECK_FALSE(registerServiceControlHandler(name, [](ServiceControl) {}));
}

#ifndef _WIN32
TEST_CASE("the state directory and its records are not trusted")
{
    ServiceTestEnvironment environment;
    SUBCASE("a directory others may write is refused")
    {
        chmod(environment.root.path().c_str(), 0777);
        CHECK(ServiceManager(ManagerAccess::Connect).error() == winerror::accessDenied);
        chmod(environment.root.path().c_str(), 0700);
    }
    SUBCASE("a directory inside one that others may write is refused")
    {
        TempDir open;
        chmod(open.path().c_str(), 0777);
        const std::string root = open.file("services");
        REQUIRE(mkdir(root.c_str(), 0700) == 0);
        setenv("SOLVIKVPN_SERVICE_ROOT", root.c_str(), 1);
        CHECK(ServiceManager(ManagerAccess::Connect).error() == winerror::accessDenied);
        // The same folder below a sticky one, like /tmp: others cannot move it away.
        chmod(open.path().c_str(), 01777);
        CHECK(ServiceManager(ManagerAccess::Connect).error() == winerror::success);
    }
    SUBCASE("a directory that is a link is refused")
    {
        TempDir other;
        const std::string link = other.file("root");
        REQUIRE(symlink(environment.root.path().c_str(), link.c_str()) == 0);
        setenv("SOLVIKVPN_SERVICE_ROOT", link.c_str(), 1);
        CHECK(ServiceManager(ManagerAccess::Connect).error() == winerror::accessDenied);
    }
    SUBCASE("malformed records read as absent")
    {
        const std::string name = environment.name("forged");
        const std::string records[] = {
            "name=" + name + "\nid=1\nstate=9\n",
            "name=" + name + "\nid=1\npid=-4\n",
            "name=other\nid=1\n",
            "name=" + name + "\nid=1\nunknown=1\n",
            "name=" + name + "\nid=0\n",
        };
        ServiceManager manager(ManagerAccess::Connect);
        for (const auto &text : records) {
            CAPTURE(text);
            writeRaw(environment.root.file(name + ".service"), bytesOf(text));
            CHECK(manager.openService(name, ServiceQueryStatus).error() ==
                  winerror::serviceDoesNotExist);
        }
    }
    SUBCASE("what a writer killed before its rename left is removed by the next look")
    {
        const std::string named = environment.root.file(environment.name("a") + ".service.tmp");
        const std::string other = environment.root.file(environment.name("b") + ".service.tmp");
        writeRaw(named, bytesOf("name=half"));
        writeRaw(other, bytesOf("name=half"));
        CHECK(ServiceManager(ManagerAccess::Connect)
                  .openService(environment.name("a"), ServiceQueryStatus)
                  .error() == winerror::serviceDoesNotExist);
        CHECK_FALSE(std::filesystem::exists(named));
        CHECK(std::filesystem::exists(other));
        CHECK_FALSE(listed(environment.name("b")));
        CHECK_FALSE(std::filesystem::exists(other));
    }
    SUBCASE("names that would leave the directory are invalid")
    {
        ServiceManager manager(ManagerAccess::CreateService);
        for (const char *bad : {"../escape", "a/b", ".hidden", ""}) {
            CAPTURE(bad);
            CHECK(manager.createService(environment.definition(bad, 0, "normal"), allAccess)
                      .error() == winerror::invalidName);
        }
    }
}

namespace {

// What the descriptors of process `pid` above standard error lead to.
std::vector<std::string> descriptorTargets(std::uint32_t pid)
{
    std::vector<std::string> targets;
    const std::string folder = "/proc/" + std::to_string(pid) + "/fd";
    DIR *directory = opendir(folder.c_str());
    REQUIRE(directory != nullptr);
    while (const dirent *entry = readdir(directory)) {
        if (std::atoi(entry->d_name) <= 2)
            continue;
        char target[PATH_MAX];
        const ssize_t length =
            readlink((folder + "/" + entry->d_name).c_str(), target, sizeof target - 1);
        if (length > 0)
            targets.emplace_back(target, static_cast<std::size_t>(length));
    }
    closedir(directory);
    return targets;
}

} // namespace

TEST_CASE("a service inherits its quiet standard streams and no other descriptor")
{
    ServiceTestEnvironment environment;
    // The manager runs in this process; a descriptor it left without close-on-exec must not
    // reach the service.
    const std::string marker = environment.root.file("leaked");
    const int leaked = open(marker.c_str(), O_RDWR | O_CREAT, 0600);
    REQUIRE(leaked > 2);
    const std::string name = environment.name("fds");
    ServiceManager manager(ManagerAccess::CreateService);
    auto service = manager.createService(environment.definition(name, 0, "normal"), allAccess);
    REQUIRE(service.start() == winerror::success);
    const ServiceStatus status = waitFor(service, ServiceState::Running);
    REQUIRE(status.state == ServiceState::Running);
    for (const std::string &target : descriptorTargets(status.processId)) {
        CAPTURE(target);
        CHECK(target != marker);
        CHECK(target != "/dev/null");
    }
    CHECK(service.stop() == winerror::success);
    waitFor(service, ServiceState::Stopped);
    service.remove();
    close(leaked);
}
#endif
