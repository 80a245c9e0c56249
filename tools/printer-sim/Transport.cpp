#include "Transport.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <unistd.h>

namespace printersim
{

void Wake::At(Clock::time_point t)
{
    int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(t - m_now).count() + 1);
    ms = std::max(ms, 1);
    m_timeout = m_timeout < 0 ? ms : std::min(m_timeout, ms);
}

void PollSet::Add(int fd, short events, Handler onReady, bool first)
{
    m_fds.push_back({fd, events, 0});
    m_handlers.push_back(std::move(onReady));
    m_first.push_back(first);
}

int PollSet::Poll(int timeoutMs)
{
    return ::poll(m_fds.data(), m_fds.size(), timeoutMs);
}

void PollSet::Dispatch()
{
    for (bool first : {true, false})
        for (std::size_t i = 0; i < m_fds.size(); ++i)
            if (m_first[i] == first && m_fds[i].revents)
                m_handlers[i](m_fds[i].revents);
}

std::string Errno(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string Dotted(const in_addr& a)
{
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

} // namespace printersim
