// Independent peers for the socket tests: plain blocking POSIX sockets, no
// code of the socket layer.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "net/Dispatcher.h"

namespace nettest {

// A loopback listener on a free port.
struct Listener {
    int fd = -1;
    int port = 0;
    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 64);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener()
    {
        if (fd >= 0)
            ::close(fd);
    }
    std::string PortText() const { return std::to_string(port); }
    // Accepts one connection without blocking the test's dispatcher for long:
    // pumps notices while waiting. -1 on timeout.
    int AcceptPumping(std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        auto until = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < until) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 0) == 1)
                return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
            WaitForNotices(std::chrono::steady_clock::now() + std::chrono::milliseconds(5));
        }
        return -1;
    }
};

// A port on which nothing listens (bound, then closed).
inline int ClosedPort()
{
    Listener l;
    int p = l.port;
    return p;
}

// Pumps the calling thread's notices until cond holds or the limit passes.
inline bool PumpUntil(const std::function<bool()>& cond,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
{
    auto until = std::chrono::steady_clock::now() + limit;
    while (!cond()) {
        auto now = std::chrono::steady_clock::now();
        if (now >= until)
            return false;
        WaitForNotices(std::min(until, now + std::chrono::milliseconds(50)));
    }
    return true;
}

inline void WriteAll(int fd, const std::string& s)
{
    std::size_t off = 0;
    while (off < s.size()) {
        ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        off += static_cast<std::size_t>(n);
    }
}

// Reads what arrives within the limit (until count bytes or the peer's close).
inline std::string ReadSome(int fd, std::size_t count,
                            std::chrono::milliseconds limit = std::chrono::milliseconds(3000))
{
    std::string out;
    auto until = std::chrono::steady_clock::now() + limit;
    while (out.size() < count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) != 1)
            break;
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

// Makes the next close of fd send a reset instead of a FIN.
inline void ResetOnClose(int fd)
{
    linger li{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &li, sizeof li);
}

inline int OpenFdCount()
{
    int n = 0;
    for (int fd = 0; fd < 4096; ++fd)
        if (::fcntl(fd, F_GETFD) != -1)
            ++n;
    return n;
}

}  // namespace nettest
