#pragma once
// Network printers that answer discovery on loopback, for the discovery tests: they hear
// the request on 127.255.255.255 and answer from their own 127.0.0.x, as a printer
// answers from its address, on the discovery port of the test process
// (UsePrivateDiscoveryPort). Each may also accept raw-print connections on TCP
// 9100, so a detected printer's port can be opened. Nothing is sent outside 127/8, and
// the answering thread stops by itself after a bounded time.
#include "CSearchNetworkDlg.h"
#include "DiscoveryPacket.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class DiscoveryFakePrinters
{
public:
    // Moves this test process's searches to a port of its own, so that searches of
    // other test runs on this computer neither hear our printers nor take their answers
    // (unicast to a shared port is spread over its sockets). Returns the port.
    static unsigned UsePrivateDiscoveryPort()
    {
        if (!std::getenv("VARKO_DISCOVERY_PORT"))
            setenv("VARKO_DISCOVERY_PORT", std::to_string(20000 + ::getpid() % 30000).c_str(), 1);
        return DiscoveryPort();
    }

    struct Answer
    {
        std::string from;        // the 127.0.0.x it answers from
        std::vector<BYTE> bytes; // the datagram
    };

    static std::vector<BYTE> Record(const std::string& address, const std::string& name,
                                    std::size_t length = DiscoveryRecord::SIZE)
    {
        std::vector<BYTE> d(length, 0);
        const BYTE sig[3] = {0x3A, 0x2C, 0x2E};
        std::memcpy(d.data(), sig, std::min<std::size_t>(3, length));
        in_addr a{};
        ::inet_pton(AF_INET, address.c_str(), &a);
        if (length >= DiscoveryRecord::ADDRESS_OFFSET + 4)
            std::memcpy(&d[DiscoveryRecord::ADDRESS_OFFSET], &a, 4);
        for (std::size_t i = 0; i < name.size() && DiscoveryRecord::NAME_OFFSET + i < length; ++i)
            d[DiscoveryRecord::NAME_OFFSET + i] = BYTE(name[i]);
        return d;
    }

    explicit DiscoveryFakePrinters(std::vector<Answer> answers,
                                   std::chrono::seconds lifetime = std::chrono::seconds(30))
        : m_answers(std::move(answers)), m_deadline(std::chrono::steady_clock::now() + lifetime)
    {
        UsePrivateDiscoveryPort();
        m_listen = bound("127.255.255.255", DiscoveryPort(), SOCK_DGRAM);
        for (const Answer& a : m_answers)
            m_senders.push_back(bound(a.from, DiscoveryPort(), SOCK_DGRAM));
        m_thread = std::thread([this] { Serve(); });
    }
    ~DiscoveryFakePrinters()
    {
        m_stop = true;
        m_thread.join();
        for (int fd : m_senders)
            ::close(fd);
        for (int fd : m_tcp)
            ::close(fd);
        ::close(m_listen);
    }

    bool Ok() const { return m_listen >= 0; }
    int RequestsHeard() const { return m_requests.load(); }

    // Accepts raw-print connections at address:9100 from now on (queued, never read).
    bool ListenTcp(const std::string& address)
    {
        int fd = bound(address, 9100, SOCK_STREAM);
        if (fd < 0 || ::listen(fd, 16) != 0)
            return false;
        m_tcp.push_back(fd);
        return true;
    }

    // Sends one datagram from `from` to the given port on 127.0.0.1 (an answer that
    // arrives when nobody asked).
    static void SendUnasked(const std::string& from, const std::vector<BYTE>& bytes,
                            const std::string& to = "127.0.0.1")
    {
        int fd = bound(from, 0, SOCK_DGRAM);
        sockaddr_in dst = address(to, DiscoveryPort());
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&dst), sizeof dst);
        ::close(fd);
    }

    // A datagram socket bound to ip:port that shares the port with others, or -1.
    static int BoundDatagram(const std::string& ip, unsigned port)
    {
        return bound(ip, port, SOCK_DGRAM);
    }

    // True when a well-formed search request arrived on fd within 50 ms, with its
    // sender in from (anything else that arrived is consumed and ignored).
    static bool ReceivedRequest(int fd, sockaddr_in& from)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 50) != 1)
            return false;
        BYTE buf[64];
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        return n == 6 && std::memcmp(buf, DISCOVERY_REQUEST.data(), 6) == 0;
    }

private:
    static sockaddr_in address(const std::string& ip, unsigned port)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        ::inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
        return a;
    }
    static int bound(const std::string& ip, unsigned port, int type)
    {
        int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
        sockaddr_in a = address(ip, port);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void Serve()
    {
        while (!m_stop && std::chrono::steady_clock::now() < m_deadline)
        {
            sockaddr_in from{};
            if (!ReceivedRequest(m_listen, from))
                continue;
            // Answers the first request only: another program searching on this
            // computer at the same time must not double the script.
            if (m_requests++ > 0)
                continue;
            for (std::size_t i = 0; i < m_answers.size(); ++i)
            {
                if (m_senders[i] < 0)
                    continue;
                ::sendto(m_senders[i], m_answers[i].bytes.data(), m_answers[i].bytes.size(), 0,
                         reinterpret_cast<sockaddr*>(&from), sizeof from);
                // Keeps the order of arrival the order of the script.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }

    std::vector<Answer> m_answers;
    std::chrono::steady_clock::time_point m_deadline;
    int m_listen = -1;
    std::vector<int> m_senders;
    std::vector<int> m_tcp;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_requests{0};
    std::thread m_thread;
};

// Runs a search window to its end and drops the host factory the test installed: the
// dialog's result (-1 when the search could not start) and how long it was open.
inline int RunSearchWindow(CSearchNetworkDlg& dlg, double& seconds)
{
    seconds = 0;
    if (!dlg.StartDetectThread())
    {
        SetSearchDialogHostFactory(nullptr);
        return -1;
    }
    const auto start = std::chrono::steady_clock::now();
    const int result = static_cast<int>(dlg.DoModal());
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    SetSearchDialogHostFactory(nullptr);
    return result;
}
