#include "platform/processenvironment.h"

#include "platform/posix/servicerecord.h"
#include "platform/testswitch.h"

#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

extern char **environ;

namespace platform {

namespace {

// pkexec's word for the real uid of the account that ran it; it builds the environment itself,
// so the caller cannot choose the value.
constexpr char pkexecUidVariable[] = "PKEXEC_UID";

// The variable as restrictProcessEnvironment found it, before clearing it.
std::optional<std::string> &keptPkexecUid()
{
    static std::optional<std::string> value;
    return value;
}

} // namespace

void restrictProcessEnvironment()
{
    if (const char *uid = ::getenv(pkexecUidVariable))
        keptPkexecUid() = std::string(uid);
    std::vector<std::pair<std::string, std::string>> kept;
    for (char **entry = environ; entry && *entry; ++entry) {
        const std::string assignment = *entry;
        const auto equals = assignment.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string name = assignment.substr(0, equals);
        if (name == servicerecord::recordVariable || isTestVariable(name))
            kept.emplace_back(name, assignment.substr(equals + 1));
    }
    ::clearenv();
    // The engine is started by its full path; this is for whatever a library may run.
    ::setenv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin", 1);
    for (const auto &[name, value] : kept)
        ::setenv(name.c_str(), value.c_str(), 1);
}

std::string requestingAccount()
{
    if (::getuid() != 0)
        return std::to_string(::getuid());
    const std::optional<std::string> &uid = keptPkexecUid();
    const char *reported = uid ? uid->c_str() : ::getenv(pkexecUidVariable);
    if (!reported)
        return {};
    // Only a plain uid below 2^32 - 1 (the "no uid" value); anything else names an account that
    // owns no file, so every profile is refused.
    const std::string text = reported;
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoull(text) >= 0xFFFFFFFFULL)
        return "-";
    return std::to_string(std::stoull(text));
}

} // namespace platform
