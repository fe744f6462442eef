#pragma once

// The TDS peer's sockets on Windows: Winsock, with its handles kept in an int
// as the POSIX code keeps its descriptors (they are small numbers).

// Without wincrypt.h, whose X509_NAME and other names clash with OpenSSL's.
#ifndef NOCRYPT
#define NOCRYPT
#endif
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#include <string>

namespace peersockets
{

constexpr int kSocketFlags = 0;
constexpr int kSendFlags = 0;
constexpr int kShutBoth = SD_BOTH;
// WSAPoll takes no POLLHUP among the events asked for: a client gone shows as
// readable (and POLLHUP in the answer).
constexpr short kPeerHangUp = POLLIN;

inline void startUp()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    });
}
inline pollfd pollEntry(int fd, short events)
{
    pollfd p{};
    p.fd = static_cast<SOCKET>(fd);
    p.events = events;
    return p;
}
inline void closeSocket(int fd)
{
    ::closesocket(static_cast<SOCKET>(fd));
}
inline int pollSockets(pollfd* fds, int count, int ms)
{
    return ::WSAPoll(fds, static_cast<ULONG>(count), ms);
}
inline bool interrupted()
{
    return WSAGetLastError() == WSAEINTR;
}
inline bool permissionDenied()
{
    return WSAGetLastError() == WSAEACCES;
}
inline std::string errorText()
{
    return "Winsock error " + std::to_string(WSAGetLastError());
}

} // namespace peersockets
