#pragma once

#include "platform/firewall.h"

#include <QString>

#include <memory>

// The firewall the tunnel program keeps its block in, and the block it puts up for a tunnel.
namespace tunnelfirewall {

// The machine's firewall, or in test builds the recording one a test switch names.
std::unique_ptr<platform::Firewall> open();

// The block for the engine beside the programs in `applicationDirectory`.
platform::FirewallRules rules(const QString &applicationDirectory, bool allowLocalNetwork);

// Lifts whatever block of the product is in place; 0 or the error number of lifting it.
std::uint32_t lift();

} // namespace tunnelfirewall
