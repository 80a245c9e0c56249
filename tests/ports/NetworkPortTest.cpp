// The network port against printers played by listening sockets on the loopback
// interface (never anything else).
#include "CNetworkPort.h"
#include "LoopbackListener.h"
#include "PollUntil.h"
#include "PortTestSupport.h"
#include "Sockets.h"
#include "SysCalls.h"
#include "TcpStates.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <vector>

using namespace porttest;

namespace
{
using Listener = LoopbackListener;

// Everything the peer receives until the other side closes (or ms pass).
std::string ReadToEnd(int fd, int ms = 3000, bool* sawEnd = nullptr)
{
    std::string out;
    char buf[4096];
    auto start = std::chrono::steady_clock::now();
    for (;;)
    {
        int left = ms - static_cast<int>(MsSince(start));
        struct pollfd p = {fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            break;
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
        {
            if (sawEnd)
                *sawEnd = n == 0;
            break;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

// What the peer receives until it has count bytes, the other side closes or ms pass.
std::string ReadCount(int fd, std::size_t count, int ms)
{
    std::string out;
    auto start = std::chrono::steady_clock::now();
    char buf[256];
    while (out.size() < count)
    {
        int left = ms - static_cast<int>(MsSince(start));
        struct pollfd p = {fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, left) <= 0)
            break;
        ssize_t n = ::recv(fd, buf, std::min(sizeof buf, count - out.size()), 0);
        if (n <= 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    return out;
}

void ResetAndClose(int fd)
{
    struct linger l = {1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd);
}

CNetworkPort PortTo(DWORD tcpPort)
{
    CNetworkPort port;
    port.SetIPAddress(127, 0, 0, 1);
    port.m_tcpPort = tcpPort;
    return port;
}

class NetworkPort : public ::testing::Test
{
protected:
    // A reset peer must give an error number; with SIGPIPE at its default, a signal
    // would end this test binary.
    void SetUp() override { m_oldPipe = std::signal(SIGPIPE, SIG_DFL); }
    void TearDown() override { std::signal(SIGPIPE, m_oldPipe); }
    void (*m_oldPipe)(int) = nullptr;
};
} // namespace

TEST_F(NetworkPort, SendsTheBytesAndEndsTheConnectionCleanly)
{
    Listener printer;
    CNetworkPort port = PortTo(printer.Port());
    port.Open();
    ASSERT_TRUE(port.IsOpen());
    int peer = printer.Accept();
    ASSERT_GE(peer, 0);
    const std::string label = "^XA^FDHello^FS^XZ";
    DWORD written = 0;
    port.Write(label.data(), static_cast<DWORD>(label.size()), written);
    EXPECT_EQ(written, label.size());
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    bool sawEnd = false;
    EXPECT_EQ(ReadToEnd(peer, 3000, &sawEnd), label);
    EXPECT_TRUE(sawEnd); // an orderly end, not a reset
    ::close(peer);
}

// A command is one write that the printer is to act on (or answer) while the port is
// still open: later writes of a connection may wait in the stack for more (marked so),
// it may not, or the stack would hold it back until its probe timer fires.
TEST_F(NetworkPort, TheFirstWriteOfAConnectionIsNotHeldBackForMore)
{
    static std::mutex lock;
    static std::vector<bool> heldBack; // one entry per send: marked as followed by more
    heldBack.clear();
    ScopedSysCall s(
        &SysCalls::send,
        +[](int fd, const void* b, std::size_t n, int flags) -> ssize_t
        {
            {
                std::lock_guard g(lock);
                heldBack.push_back((flags & MSG_MORE) != 0);
            }
            return RealSysCalls().send(fd, b, n, flags);
        });
    Listener printer;
    CNetworkPort port = PortTo(printer.Port());
    for (int connection = 0; connection < 2; ++connection)
    {
        port.Open();
        int peer = printer.Accept();
        ASSERT_GE(peer, 0);
        const std::string command = "\nURS\n";
        DWORD written = 0;
        port.Write(command.data(), static_cast<DWORD>(command.size()), written);
        EXPECT_EQ(written, command.size());
        EXPECT_EQ(ReadCount(peer, command.size(), 5000), command) << "connection " << connection;
        port.Write("tail", 4, written);
        port.Close();
        EXPECT_EQ(ReadToEnd(peer), "tail") << "the close sends what was held back";
        ::close(peer);
    }
    std::lock_guard g(lock);
    EXPECT_EQ(heldBack, (std::vector<bool>{false, true, false, true}));
}

TEST_F(NetworkPort, ReadNeverWaits)
{
    Listener printer;
    CNetworkPort port = PortTo(printer.Port());
    port.Open();
    int peer = printer.Accept();
    char buf[64];
    DWORD got = 5;
    auto start = std::chrono::steady_clock::now();
    bool os = false;
    EXPECT_EQ(CodeOf([&] { port.Read(buf, sizeof buf, got); }, &os), 10035u);
    EXPECT_TRUE(os);
    EXPECT_EQ(got, 0u);
    EXPECT_LT(MsSince(start), 100);

    ::send(peer, "ready", 5, 0);
    EXPECT_TRUE(PollUntil([&] { return UnacknowledgedBytes(peer) == 0; }));
    port.Read(buf, sizeof buf, got);
    EXPECT_EQ(std::string(buf, got), "ready");

    ::shutdown(peer, SHUT_WR);
    EXPECT_TRUE(PollUntil([&] { return EndAcknowledged(peer); }));
    got = 5;
    EXPECT_EQ(CodeOf([&] { port.Read(buf, sizeof buf, got); }), 0u);
    EXPECT_EQ(got, 0u); // the printer closed its side
    port.Close();
    ::close(peer);
}

TEST_F(NetworkPort, CloseDiscardsWhatThePrinterSentWithoutAnError)
{
    Listener printer;
    CNetworkPort port = PortTo(printer.Port());
    port.Open();
    int peer = printer.Accept();
    std::string chatter(3000, 'z');
    ::send(peer, chatter.data(), chatter.size(), 0);
    DWORD written = 0;
    port.Write("~JR", 3, written);
    // The chatter is waiting, unread, at the port when it closes.
    EXPECT_TRUE(PollUntil([&] { return UnacknowledgedBytes(peer) == 0; }));
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    bool sawEnd = false;
    EXPECT_EQ(ReadToEnd(peer, 3000, &sawEnd), "~JR");
    EXPECT_TRUE(sawEnd);
    ::close(peer);
}

TEST_F(NetworkPort, NothingListeningGivesCode7AndAClosedPort)
{
    DWORD unused;
    {
        Listener l;
        unused = l.Port();
    }
    CNetworkPort port = PortTo(unused);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CodeOf([&] { port.Open(); }), 7u);
    EXPECT_LT(MsSince(start), 1000);
    EXPECT_FALSE(port.IsOpen());
    port.Close();
}

TEST_F(NetworkPort, GarbageAddressesFailAtOnceWithoutAskingTheNameService)
{
    for (const char* text : {"", "300.1.2.3", "1.2.3", "...", "not an address!", "a..b",
                             "192.168.0.1:9100", "-printer"})
    {
        CNetworkPort port;
        port.SetPortName(text);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(CodeOf([&] { port.Open(); }), 7u) << text;
        EXPECT_LT(MsSince(start), 200) << text;
        EXPECT_FALSE(port.IsOpen());
        port.Close();
    }
}

TEST_F(NetworkPort, ADroppedConnectionIsMadeAgainAndTheBytesSentOnce)
{
    Listener printer;
    CNetworkPort port = PortTo(printer.Port());
    port.Open();
    int first = printer.Accept();
    ASSERT_GE(first, 0);
    ::close(first); // the printer drops the connection before any data
    EXPECT_TRUE(PollUntil([&] { return AnyTcpStateTo(printer.Port(), kTcpCloseWait); }));

    const std::string data = "\nURS\n";
    DWORD written = 0;
    std::thread writer([&] { port.Write(data.data(), 5, written); });
    int second = printer.Accept();
    writer.join();
    ASSERT_GE(second, 0);
    EXPECT_EQ(written, 5u);
    port.Close();
    EXPECT_EQ(ReadToEnd(second), data);
    ::close(second);
}

TEST_F(NetworkPort, AResetMidWriteGivesAnErrorNumberAndNoSignal)
{
    Listener printer;
    CNetworkPort port = PortTo(printer.Port());
    port.Open();
    int peer = printer.Accept();
    ASSERT_GE(peer, 0);
    ResetAndClose(peer);
    printer.Stop(); // and it does not take a new connection either
    EXPECT_TRUE(PollUntil([&] { return !AnyTcpStateTo(printer.Port(), kTcpEstablished); }));

    std::string big(1 << 20, 'x');
    DWORD written = 99;
    bool os = false;
    DWORD code =
        CodeOf([&] { port.Write(big.data(), static_cast<DWORD>(big.size()), written); }, &os);
    // The reconnect was refused; that error is what the caller gets.
    EXPECT_EQ(code, 10061u);
    EXPECT_TRUE(os);
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(port.IsOpen()); // the client closes
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}

TEST_F(NetworkPort, InterruptedConnectAndSendCarryOn)
{
    static std::atomic<int> interruptions{0};
    interruptions = 2;
    ScopedSysCall c(
        &SysCalls::connect,
        +[](int fd, const sockaddr* a, socklen_t l) -> int
        {
            int r = RealSysCalls().connect(fd, a, l);
            if (r == 0 || errno == EINPROGRESS)
            {
                errno = EINTR; // the connect goes on in the background
                return -1;
            }
            return r;
        });
    ScopedSysCall s(
        &SysCalls::send,
        +[](int fd, const void* b, std::size_t n, int flags) -> ssize_t
        {
            if (interruptions > 0)
            {
                --interruptions;
                errno = EINTR;
                return -1;
            }
            EXPECT_TRUE(flags & MSG_NOSIGNAL);
            return RealSysCalls().send(fd, b, n > 2 ? 2 : n, flags);
        });
    Listener printer;
    CNetworkPort port = PortTo(printer.Port());
    port.Open();
    int peer = printer.Accept();
    DWORD written = 0;
    port.Write("\nURLm\n", 6, written);
    EXPECT_EQ(written, 6u);
    port.Close();
    EXPECT_EQ(ReadToEnd(peer), "\nURLm\n");
    ::close(peer);
}

// A printer that stops reading: the stack takes what its buffers hold and the send
// gives up after its stall limit. The count it reports is what is already on its way,
// so a caller that offers only the rest again delivers every byte exactly once.
TEST_F(NetworkPort, AStalledSendReportsWhatTheStackTookAndTheRestFollowsOnce)
{
    Listener printer;
    SOCKET s = TcpConnect("127.0.0.1", printer.Port());
    ASSERT_NE(s, INVALID_SOCKET);
    int peer = printer.Accept();
    ASSERT_GE(peer, 0);
    std::string data(16 << 20, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7 + i / 4096);

    int taken = TcpSendAll(s, data.data(), static_cast<DWORD>(data.size()), 300);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    ASSERT_GT(taken, 0);
    ASSERT_LT(static_cast<std::size_t>(taken), data.size());

    std::string received;
    std::thread reader([&] { received = ReadToEnd(peer, 10000); });
    int rest = TcpSendAll(s, data.data() + taken, static_cast<DWORD>(data.size() - taken), 5000);
    EXPECT_EQ(static_cast<std::size_t>(rest), data.size() - taken);
    TcpShutdown(s, SD_SEND);
    reader.join();
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data) << "bytes sent twice or lost";
    TcpClose(s);
    ::close(peer);
}
