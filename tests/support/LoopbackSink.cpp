#include "LoopbackSink.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
double MonotonicSeconds()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}
} // namespace

LoopbackSink::LoopbackSink(int listeners)
{
    for (int i = 0; i < listeners; ++i)
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(fd, 16) != 0)
        {
            std::perror("loopback sink");
            m_ok = false;
        }
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_listeners.push_back(fd);
        m_ports.push_back(ntohs(a.sin_port));
    }
}

LoopbackSink::~LoopbackSink()
{
    CloseListeners();
}

void LoopbackSink::CloseListeners()
{
    for (int& fd : m_listeners)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

void LoopbackSink::Serve(int stopFd, const Handlers& handlers)
{
    std::vector<pollfd> fds;
    std::map<int, Ended> connections;
    fds.push_back({stopFd, POLLIN, 0});
    for (int fd : m_listeners)
        fds.push_back({fd, POLLIN, 0});
    const std::size_t first = fds.size();
    std::vector<char> buffer(1 << 20);
    bool serving = true;
    while (serving)
    {
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue;
        if (fds[0].revents)
            break;
        const std::size_t n = fds.size();
        for (std::size_t i = first; i < n && serving; ++i)
        {
            if (!fds[i].revents)
                continue;
            ssize_t r = ::read(fds[i].fd, buffer.data(), buffer.size());
            Ended& c = connections[fds[i].fd];
            if (r > 0)
            {
                c.bytes += r;
                if (handlers.received)
                    handlers.received(buffer.data(), static_cast<std::size_t>(r));
                continue;
            }
            c.at = MonotonicSeconds();
            if (handlers.ended)
                handlers.ended(c);
            connections.erase(fds[i].fd);
            ::close(fds[i].fd);
            fds[i].fd = -1;
        }
        for (std::size_t i = 1; i < first; ++i)
            if (fds[i].revents & POLLIN)
            {
                int c = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
                if (c < 0)
                    continue;
                const int listener = static_cast<int>(i - 1);
                if (handlers.accepted && !handlers.accepted(listener))
                {
                    ::close(c);
                    continue;
                }
                fds.push_back({c, POLLIN, 0});
                connections[c] = Ended{listener, 0, 0};
            }
        std::erase_if(fds, [](const pollfd& p) { return p.fd < 0; });
    }
    for (std::size_t i = first; i < fds.size(); ++i)
        ::close(fds[i].fd);
}

SinkProcess::SinkProcess(int count) : m_sink(count)
{
    if (!m_sink.Ok())
        std::exit(2);
    int control[2], results[2];
    if (::pipe2(control, O_CLOEXEC) != 0 || ::pipe2(results, O_CLOEXEC) != 0)
        std::exit(2);
    m_pid = ::fork();
    if (m_pid == 0)
    {
        ::close(control[1]);
        ::close(results[0]);
        const int out = results[1];
        LoopbackSink::Handlers report;
        report.ended = [out](const Ended& e)
        {
            if (::write(out, &e, sizeof e) != static_cast<ssize_t>(sizeof e))
                _exit(0); // the parent has gone
        };
        m_sink.Serve(control[0], report);
        _exit(0);
    }
    ::close(control[0]);
    ::close(results[1]);
    m_control = control[1];
    m_results = results[0];
    m_sink.CloseListeners();
}

SinkProcess::~SinkProcess()
{
    ::close(m_control);
    ::close(m_results);
    int status;
    ::waitpid(m_pid, &status, 0);
}

std::vector<SinkProcess::Ended> SinkProcess::Collect(int count)
{
    std::vector<Ended> out;
    while (static_cast<int>(out.size()) < count)
    {
        struct pollfd p = {m_results, POLLIN, 0};
        if (::poll(&p, 1, 120000) <= 0)
        {
            std::fprintf(stderr, "sink: a connection never ended\n");
            std::exit(3);
        }
        Ended e{};
        if (::read(m_results, &e, sizeof e) != static_cast<ssize_t>(sizeof e))
            std::exit(3);
        out.push_back(e);
    }
    return out;
}
