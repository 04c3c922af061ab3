#pragma once

#include "platform/posix/fileio.h"
#include "platform/servicecontrol.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <sys/types.h>

// The state of the POSIX service manager: one record file per service, "<name>.service", in a
// state directory guarded by one lock file, ".lock". Shared by the manager side and the service
// side. Every read treats the directory as untrusted.
namespace platform::servicerecord {

inline constexpr const char *recordVariable = "SOLVIKVPN_SERVICE_RECORD";
inline constexpr const char *defaultRoot = "/var/lib/solvikvpn/services";
// The user controls 200 and 201 reach the service process as these signals; STOP as SIGTERM.
inline constexpr int resumedSignal = SIGUSR1;
inline constexpr int networkChangedSignal = SIGUSR2;

struct Record
{
    std::string name;
    std::string displayName;
    std::string commandLine;
    bool autoStart = false;
    std::uint64_t id = 0; // tells a re-created service from the one a handle was opened on
    bool deleted = false;
    ServiceState state = ServiceState::Stopped;
    bool acceptsStop = false;
    std::uint32_t exitCode = 0;
    std::uint32_t specificExitCode = 0;
    std::uint32_t checkPoint = 0;
    std::uint32_t waitHint = 0;
    pid_t pid = 0;
    std::uint64_t pidStart = 0; // the process's start time, so a reused pid is not mistaken

    bool operator==(const Record &) const = default;
};

// Windows service names: 1 to 256 characters, no slashes, nothing a record file could misuse.
bool isValidServiceName(const std::string &name);
// Text that fits into one record line.
bool isValidRecordText(const std::string &text);

// The state directory: the test switch SOLVIKVPN_SERVICE_ROOT where built in, else the default.
std::string configuredRoot();
// configuredRoot(), the default created when missing (readable by all, so that clients can
// reach the tunnel error files kept below it). Returns 0, or 5 from checkRoot.
std::uint32_t openRoot(std::string &root);
// 0 when `root` is a real directory owned by this account and, like every directory above it,
// changeable only by administrators (platform/systemfolder.h); else 5.
std::uint32_t checkRoot(const std::string &root);

std::string recordPath(const std::string &root, const std::string &name);

// Exclusive lock on the state directory for one read-modify-write; released by the destructor.
class Lock
{
public:
    explicit Lock(const std::string &root);
    ~Lock();
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;
    bool isLocked() const { return m_fd.valid(); }

private:
    posix::UniqueFd m_fd;
};

// The text of a record file: one "key=value" line per field.
std::string serialise(const Record &record);
// Parses the text of a record file strictly: "key=value" lines, every key known, numbers in
// range, and the name recorded equal to `name`. False when anything is off.
bool parse(const std::string &text, const std::string &name, Record &record);
// False when the record is missing or malformed.
bool read(const std::string &root, const std::string &name, Record &record);
// Atomic replacement through a temporary file.
bool write(const std::string &root, const Record &record);
void remove(const std::string &root, const std::string &name);
// Removes what a writer killed before its rename left of `name`'s record. Every write happens
// under the Lock, so a temporary file seen by a holder of the lock is always such a leftover.
void removeLeftover(const std::string &root, const std::string &name);
// The same for every record's temporary file; `file` is an entry of the state directory.
bool isLeftoverFile(const std::string &file);

// 0 when the process is gone (or a zombie, or the pid now belongs to another process).
std::uint64_t processStartTime(pid_t pid);

// Brings a record up to date with reality: a service whose process died without reporting
// STOPPED is stopped with 1067. Writes the change; removes a deleted service once it is
// stopped. Returns false when the record is gone afterwards.
bool settle(const std::string &root, Record &record);

ServiceStatus statusOf(const Record &record);

} // namespace platform::servicerecord
