// Discovery as the library's socket meets it: bound to 0.0.0.0:4201 with SO_REUSEADDR,
// broadcasting to 127.255.255.255. Only loopback traffic, bounded in count and time.
#include "SimulatorOptions.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

const std::string REQUEST("\x2E\x2C\x3A\x01\x00\x00", 6);

struct Datagram
{
    std::string from;
    int port = 0;
    std::string bytes;
};

// Sockets bound to 0.0.0.0:4201 on this machine. Linux gives unicast datagrams to the
// wildcard socket bound last, so a second requester (another checkout's tests running
// at the same time) would take our answers.
int WildcardSockets()
{
    std::ifstream in("/proc/net/udp");
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        if (line.find(" 00000000:1069 ") != std::string::npos)
            ++n;
    return n;
}

// The requester: what the library's discovery socket does, minus the library.
class Requester
{
public:
    explicit Requester(bool reusePort = false)
    {
        SimulatorProcess::WaitFor([] { return WildcardSockets() == 0; }, 20000);
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (reusePort)
            ::setsockopt(m_fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
        ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(4201);
        a.sin_addr.s_addr = htonl(INADDR_ANY);
        m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~Requester() { ::close(m_fd); }
    bool Bound() const { return m_bound; }

    bool SendTo(const std::string& address, const std::string& bytes)
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(4201);
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        return ::sendto(m_fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a),
                        sizeof a) == static_cast<ssize_t>(bytes.size());
    }

    // Everything that arrives within ms, except our own broadcast coming back.
    std::vector<Datagram> Collect(int ms, const std::string& sent)
    {
        std::vector<Datagram> out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (int round = 0; round < 1000; ++round)
        {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            end - std::chrono::steady_clock::now())
                            .count();
            pollfd p{m_fd, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
                break;
            char buf[8192];
            sockaddr_in from{};
            socklen_t len = sizeof from;
            ssize_t n =
                ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
            if (n < 0)
                break;
            Datagram d;
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            d.from = text;
            d.port = ntohs(from.sin_port);
            d.bytes.assign(buf, static_cast<std::size_t>(n));
            if (d.bytes != sent)
                out.push_back(d);
        }
        return out;
    }

private:
    int m_fd = -1;
    bool m_bound = false;
};

std::vector<Datagram> From(const std::vector<Datagram>& all, const std::string& address)
{
    std::vector<Datagram> out;
    for (const auto& d : all)
        if (d.from == address)
            out.push_back(d);
    return out;
}

// Asks and collects, and asks again (at most three times) when the answers looked for are
// missing while a foreign requester shares the port.
std::vector<Datagram> Ask(Requester& r, const std::string& to,
                          const std::function<bool(const std::vector<Datagram>&)>& complete)
{
    std::vector<Datagram> all;
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        SimulatorProcess::WaitFor([] { return WildcardSockets() <= 1; }, 10000);
        if (!r.SendTo(to, REQUEST))
            return {};
        all = r.Collect(300, REQUEST);
        if (complete(all) || WildcardSockets() <= 1)
            return all;
    }
    return all;
}

std::string Fleet(const std::string& a, const std::string& b, const std::string& extraB = "")
{
    return "[Dock Printer]\nkind = network\naddress = " + a +
           "\n[Second]\nkind = network\naddress = " + b + "\n" + extraB +
           "[Serial One]\nkind = serial\n";
}
} // namespace

TEST(PrinterSimDiscovery, EachPrinterAnswersFromItsOwnAddressToAWildcardRequester)
{
    const std::string a = SimulatorProcess::UniqueLoopback(),
                      b = SimulatorProcess::UniqueLoopback();
    // The requester binds first here, as when the program is already running.
    Requester r;
    ASSERT_TRUE(r.Bound());
    SimulatorProcess sim(Fleet(a, b), WithDiscovery());
    auto all = Ask(r, "127.255.255.255",
                   [&](const std::vector<Datagram>& got)
                   { return !From(got, a).empty() && !From(got, b).empty(); });
    auto fromA = From(all, a), fromB = From(all, b);
    ASSERT_EQ(fromA.size(), 1u);
    ASSERT_EQ(fromB.size(), 1u);

    const std::string& rec = fromA[0].bytes;
    EXPECT_EQ(fromA[0].port, 4201);
    ASSERT_EQ(rec.size(), 432u);
    EXPECT_EQ(rec.substr(0, 3), "\x3A\x2C\x2E");
    in_addr addr{};
    ::inet_pton(AF_INET, a.c_str(), &addr);
    EXPECT_EQ(std::memcmp(rec.data() + 72, &addr, 4), 0);
    EXPECT_EQ(std::string(rec.data() + 84), "Dock Printer");
    for (std::size_t i = 3; i < 432; ++i)
    {
        if ((i < 72 || i >= 76) && (i < 84 || i >= 84 + 12))
        {
            ASSERT_EQ(rec[i], '\0') << "byte " << i;
        }
    }
    EXPECT_EQ(std::string(fromB[0].bytes.data() + 84), "Second");

    // Broadcasts of other tests on this machine may be answered too, never less.
    auto answers = sim.Log("", "discovery-answer");
    EXPECT_GE(answers.size(), 2u);
    for (const auto& e : answers)
        EXPECT_EQ(e.json["length"].Int(), 432);
}

TEST(PrinterSimDiscovery, OnlyTheExactRequestIsAnswered)
{
    const std::string a = SimulatorProcess::UniqueLoopback(),
                      b = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim(Fleet(a, b), WithDiscovery());
    Requester r;
    ASSERT_TRUE(r.Bound());
    for (const std::string& bad :
         {REQUEST.substr(0, 5), REQUEST + std::string(1, '\0'),
          std::string("\x3A\x2C\x2E\x01\x00\x00", 6), std::string("\x2E\x2C\x3A\x02\x00\x00", 6)})
    {
        ASSERT_TRUE(r.SendTo("127.255.255.255", bad));
        auto all = r.Collect(200, bad);
        EXPECT_TRUE(From(all, a).empty());
        EXPECT_TRUE(From(all, b).empty());
    }
    std::size_t bad = 0, valid = 0;
    ASSERT_TRUE(SimulatorProcess::WaitFor(
        [&]
        {
            bad = valid = 0;
            for (const auto& e : sim.Log("", "discovery-request"))
                (e.json["valid"].Bool() ? valid : bad) += 1;
            return bad >= 4u;
        },
        1000));
    // Only valid requests (of other tests on this machine, if any) were answered.
    EXPECT_EQ(sim.Log("", "discovery-answer").size(), 2 * valid);
}

TEST(PrinterSimDiscovery, ARequesterThatAlsoSetsReusePortGetsTheAnswers)
{
    const std::string a = SimulatorProcess::UniqueLoopback(),
                      b = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim(Fleet(a, b), WithDiscovery());
    Requester r(true);
    ASSERT_TRUE(r.Bound());
    auto all = Ask(r, "127.255.255.255",
                   [&](const std::vector<Datagram>& got)
                   { return !From(got, a).empty() && !From(got, b).empty(); });
    EXPECT_EQ(From(all, a).size(), 1u);
    EXPECT_EQ(From(all, b).size(), 1u);
}

TEST(PrinterSimDiscovery, AUnicastRequestIsAnsweredByThatPrinterOnly)
{
    const std::string a = SimulatorProcess::UniqueLoopback(),
                      b = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim(Fleet(a, b), WithDiscovery());
    Requester r;
    auto all = Ask(r, b, [&](const std::vector<Datagram>& got) { return !From(got, b).empty(); });
    EXPECT_TRUE(From(all, a).empty());
    EXPECT_EQ(From(all, b).size(), 1u);
}

TEST(PrinterSimDiscovery, BadAnswersOnRequest)
{
    const std::string a = SimulatorProcess::UniqueLoopback(),
                      b = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim(Fleet(a, b), WithDiscovery());
    Requester r;
    auto ask = [&]
    {
        return From(Ask(r, "127.255.255.255",
                        [&](const std::vector<Datagram>& got) { return !From(got, b).empty(); }),
                    b);
    };

    sim.Fault("Second", "discovery dup");
    auto got = ask();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].bytes, got[1].bytes);

    sim.Fault("Second", "discovery short");
    got = ask();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes.size(), 60u);

    sim.Fault("Second", "discovery long 600");
    got = ask();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 600u);
    EXPECT_EQ(std::string(got[0].bytes.data() + 84), "Second");
    EXPECT_EQ(got[0].bytes.substr(432), std::string(168, 'X'));

    sim.Fault("Second", "discovery nonul");
    got = ask();
    ASSERT_EQ(got.size(), 1u);
    ASSERT_EQ(got[0].bytes.size(), 432u);
    EXPECT_EQ(got[0].bytes.find('\0', 84), std::string::npos);
    EXPECT_EQ(got[0].bytes.substr(84, 6), "Second");

    sim.Fault("Second", "discovery badsig");
    got = ask();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes.substr(0, 3), "\x2E\x2C\x3A");

    sim.Fault("Second", "discovery none");
    EXPECT_TRUE(ask().empty());
    sim.Fault("Second", "discovery normal");
    sim.Power("Second", false);
    EXPECT_TRUE(ask().empty());
    sim.Power("Second", true);
    got = ask();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].bytes.size(), 432u);
}
