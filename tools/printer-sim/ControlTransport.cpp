#include "ControlTransport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace printersim
{

ControlTransport::~ControlTransport()
{
    for (auto& c : m_clients)
        CloseFd(c->fd);
    CloseFd(m_controlFd);
}

void ControlTransport::Cleanup()
{
    if (m_controlCreated)
    {
        ::unlink(m_path.c_str());
        m_controlCreated = false;
    }
}

void ControlTransport::AddFds(PollSet& set)
{
    if (m_controlFd >= 0)
        set.Add(m_controlFd, POLLIN, [this](short) { OnAccept(); });
    for (auto& c : m_clients)
        set.Add(c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)),
                [this, client = c.get()](short) { OnReadable(*client); });
}

void ControlTransport::AfterRound()
{
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                   [](const std::unique_ptr<Client>& c)
                                   {
                                       if (c->closing && c->out.empty())
                                       {
                                           ::close(c->fd);
                                           return true;
                                       }
                                       return false;
                                   }),
                    m_clients.end());
}

std::string ControlTransport::Start()
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (m_path.size() >= sizeof a.sun_path)
        return "control path too long: " + m_path;
    std::strcpy(a.sun_path, m_path.c_str());
    struct stat st = {};
    if (::lstat(m_path.c_str(), &st) == 0)
    {
        if (!S_ISSOCK(st.st_mode))
            return m_path + " exists and is not a socket";
        ::unlink(m_path.c_str());
    }
    m_controlFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_controlFd < 0)
        return Errno("socket");
    if (::bind(m_controlFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return Errno("bind " + m_path);
    m_controlCreated = true;
    if (::listen(m_controlFd, 8) != 0)
        return Errno("listen " + m_path);
    return "";
}

void ControlTransport::OnAccept()
{
    int fd = ::accept4(m_controlFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    auto c = std::make_unique<Client>();
    c->fd = fd;
    m_clients.push_back(std::move(c));
}

void ControlTransport::OnReadable(Client& c)
{
    char buf[4096];
    for (;;)
    {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0)
        {
            c.in.append(buf, static_cast<std::size_t>(n));
            if (c.in.size() > 65536)
            {
                c.closing = true;
                c.out.clear();
                return;
            }
            continue;
        }
        if (n == 0)
            c.closing = true;
        break;
    }
    std::size_t nl;
    while ((nl = c.in.find('\n')) != std::string::npos)
    {
        std::string line = c.in.substr(0, nl);
        c.in.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        c.out += m_handler(line) + "\n";
    }
    while (!c.out.empty())
    {
        ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n <= 0)
        {
            if (n < 0 && errno != EAGAIN)
            {
                c.out.clear();
                c.closing = true;
            }
            break;
        }
        c.out.erase(0, static_cast<std::size_t>(n));
    }
}

} // namespace printersim
