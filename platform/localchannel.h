#pragma once

#include <string>

// Where the client's single-instance channel listens, so that only the account that runs it can
// reach it.
namespace platform {

// The name a local server for `id` (letters, digits and '-') listens on: on Windows a pipe name,
// which the server restricts to the current account itself; on POSIX the path of a socket in a
// folder that only this account can enter ($XDG_RUNTIME_DIR when it is such a folder, else
// /tmp/solvikvpn-<uid>, made with mode 0700 and refused when it is a link or anyone else's).
// Empty when no such folder can be had.
std::string userChannelName(const std::string &id);

} // namespace platform
