#pragma once

#include <cstdint>
#include <memory>
#include <string>

// The block that keeps a tunnel's traffic inside it while the tunnel is meant to be up: nothing
// leaves or enters the machine except the engine's own traffic, loopback, address configuration
// (DHCPv4, DHCPv6, neighbour discovery) and the tunnel adapter's traffic, with the local network
// when the rules allow it. It outlives the process that put it up, so an engine or service that
// dies leaves the machine blocked, not open; a restart of the machine clears it.
//
// Windows: filters of the Windows Filtering Platform in a standard session, under a provider and
// sublayer of fixed keys at the top weight, one transaction per change; fwpuclnt is loaded at run
// time, and without a running Base Filtering Engine (Wine has none) nothing is called and the
// block fails. POSIX: a table of the product's own in nftables, replaced in one `nft -f`
// transaction; the engine's traffic is told apart by the control group it runs in.
namespace platform {

struct FirewallRules
{
    // The engine's executable, absolute and in native form: on Windows its traffic is the only
    // traffic let out other than through the tunnel adapter.
    std::string enginePath;
    // The tunnel adapter's alias; its traffic passes once the adapter exists.
    std::string adapterAlias;
    // Private address ranges (never their port 53) may be reached outside the tunnel.
    bool allowLocalNetwork = false;
};

class Firewall
{
public:
    virtual ~Firewall() = default;

    // Puts `rules` in place of whatever block of the product there is, in one transaction: a
    // block already in place holds until the new one replaces it. 0, or the error number of the
    // step that failed; nothing changed then.
    virtual std::uint32_t apply(const FirewallRules &rules) = 0;
    // Removes everything of the product's block; 0 also when there was none.
    virtual std::uint32_t remove() = 0;
};

// The machine's own firewall. On POSIX, builds with the test switches refuse (5) to change the
// machine's initial network namespace: tests block only inside namespaces they made.
std::unique_ptr<Firewall> openSystemFirewall();

} // namespace platform
