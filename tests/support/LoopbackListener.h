#pragma once
// A TCP listening socket on 127.0.0.1 with a port the system picks: a printer that takes
// raw-print connections, for tests of network ports and of the jobs that use them. It
// accepts only when asked, and never reads by itself.
#include "WinTypes.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class LoopbackListener
{
public:
    // receiveBuffer, when given, is the receive buffer every accepted connection gets.
    explicit LoopbackListener(int receiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (receiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
    }
    ~LoopbackListener() { Stop(); }
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    DWORD Port() const { return m_port; }
    void Stop()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    // Accepts one connection within ms, or -1.
    int Accept(int ms = 2000)
    {
        struct pollfd p = {m_fd, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0)
            return -1;
        return ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    int m_fd = -1;
    DWORD m_port = 0;
};
