#pragma once

#include <cstdint>

namespace platform {

// One attempt to connect to 127.0.0.1:`port` with a non-blocking TCP connect, waiting at most
// `timeoutMs` for it to complete. True when the connection was accepted; the socket is closed
// again either way (Winsock is started and released around the attempt on Windows).
bool probeLoopbackPort(std::uint16_t port, int timeoutMs);

} // namespace platform
