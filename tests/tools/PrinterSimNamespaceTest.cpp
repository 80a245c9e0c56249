// Namespace mode: a real broadcast to 255.255.255.255, sent only between two network
// namespaces this test creates (an "app" side and a "printer" side joined by a veth
// pair) and deletes again. Needs root and iproute2.
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

const std::string REQUEST("\x2E\x2C\x3A\x01\x00\x00", 6);

bool Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class Namespaces : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root";
        const std::string id = std::to_string(::getpid());
        m_app = "odoapp" + id;
        m_printer = "odoprn" + id;
        const std::string va = "oa" + id, vp = "op" + id;
        m_created = Shell("ip netns add " + m_app) && Shell("ip netns add " + m_printer);
        bool ok = m_created &&
                  Shell("ip link add " + va + " netns " + m_app + " type veth peer name " + vp +
                        " netns " + m_printer) &&
                  Shell("ip -n " + m_app + " addr add 10.77.0.1/24 brd + dev " + va) &&
                  Shell("ip -n " + m_printer + " addr add 10.77.0.11/24 brd + dev " + vp) &&
                  Shell("ip -n " + m_app + " link set lo up") &&
                  Shell("ip -n " + m_printer + " link set lo up") &&
                  Shell("ip -n " + m_app + " link set " + va + " up") &&
                  Shell("ip -n " + m_printer + " link set " + vp + " up") &&
                  // Without this route the limited broadcast has no way out (ENETUNREACH).
                  Shell("ip -n " + m_app + " route add 255.255.255.255/32 dev " + va);
        if (!ok)
            GTEST_SKIP() << "cannot set up network namespaces here";
    }
    void TearDown() override
    {
        if (m_created)
        {
            Shell("ip netns del " + m_app);
            Shell("ip netns del " + m_printer);
        }
    }

    // A UDP socket created inside the app namespace (a socket keeps the namespace it
    // was made in), bound to 0.0.0.0:4201 like the library's.
    int AppSocket()
    {
        int self = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        int target = ::open(("/run/netns/" + m_app).c_str(), O_RDONLY | O_CLOEXEC);
        int fd = -1;
        if (self >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0)
        {
            fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
            ::setns(self, CLONE_NEWNET);
        }
        if (self >= 0)
            ::close(self);
        if (target >= 0)
            ::close(target);
        if (fd < 0)
            return -1;
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(4201);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    std::string m_app, m_printer;
    bool m_created = false;
};

} // namespace

TEST_F(Namespaces, RealBroadcastIsAnsweredAcrossNamespaces)
{
    SimulatorProcess::Options o;
    o.discovery = true;
    o.launcher = {"ip", "netns", "exec", m_printer};
    o.extraArgs = {"--discovery-bind", "0.0.0.0", "--allow-non-loopback"};
    SimulatorProcess sim("[Far Printer]\nkind = network\naddress = 10.77.0.11\n", o);

    int fd = AppSocket();
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(4201);
    to.sin_addr.s_addr = htonl(INADDR_BROADCAST);
    ASSERT_EQ(::sendto(fd, REQUEST.data(), REQUEST.size(), 0, reinterpret_cast<sockaddr*>(&to),
                       sizeof to),
              6);

    std::string answer;
    std::string from;
    for (int i = 0; i < 20 && answer.empty(); ++i)
    {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buf[2048];
        sockaddr_in src{};
        socklen_t len = sizeof src;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&src), &len);
        std::string got(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
        if (got == REQUEST)
            continue; // our own broadcast
        answer = got;
        char text[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &src.sin_addr, text, sizeof text);
        from = text;
    }
    ::close(fd);
    ASSERT_EQ(answer.size(), 432u);
    EXPECT_EQ(from, "10.77.0.11");
    EXPECT_EQ(answer.substr(72, 4), std::string("\x0A\x4D\x00\x0B", 4));
    EXPECT_EQ(std::string(answer.data() + 84), "Far Printer");
    auto requests = sim.Log("", "discovery-request");
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].json["from"].Str(), "10.77.0.1");
}
