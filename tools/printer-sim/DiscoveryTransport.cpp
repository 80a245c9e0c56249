#include "DiscoveryTransport.h"

#include "Json.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace printersim
{

namespace
{
constexpr std::size_t RECORD_SIZE = 432;
} // namespace

DiscoveryTransport::~DiscoveryTransport()
{
    for (Device* d : m_devices)
        CloseFd(d->udpFd);
    CloseFd(m_discoveryFd);
}

void DiscoveryTransport::AddFds(PollSet& set)
{
    if (m_discoveryFd >= 0)
        set.Add(m_discoveryFd, POLLIN, [this](short) { OnReadable(m_discoveryFd, nullptr); });
    for (Device* d : m_devices)
        if (d->udpFd >= 0)
            set.Add(d->udpFd, POLLIN, [this, d](short) { OnReadable(d->udpFd, d); });
}

std::string DiscoveryTransport::Start(const std::vector<std::unique_ptr<Device>>& devices)
{
    auto makeSocket = [&](const std::string& address, int& fd) -> std::string
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(m_port));
        if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1)
            return "bad discovery address " + address;
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return Errno("socket");
        // The requester and every simulator share the port: all of them set
        // SO_REUSEADDR, or the second bind fails.
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        {
            std::string e = Errno("bind udp " + address + ":" + std::to_string(m_port));
            CloseFd(fd);
            return e;
        }
        return "";
    };
    std::string error = makeSocket(m_bind, m_discoveryFd);
    if (!error.empty())
        return error;
    for (auto& d : devices)
    {
        if (d->Cfg().kind != Kind::Network)
            continue;
        m_devices.push_back(d.get());
        // Answers leave from the printer's own address: a requester that filters by
        // sender sees each printer as itself, and the answer is not taken by a socket
        // bound to the wildcard address on this side.
        error = makeSocket(d->Cfg().address, d->udpFd);
        if (!error.empty())
            return "printer '" + d->Name() + "': " + error;
    }
    return "";
}

void DiscoveryTransport::OnReadable(int fd, Device* only)
{
    for (int round = 0; round < 64; ++round)
    {
        char buf[4096];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return;
        std::string bytes(buf, static_cast<std::size_t>(n));
        static const char request[6] = {0x2E, 0x2C, 0x3A, 0x01, 0x00, 0x00};
        bool valid = n == 6 && std::memcmp(buf, request, 6) == 0;
        std::string sender = Dotted(from.sin_addr);
        m_log.Write(m_log.Begin("discovery-request", only ? only->Name() : "")
                        .Add("from", sender)
                        .Add("port", static_cast<int>(ntohs(from.sin_port)))
                        .Add("hex", json::HexBytes(bytes))
                        .Add("valid", valid));
        if (!valid)
            continue;
        if (!m_allowNonLoopback && (ntohl(from.sin_addr.s_addr) >> 24) != 127)
        {
            m_log.Write(
                m_log.Begin("discovery-refused").Add("to", sender).Add("reason", "not loopback"));
            continue;
        }
        for (Device* d : m_devices)
            if (d->udpFd >= 0 && (!only || only == d))
                Answer(*d, from);
    }
}

void DiscoveryTransport::Answer(Device& d, const sockaddr_in& to)
{
    const Faults& f = d.Cfg().faults;
    if (!d.Cfg().powered || f.discovery == DiscoveryMode::None)
        return;
    std::string record(RECORD_SIZE, '\0');
    record[0] = 0x3A;
    record[1] = 0x2C;
    record[2] = 0x2E;
    in_addr addr{};
    ::inet_pton(AF_INET, (f.discoveryClaim.empty() ? d.Cfg().address : f.discoveryClaim).c_str(),
                &addr);
    std::memcpy(&record[72], &addr, 4);
    std::string name = d.Name().substr(0, RECORD_SIZE - 84 - 1);
    std::memcpy(&record[84], name.data(), name.size());
    int copies = 1;
    const char* mode = "normal";
    switch (f.discovery)
    {
    case DiscoveryMode::Normal:
    case DiscoveryMode::None:
        break;
    case DiscoveryMode::Duplicate:
        copies = 2;
        mode = "dup";
        break;
    case DiscoveryMode::Short:
        record.resize(static_cast<std::size_t>(f.discoveryLength));
        mode = "short";
        break;
    case DiscoveryMode::Long:
        // Filler a reader would show if it ran past the record.
        record.resize(static_cast<std::size_t>(f.discoveryLength), 'X');
        mode = "long";
        break;
    case DiscoveryMode::NoNul:
        for (std::size_t i = 84 + name.size(); i < RECORD_SIZE; ++i)
            record[i] = 'N';
        mode = "nonul";
        break;
    case DiscoveryMode::BadSignature:
        record[0] = 0x2E;
        record[1] = 0x2C;
        record[2] = 0x3A;
        mode = "badsig";
        break;
    }
    for (int k = 0; k < copies; ++k)
    {
        ssize_t n = ::sendto(d.udpFd, record.data(), record.size(), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to);
        json::Object line = m_log.Begin("discovery-answer", d.Name());
        line.Add("to", Dotted(to.sin_addr))
            .Add("port", static_cast<int>(ntohs(to.sin_port)))
            .Add("length", static_cast<std::uint64_t>(record.size()))
            .Add("mode", mode);
        if (n < 0)
            line.Add("errno", errno);
        m_log.Write(line);
    }
}

} // namespace printersim
