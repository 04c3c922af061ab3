#pragma once

#include <optional>
#include <string>
#include <string_view>

// Environment variables through which tests reach into the programs: the POSIX service manager's
// state directory, the client's elevator, the health check's pages, for Wine, which keeps no
// access lists, trust in the folders the tunnel program judges, a normal client run that looks
// nothing up on the internet, and a firewall that only records what it was asked to do. They
// exist only in builds configured with SOLVIKVPN_TEST_SWITCHES, never in a release or anything
// shipped: there the variable names are not even in the binaries, and every switch reads as
// unset.
namespace platform {

enum class TestSwitch
{
    ServiceRoot,           // SOLVIKVPN_SERVICE_ROOT
    Elevation,             // SOLVIKVPN_ELEVATION
    ConnectivityCheckUrls, // SOLVIKVPN_CONNECTIVITY_CHECK_URLS
    TrustFolders,          // SOLVIKVPN_TRUST_FOLDERS
    NoLookups,             // SOLVIKVPN_NO_LOOKUPS
    RecordFirewall         // SOLVIKVPN_RECORD_FIREWALL: a file that stands for the firewall
};

// The switch's value; nothing when it is unset, empty or not built in. On Windows a switch the
// environment lacks may also be given in "test-switches.txt" beside the program.
std::optional<std::string> testSwitch(TestSwitch which);

// Whether the tunnel program keeps the variable `name` when it clears its environment: in test
// builds the switches, the engine stub's behaviours ("SOLVIKVPN_" names) and Wine's account name
// ("WINEUSERNAME", for the lane under Wine), otherwise none.
bool isTestVariable(std::string_view name);

} // namespace platform
