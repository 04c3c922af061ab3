#include "platform/probeport.h"

#include "platform/posix/fileio.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

bool probeLoopbackPort(std::uint16_t port, int timeoutMs)
{
    const posix::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int fd = socket.get();
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool accepted = false;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
        accepted = true;
    } else if (errno == EINPROGRESS) {
        pollfd entry{fd, POLLOUT, 0};
        if (::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLOUT)) {
            int socketError = 0;
            socklen_t length = sizeof socketError;
            accepted = ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &length) == 0 &&
                       socketError == 0;
        }
    }
    return accepted;
}

} // namespace platform
