#include "platform/testswitch.h"

#include <cstdlib>

#if SOLVIKVPN_TEST_SWITCHES && defined(_WIN32)
#include <windows.h>

#include <filesystem>
#include <fstream>
#endif

namespace platform {

#if SOLVIKVPN_TEST_SWITCHES

#ifdef _WIN32
namespace {

// A service of Wine's service manager gets only the machine's environment as it was when the
// manager started, so there the switches may also come from "test-switches.txt" beside the
// program: one NAME=value per line.
std::optional<std::string> fileSwitch(const std::string &name)
{
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return std::nullopt;
    std::ifstream file(std::filesystem::path(std::wstring(buffer, length)).parent_path() /
                       L"test-switches.txt");
    const std::string prefix = name + '=';
    std::string line;
    for (int read = 0; read < 64 && std::getline(file, line); ++read) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > prefix.size() && line.compare(0, prefix.size(), prefix) == 0)
            return line.substr(prefix.size());
    }
    return std::nullopt;
}

} // namespace
#endif

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
    case TestSwitch::NoLookups:
        name = "SOLVIKVPN_NO_LOOKUPS";
        break;
    case TestSwitch::RecordFirewall:
        name = "SOLVIKVPN_RECORD_FIREWALL";
        break;
    }
    if (!name)
        return std::nullopt;
    const char *value = std::getenv(name);
    if (value && *value)
        return std::string(value);
#ifdef _WIN32
    return fileSwitch(name);
#else
    return std::nullopt;
#endif
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
