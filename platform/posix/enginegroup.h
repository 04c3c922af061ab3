#pragma once

#include <optional>
#include <string>

// The control group the engine runs in while the block is up: its sockets are what the
// nftables block lets out. "solvikvpn-engine" at the top of the unified hierarchy, which nft
// names relative to /sys/fs/cgroup; a group rather than a user, group id or packet mark because
// membership passes to everything the engine starts and names no account that others may share.
namespace platform::enginegroup {

// Creates the group when missing; its path relative to /sys/fs/cgroup, or nothing when the
// unified hierarchy is not mounted there or cannot be written.
std::optional<std::string> prepare();

// Its membership file, the group created when missing, opened for writing, close-on-exec: a process
// that writes "0" to it joins the group. -1 with errno set on failure.
int openMembership();

} // namespace platform::enginegroup
