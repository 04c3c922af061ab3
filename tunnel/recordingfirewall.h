#pragma once

#include "platform/firewall.h"

#include <string>

// A firewall that changes nothing and writes each transaction asked of it as one line to a
// file: "apply <engine path>|<adapter alias>|<local network 0 or 1>" or "remove". Tests choose it
// with a test switch where the real one cannot be used (under Wine, which has no filtering
// engine) and read the line history to see that the block stood at every step.
class RecordingFirewall final : public platform::Firewall
{
public:
    explicit RecordingFirewall(std::string path);

    std::uint32_t apply(const platform::FirewallRules &rules) override;
    std::uint32_t remove() override;

private:
    std::uint32_t record(const std::string &line);

    std::string m_path;
};
