#include "platform/testswitch.h"

#include <cstdlib>

namespace platform {

#if SOLVIKVPN_TEST_SWITCHES

std::optional<std::string> testSwitch(TestSwitch which)
{
    const char *name = nullptr;
    switch (which) {
    case TestSwitch::ServiceRoot:
        name = "SOLVIKVPN_SERVICE_ROOT";
        break;
    case TestSwitch::Elevation:
        name = "SOLVIKVPN_ELEVATION";
        break;
    case TestSwitch::ConnectivityCheckUrls:
        name = "SOLVIKVPN_CONNECTIVITY_CHECK_URLS";
        break;
    case TestSwitch::TrustFolders:
        name = "SOLVIKVPN_TRUST_FOLDERS";
        break;
    }
    const char *value = name ? std::getenv(name) : nullptr;
    if (!value || !*value)
        return std::nullopt;
    return std::string(value);
}

bool isTestVariable(std::string_view name)
{
    // Wine names the account only through WINEUSERNAME, and its DPAPI keys protected files on
    // that name: without it the tunnel program under Wine can neither read the client's profile
    // file nor write its error file.
    return name.substr(0, 10) == "SOLVIKVPN_" || name == "WINEUSERNAME";
}

#else

std::optional<std::string> testSwitch(TestSwitch)
{
    return std::nullopt;
}

bool isTestVariable(std::string_view)
{
    return false;
}

#endif

} // namespace platform
