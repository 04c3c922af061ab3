#include "platform/firewall.h"

#include "platform/posix/enginegroup.h"
#include "platform/supervisedprocess.h"
#include "platform/winerror.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// Never looked up on PATH: the service runs as root.
constexpr const char *nftPrograms[] = {"/usr/sbin/nft", "/sbin/nft"};

// Declaring the table first lets the deletion succeed when there is none, so the whole
// replacement is one transaction that either lands or leaves the old block as it was.
constexpr char replaceTable[] = "table inet solvikvpn\ndelete table inet solvikvpn\n";

constexpr char neighbourDiscovery[] =
    "icmpv6 type { nd-router-solicit, nd-router-advert, nd-neighbor-solicit, "
    "nd-neighbor-advert, nd-redirect } accept\n";
constexpr char localRanges4[] = "{ 10.0.0.0/8, 172.16.0.0/12, 192.168.0.0/16, 169.254.0.0/16, "
                                "224.0.0.0/4, 255.255.255.255 }";
constexpr char localRanges6[] = "{ fe80::/10, fc00::/7, ff00::/8 }";

// Only names that nft reads as one plain word inside quotes.
bool isPlainAlias(const std::string &alias)
{
    if (alias.empty() || alias.size() > 15)
        return false;
    for (const char c : alias) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!plain)
            return false;
    }
    return true;
}

std::string ruleset(const FirewallRules &rules, const std::string &engineGroup)
{
    const std::string adapter = '"' + rules.adapterAlias + '"';
    std::string out = "chain output {\ntype filter hook output priority filter - 10; policy drop;\n"
                      "oifname \"lo\" accept\noifname " +
                      adapter + " accept\nsocket cgroupv2 level 1 \"" + engineGroup +
                      "\" accept\nudp sport 68 udp dport 67 accept\n"
                      "udp sport 546 udp dport 547 accept\n" +
                      neighbourDiscovery;
    std::string in = "chain input {\ntype filter hook input priority filter - 10; policy drop;\n"
                     "iifname \"lo\" accept\niifname " +
                     adapter +
                     " accept\nct state established,related accept\n"
                     "udp sport 67 udp dport 68 accept\nudp sport 547 udp dport 546 accept\n" +
                     neighbourDiscovery;
    if (rules.allowLocalNetwork) {
        // The local network's name servers would see every name the user looks up.
        const std::string noNames = "meta l4proto { tcp, udp } th dport 53 drop\n";
        out += noNames + "ip daddr " + localRanges4 + " accept\nip6 daddr " + localRanges6 +
               " accept\n";
        in += "meta l4proto { tcp, udp } th sport 53 drop\nip saddr " + std::string(localRanges4) +
              " accept\nip6 saddr " + localRanges6 + " accept\n";
    }
    return std::string(replaceTable) + "table inet solvikvpn {\n" + out + "}\n" + in + "}\n}\n";
}

// Runs nft with `script` on its standard input; 0 when it succeeded.
std::uint32_t runNft(const std::string &script)
{
    const auto program = std::find_if(std::begin(nftPrograms), std::end(nftPrograms),
                                      [](const char *path) { return ::access(path, X_OK) == 0; });
    if (program == std::end(nftPrograms))
        return winerror::fileNotFound;
    SupervisedProcess nft;
    if (const std::uint32_t error = nft.start(*program, {"-f", "-"}, std::string()))
        return error;
    const bool written = nft.writeInput(script.data(), script.size());
    nft.closeInput();
    // What nft says is read to its end only so that it never waits on a full pipe.
    char discarded[512];
    while (nft.readOutput(discarded, sizeof discarded) > 0) {
    }
    nft.wait(-1);
    return written && nft.exitCode() == 0 ? winerror::success : winerror::generalFailure;
}

#if SOLVIKVPN_TEST_SWITCHES
// The number recent kernels give their first network namespace; older ones number it at boot.
constexpr ino_t initialNetworkInode = 0xEFFFFFF9;
#endif

// Test builds keep off the machine that runs them: a block there would cut every other program
// off the network. They change only namespaces their tests made: not the one of the machine's
// first process, nor (where that process cannot be looked at) the kernel's first.
bool mayChangeThisNamespace()
{
#if SOLVIKVPN_TEST_SWITCHES
    struct stat own
    {
    };
    struct stat first
    {
    };
    if (::stat("/proc/self/ns/net", &own) != 0 || own.st_ino == initialNetworkInode)
        return false;
    if (::stat("/proc/1/ns/net", &first) != 0)
        return errno == EACCES;
    return own.st_ino != first.st_ino || own.st_dev != first.st_dev;
#else
    return true;
#endif
}

class NftablesFirewall final : public Firewall
{
public:
    std::uint32_t apply(const FirewallRules &rules) override
    {
        if (!isPlainAlias(rules.adapterAlias))
            return winerror::invalidParameter;
        if (!mayChangeThisNamespace())
            return winerror::accessDenied;
        const std::optional<std::string> group = enginegroup::prepare();
        if (!group)
            return winerror::fileNotFound;
        return runNft(ruleset(rules, *group));
    }

    std::uint32_t remove() override
    {
        // Where the tests could not have put a block, or nft is missing, there is none to lift.
        if (!mayChangeThisNamespace())
            return winerror::success;
        const std::uint32_t result = runNft(replaceTable);
        return result == winerror::fileNotFound ? winerror::success : result;
    }
};

} // namespace

std::unique_ptr<Firewall> openSystemFirewall()
{
    return std::make_unique<NftablesFirewall>();
}

} // namespace platform
