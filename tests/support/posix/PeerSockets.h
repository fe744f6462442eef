#pragma once

// The TDS peer's sockets on POSIX systems (see win/PeerSockets.h for Winsock).

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace peersockets
{

constexpr int kSocketFlags = SOCK_CLOEXEC;
constexpr int kSendFlags = MSG_NOSIGNAL; // a closed client must not end the test with SIGPIPE
constexpr int kShutBoth = SHUT_RDWR;
constexpr short kPeerHangUp = POLLRDHUP;

inline void startUp() {}
inline pollfd pollEntry(int fd, short events)
{
    pollfd p{};
    p.fd = static_cast<int>(fd);
    p.events = events;
    return p;
}
inline void closeSocket(int fd)
{
    ::close(fd);
}
inline int pollSockets(pollfd* fds, int count, int ms)
{
    return ::poll(fds, nfds_t(count), ms);
}
inline bool interrupted()
{
    return errno == EINTR;
}
inline bool permissionDenied()
{
    return errno == EACCES || errno == EPERM;
}
inline std::string errorText()
{
    return std::strerror(errno);
}

} // namespace peersockets
