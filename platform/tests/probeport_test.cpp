#include "platform/probeport.h"
#include "testsocket.h"

#include <doctest.h>

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
