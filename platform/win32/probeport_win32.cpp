#include "platform/probeport.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace platform {

bool probeLoopbackPort(std::uint16_t port, int timeoutMs)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    bool accepted = false;
    const SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    if (probe != INVALID_SOCKET && ioctlsocket(probe, FIONBIO, &nonBlocking) == 0) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
            accepted = true;
        } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(probe, &writable);
            fd_set failed;
            FD_ZERO(&failed);
            FD_SET(probe, &failed);
            timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
            if (select(0, nullptr, &writable, &failed, &timeout) > 0 &&
                FD_ISSET(probe, &writable)) {
                int socketError = 0;
                int length = sizeof socketError;
                accepted = getsockopt(probe, SOL_SOCKET, SO_ERROR,
                                      reinterpret_cast<char *>(&socketError), &length) == 0 &&
                           socketError == 0;
            }
        }
    }
    if (probe != INVALID_SOCKET)
        closesocket(probe);
    WSACleanup();
    return accepted;
}

} // namespace platform
