#include "NetTransport.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace printersim
{

NetTransport::~NetTransport()
{
    for (Device* d : m_devices)
    {
        CloseFd(d->listenFd);
        CloseFd(d->tarpitFd);
        CloseFd(d->connFd);
    }
}

std::string NetTransport::Add(Device& d)
{
    m_devices.push_back(&d);
    return d.Cfg().powered ? Start(d) : "";
}

void NetTransport::AddFds(PollSet& set)
{
    for (Device* d : m_devices)
    {
        if (d->listenFd >= 0 && d->connFd < 0 && d->tarpitFd < 0)
            set.Add(d->listenFd, POLLIN, [this, d](short) { OnAccept(*d); });
        if (d->connFd >= 0)
            set.Add(d->connFd, d->readable ? POLLIN : 0,
                    [this, d, fd = d->connFd](short)
                    {
                        // It may have ended earlier in this round (power off).
                        if (d->connFd == fd)
                            OnReadable(*d);
                    });
    }
}

std::string NetTransport::Start(Device& d)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(d.Cfg().tcpPort));
    if (::inet_pton(AF_INET, d.Cfg().address.c_str(), &a.sin_addr) != 1)
        return "bad address " + d.Cfg().address;
    d.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (d.listenFd < 0)
        return Errno("socket");
    int one = 1;
    ::setsockopt(d.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(d.listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    {
        std::string e = Errno("bind " + d.Cfg().address + ":" + std::to_string(d.Cfg().tcpPort));
        CloseFd(d.listenFd);
        return e;
    }
    const bool tarpit = d.Cfg().faults.tarpit;
    if (::listen(d.listenFd, tarpit ? 0 : 8) != 0)
    {
        std::string e = Errno("listen");
        CloseFd(d.listenFd);
        return e;
    }
    if (tarpit)
        return FillBacklog(d, a);
    return "";
}

// A tarpit takes one connection of its own into a backlog of one and never accepts it:
// the stack then ignores every later connection request instead of refusing it, so a
// client's connect waits until it gives up, as with a host that has vanished.
std::string NetTransport::FillBacklog(Device& d, const sockaddr_in& address)
{
    d.tarpitFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (d.tarpitFd < 0)
        return Errno("socket");
    if (::connect(d.tarpitFd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS)
    {
        std::string e = Errno("connect to the tarpit");
        CloseFd(d.tarpitFd);
        CloseFd(d.listenFd);
        return e;
    }
    return "";
}

void NetTransport::Stop(Device& d, bool reset)
{
    if (d.connFd >= 0)
    {
        if (reset)
        {
            linger l{1, 0};
            ::setsockopt(d.connFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        CloseConnection(d, "power-off");
    }
    CloseFd(d.tarpitFd);
    CloseFd(d.listenFd);
}

void NetTransport::OnAccept(Device& d)
{
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept4(d.listenFd, reinterpret_cast<sockaddr*>(&peer), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    d.connFd = fd;
    d.connBytes = 0;
    ++d.connId;
    ++d.printer.Count().connections;
    m_log.Write(
        m_log.Begin("open", d.Name())
            .Add("connection", d.connId)
            .Add("from", Dotted(peer.sin_addr) + ":" + std::to_string(ntohs(peer.sin_port))));
    const Faults& f = d.Cfg().faults;
    if (f.dropAfter == 0 && (f.dropTimes == 0 || d.drops < f.dropTimes))
        DropConnection(d);
}

void NetTransport::OnReadable(Device& d)
{
    auto now = Clock::now();
    std::size_t limit = m_host.ReadLimit(d, now);
    if (limit == 0)
        return;
    char buf[READ_CHUNK];
    ssize_t n = ::recv(d.connFd, buf, std::min(limit, sizeof buf), 0);
    if (n < 0)
    {
        if (errno == EAGAIN || errno == EINTR)
            return;
        m_log.Write(m_log.Begin("error", d.Name())
                        .Add("connection", d.connId)
                        .Add("errno", errno)
                        .Add("text", std::strerror(errno)));
        CloseConnection(d, "error");
        return;
    }
    if (n == 0)
    {
        // The client has shut down its sending side: the job is complete.
        CloseConnection(d, "eof");
        return;
    }
    d.connBytes += static_cast<std::uint64_t>(n);
    m_host.Received(d, buf, static_cast<std::size_t>(n), now);
    const Faults& f = d.Cfg().faults;
    if (f.dropAfter >= 0 && (f.dropTimes == 0 || d.drops < f.dropTimes) &&
        d.connBytes >= static_cast<std::uint64_t>(f.dropAfter))
        DropConnection(d);
}

void NetTransport::DropConnection(Device& d)
{
    const Faults& f = d.Cfg().faults;
    ++d.drops;
    m_log.Write(m_log.Begin("drop", d.Name())
                    .Add("connection", d.connId)
                    .Add("after", d.connBytes)
                    .Add("mode", DropModeName(f.dropMode)));
    if (f.dropMode == DropMode::Reset)
    {
        linger l{1, 0};
        ::setsockopt(d.connFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    if (f.dropMode == DropMode::Keep)
        KeepAcknowledged(d);
    CloseConnection(d, "drop");
}

// A printer that goes away with its buffer intact: what its TCP stack acknowledged is
// what the sender may count as delivered, so all of that is taken, and nothing after.
// Shutting both directions first makes the stack answer any later data with a reset
// instead of acknowledging it; the queue, all acknowledged, is then read to its end.
void NetTransport::KeepAcknowledged(Device& d)
{
    ::shutdown(d.connFd, SHUT_RDWR);
    char buf[READ_CHUNK];
    for (;;)
    {
        ssize_t n = ::recv(d.connFd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        d.connBytes += static_cast<std::uint64_t>(n);
        m_host.Received(d, buf, static_cast<std::size_t>(n), Clock::now());
    }
}

void NetTransport::CloseConnection(Device& d, const char* why)
{
    m_host.FlushPending(d);
    CloseFd(d.connFd);
    m_log.Write(m_log.Begin("close", d.Name())
                    .Add("connection", d.connId)
                    .Add("bytes", d.connBytes)
                    .Add("reason", why));
}

} // namespace printersim
