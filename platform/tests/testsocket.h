#pragma once

// The few socket names the seam's tests use, spelled the same on both halves.
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
inline int closesocket(Socket socket)
{
    return ::close(socket);
}
#endif
