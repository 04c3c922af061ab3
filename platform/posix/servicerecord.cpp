#include "platform/posix/servicerecord.h"

#include "platform/posix/fileio.h"
#include "platform/systemfolder.h"
#include "platform/testswitch.h"
#include "platform/winerror.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::servicerecord {

namespace {

constexpr std::size_t recordLimit = 65536;

bool parseNumber(const std::string &text, std::uint64_t &value)
{
    if (text.empty())
        return false;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool parseNumber32(const std::string &text, std::uint32_t &value)
{
    std::uint64_t wide = 0;
    if (!parseNumber(text, wide) || wide > 0xFFFFFFFFull)
        return false;
    value = static_cast<std::uint32_t>(wide);
    return true;
}

bool parseState(const std::string &text, ServiceState &state)
{
    std::uint32_t value = 0;
    if (!parseNumber32(text, value) || value > static_cast<std::uint32_t>(ServiceState::Other))
        return false;
    state = static_cast<ServiceState>(value);
    return true;
}

bool apply(Record &record, const std::string &key, const std::string &value)
{
    std::uint64_t number = 0;
    if (key == "name")
        record.name = value;
    else if (key == "displayName")
        record.displayName = value;
    else if (key == "commandLine")
        record.commandLine = value;
    else if (key == "autoStart" && parseNumber(value, number) && number <= 1)
        record.autoStart = number == 1;
    else if (key == "id" && parseNumber(value, number))
        record.id = number;
    else if (key == "deleted" && parseNumber(value, number) && number <= 1)
        record.deleted = number == 1;
    else if (key == "state")
        return parseState(value, record.state);
    else if (key == "acceptsStop" && parseNumber(value, number) && number <= 1)
        record.acceptsStop = number == 1;
    else if (key == "exitCode")
        return parseNumber32(value, record.exitCode);
    else if (key == "specificExitCode")
        return parseNumber32(value, record.specificExitCode);
    else if (key == "checkPoint")
        return parseNumber32(value, record.checkPoint);
    else if (key == "waitHint")
        return parseNumber32(value, record.waitHint);
    else if (key == "pid" && parseNumber(value, number) && number <= 0x7FFFFFFF)
        record.pid = static_cast<pid_t>(number);
    else if (key == "pidStart" && parseNumber(value, number))
        record.pidStart = number;
    else
        return false;
    return true;
}

} // namespace

bool isValidServiceName(const std::string &name)
{
    if (name.empty() || name.size() > 256 || name.front() == '.')
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == '/' || c == '\\' || byte == 0x7F)
            return false;
    }
    return true;
}

bool isValidRecordText(const std::string &text)
{
    return text.size() <= 4096 && text.find_first_of(std::string("\n\r\0", 3)) == std::string::npos;
}

std::uint32_t checkRoot(const std::string &root)
{
    struct stat info
    {
    };
    if (root.empty() || root.front() != '/' || ::lstat(root.c_str(), &info) != 0 ||
        !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid() ||
        !isChangeableOnlyByAdministrators(root))
        return winerror::accessDenied;
    return winerror::success;
}

std::string configuredRoot()
{
    return testSwitch(TestSwitch::ServiceRoot).value_or(defaultRoot);
}

std::uint32_t openRoot(std::string &root)
{
    root = configuredRoot();
    if (root == defaultRoot) {
        // The default lives in the system's state directory; records stay owner-only files.
        ::mkdir("/var/lib/solvikvpn", 0755);
        ::mkdir(defaultRoot, 0755);
    }
    return checkRoot(root);
}

std::string recordPath(const std::string &root, const std::string &name)
{
    return root + "/" + name + ".service";
}

Lock::Lock(const std::string &root)
    : m_fd(::open((root + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600))
{
    if (!m_fd.valid())
        return;
    int result;
    do {
        result = ::flock(m_fd.get(), LOCK_EX);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        m_fd.close();
}

Lock::~Lock()
{
    // Explicit unlock: a forked child may still hold a copy of the descriptor until it execs.
    if (m_fd.valid())
        ::flock(m_fd.get(), LOCK_UN);
}

std::string serialise(const Record &record)
{
    std::ostringstream out;
    out << "name=" << record.name << '\n'
        << "displayName=" << record.displayName << '\n'
        << "commandLine=" << record.commandLine << '\n'
        << "autoStart=" << (record.autoStart ? 1 : 0) << '\n'
        << "id=" << record.id << '\n'
        << "deleted=" << (record.deleted ? 1 : 0) << '\n'
        << "state=" << static_cast<unsigned>(record.state) << '\n'
        << "acceptsStop=" << (record.acceptsStop ? 1 : 0) << '\n'
        << "exitCode=" << record.exitCode << '\n'
        << "specificExitCode=" << record.specificExitCode << '\n'
        << "checkPoint=" << record.checkPoint << '\n'
        << "waitHint=" << record.waitHint << '\n'
        << "pid=" << record.pid << '\n'
        << "pidStart=" << record.pidStart << '\n';
    return out.str();
}

bool parse(const std::string &text, const std::string &name, Record &record)
{
    Record parsed;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const auto equals = line.find('=');
        if (equals == std::string::npos ||
            !apply(parsed, line.substr(0, equals), line.substr(equals + 1)))
            return false;
    }
    if (parsed.name != name || parsed.id == 0)
        return false;
    record = parsed;
    return true;
}

bool read(const std::string &root, const std::string &name, Record &record)
{
    if (!isValidServiceName(name))
        return false;
    const posix::UniqueFd fd(
        ::open(recordPath(root, name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info
    {
    };
    std::string text;
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid() || static_cast<std::size_t>(info.st_size) > recordLimit)
        return false;
    text.resize(static_cast<std::size_t>(info.st_size));
    if (!posix::readFully(fd.get(), text.data(), text.size()))
        return false;
    return parse(text, name, record);
}

bool write(const std::string &root, const Record &record)
{
    const std::string path = recordPath(root, record.name);
    const std::string text = serialise(record);
    return posix::replaceFile(path, text.data(), text.size(), [](int) { return true; });
}

void remove(const std::string &root, const std::string &name)
{
    ::unlink(recordPath(root, name).c_str());
}

void removeLeftover(const std::string &root, const std::string &name)
{
    ::unlink((recordPath(root, name) + posix::temporarySuffix).c_str());
}

bool isLeftoverFile(const std::string &file)
{
    const std::string suffix = std::string(".service") + posix::temporarySuffix;
    return file.size() > suffix.size() &&
           file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::uint64_t processStartTime(pid_t pid)
{
    if (pid <= 0)
        return 0;
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(file, text);
    // The command name may hold spaces and parentheses: the fields start after the last ')'.
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string state;
    fields >> state;
    if (state == "Z" || state == "X")
        return 0;
    std::string field;
    for (int index = 4; index <= 22 && fields >> field; ++index) {
        if (index == 22) {
            std::uint64_t start = 0;
            return parseNumber(field, start) ? start : 0;
        }
    }
    return 0;
}

bool settle(const std::string &root, Record &record)
{
    bool changed = false;
    if (record.state != ServiceState::Stopped &&
        (record.pid <= 0 || processStartTime(record.pid) != record.pidStart)) {
        record.state = ServiceState::Stopped;
        record.exitCode = winerror::processAborted;
        record.acceptsStop = false;
        record.checkPoint = 0;
        record.waitHint = 0;
        changed = true;
    }
    if (record.state == ServiceState::Stopped) {
        record.pid = 0;
        record.pidStart = 0;
        if (record.deleted) {
            remove(root, record.name);
            return false;
        }
    }
    if (changed)
        write(root, record);
    return true;
}

ServiceStatus statusOf(const Record &record)
{
    ServiceStatus status;
    status.state = record.state;
    status.win32ExitCode = record.exitCode;
    status.serviceSpecificExitCode = record.specificExitCode;
    status.processId = static_cast<std::uint32_t>(record.pid);
    status.acceptsStop = record.acceptsStop;
    return status;
}

} // namespace platform::servicerecord
