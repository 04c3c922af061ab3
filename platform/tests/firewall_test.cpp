#include "platform/firewall.h"
#include "platform/servicecontrol.h"
#include "platform/winerror.h"
#include "testprograms.h"

#include <doctest.h>

namespace {

// What the service manager tells of the Base Filtering Engine: 0 when it runs, else the error a
// block must fail with.
std::uint32_t filteringEngineAbsence()
{
    platform::ServiceManager manager(platform::ManagerAccess::Connect);
    platform::ServiceHandle service = manager.openService("BFE", platform::ServiceQueryStatus);
    platform::ServiceStatus status;
    if (const std::uint32_t error = service.query(status))
        return error;
    return status.state == platform::ServiceState::Running ? 0
                                                           : platform::winerror::serviceNotActive;
}

} // namespace

TEST_CASE("the block refuses bad rules and, without a filtering engine, fails without harm")
{
    const auto firewall = platform::openSystemFirewall();
    REQUIRE(firewall);
    // Refused before the filtering engine is asked, so these rows leave any machine unchanged.
    const std::string engine = testProgramPath("platform_firewall_test");
    const struct
    {
        const char *name;
        platform::FirewallRules rules;
    } refused[] = {
        {"no engine", {"", "Solvik VPN", true}},
        {"engine path not UTF-8", {"C:\\\xff.exe", "Solvik VPN", false}},
        {"adapter alias not UTF-8", {engine, "\xc3", false}},
    };
    for (const auto &row : refused) {
        INFO(row.name);
        CHECK(firewall->apply(row.rules) == platform::winerror::invalidParameter);
    }

    const std::uint32_t absence = filteringEngineAbsence();
    if (absence == 0) {
        MESSAGE("the Base Filtering Engine runs here: a block would change this machine's "
                "firewall, so applying and removing are left out");
        return;
    }
    CHECK((absence == platform::winerror::serviceDoesNotExist ||
           absence == platform::winerror::serviceNotActive));
    // Under Wine this is where a call into fwpuclnt's stubs would end the process.
    CHECK(firewall->apply({engine, "Solvik VPN", true}) == absence);
    CHECK(firewall->remove() == 0);
}
