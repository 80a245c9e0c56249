#include "SimClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace simtest
{

int OpenDevice(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

bool WriteAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (done < bytes.size())
    {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
        {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    return true;
}

std::string ReadFor(int fd, int idleMs, int totalMs)
{
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
    for (;;)
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        end - std::chrono::steady_clock::now())
                        .count();
        if (left <= 0)
            return out;
        pollfd p{fd, POLLIN, 0};
        int wait = static_cast<int>(std::min<long long>(left, out.empty() ? left : idleMs));
        if (::poll(&p, 1, wait) <= 0)
        {
            if (!out.empty())
                return out;
            continue;
        }
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0)
            return out;
        out.append(buf, static_cast<std::size_t>(n));
    }
}

std::string Exchange(const std::string& path, const std::string& command, int idleMs, int totalMs)
{
    int fd = OpenDevice(path);
    if (fd < 0)
        return "<open failed>";
    WriteAll(fd, command);
    std::string reply = ReadFor(fd, idleMs, totalMs);
    ::close(fd);
    return reply;
}

int ConnectTcp(const std::string& address, int port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    {
        int e = errno;
        ::close(fd);
        errno = e;
        return -1;
    }
    return fd;
}

} // namespace simtest
