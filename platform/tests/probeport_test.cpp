#include "platform/probeport.h"

#include <doctest.h>

#ifdef _WIN32
#include <winsock2.h>
using Socket = SOCKET;
using AddressLength = int;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using Socket = int;
using AddressLength = socklen_t;
#define closesocket close
#endif

namespace {

// A loopback listener on an ephemeral port; `listening` false leaves it bound but deaf, which
// refuses connections like a closed port while keeping the port ours.
struct Listener
{
    explicit Listener(bool listening)
    {
#ifdef _WIN32
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
#endif
        socket = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address);
        if (listening)
            ::listen(socket, 4);
        AddressLength length = sizeof address;
        ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~Listener()
    {
        closesocket(socket);
#ifdef _WIN32
        WSACleanup();
#endif
    }
    Socket socket;
    std::uint16_t port = 0;
};

} // namespace

TEST_CASE("the probe sees whether a loopback port accepts connections")
{
    {
        Listener open(true);
        REQUIRE(open.port != 0);
        CHECK(platform::probeLoopbackPort(open.port, 100));
    }
    Listener deaf(false);
    REQUIRE(deaf.port != 0);
    CHECK_FALSE(platform::probeLoopbackPort(deaf.port, 100));
}
