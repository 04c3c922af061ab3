#include "platform/processenvironment.h"

#include "platform/posix/servicerecord.h"
#include "platform/testswitch.h"

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

extern char **environ;

namespace platform {

void restrictProcessEnvironment()
{
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

} // namespace platform
