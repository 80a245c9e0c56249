// Each misbehaviour the simulator offers must do what the tests that use it expect:
// those tests prove the library copes with a fault, and cannot if the fault is absent.
#include "SimClient.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace simtest;
using Clock = std::chrono::steady_clock;

namespace
{

long long MsSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

bool Exists(const std::string& path)
{
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Sends until everything is gone or the connection fails; returns the errno of the
// failure, or 0.
int SendAll(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size())
    {
        ssize_t n = ::send(fd, bytes.data() + done,
                           std::min<std::size_t>(1024, bytes.size() - done), MSG_NOSIGNAL);
        if (n < 0)
            return errno;
        done += static_cast<std::size_t>(n);
        std::this_thread::sleep_for(std::chrono::milliseconds(2)); // a paced sender
    }
    return 0;
}

} // namespace

TEST(PrinterSimFault, SilentPrinterTakesEverythingAndNeverAnswers)
{
    SimulatorProcess sim("[S]\nkind = serial\nserial = OLD\nfault = silent\n");
    const std::string path = sim.Path("S");
    EXPECT_EQ(Exchange(path, "\nURS\n", 100, 600), "");
    EXPECT_EQ(Exchange(path, "\nheS\"NEW\"\r\n", 50, 200), "");
    auto s = sim.State("S");
    EXPECT_EQ(s.serial, "NEW");
    EXPECT_EQ(s.Counter("serial_queries"), 1u);
    EXPECT_EQ(s.Counter("replies_sent"), 0u);
    auto dropped = sim.Log("S", "reply-dropped");
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].json["reason"].Str(), "silent");

    // Switched at run time, both ways.
    sim.Fault("S", "clear");
    EXPECT_EQ(Exchange(path, "\nURS\n"), "NEW\r\n");
    sim.Fault("S", "silent");
    EXPECT_EQ(Exchange(path, "\nURS\n", 100, 600), "");
}

TEST(PrinterSimFault, SlowAnswerComesAfterTheDelay)
{
    SimulatorProcess sim("[S]\nkind = usb\nserial = SLOW1\nfault = slow 400\n");
    int fd = OpenDevice(sim.Path("S"));
    ASSERT_GE(fd, 0);
    auto start = Clock::now();
    ASSERT_TRUE(WriteAll(fd, "\nURS\n"));
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 3000), 1);
    EXPECT_GE(MsSince(start), 390);
    EXPECT_EQ(ReadFor(fd, 100, 1000), "SLOW1\r\n");
    ::close(fd);
}

TEST(PrinterSimFault, SplitAnswerArrivesInSeveralWrites)
{
    SimulatorProcess sim("[S]\nkind = serial\nhead = 1234\ntotal = 5678\nfault = split 3 200\n");
    int fd = OpenDevice(sim.Path("S"));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "\nURLi\n"));
    // A reader that stops at a 100 ms gap (as the serial port does) sees only the first part.
    std::string first = ReadFor(fd, 100, 2000);
    std::string rest = ReadFor(fd, 400, 2000);
    ::close(fd);
    const std::string full = "Head usage = 1,234\r\nTotal usage = 5,678\r\n";
    EXPECT_LT(first.size(), full.size());
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first + rest, full);
    auto parts = sim.Log("S", "reply");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].bytes + parts[1].bytes + parts[2].bytes, full);
    EXPECT_GE(parts[2].ms - parts[0].ms, 380);
}

TEST(PrinterSimFault, AnswerDueWhenNobodyListensIsLost)
{
    SimulatorProcess sim("[S]\nkind = serial\nfault = slow 300\n");
    const std::string path = sim.Path("S");
    int fd = OpenDevice(path);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "\nURS\n"));
    ::close(fd);
    ASSERT_TRUE(
        sim.WaitForLog([](const SimLogEntry& e) { return e.event == "reply-dropped"; }, 2000));
    EXPECT_EQ(sim.Log("S", "reply-dropped")[0].json["reason"].Str(), "closed");
    // The next opener does not find a stale answer waiting.
    fd = OpenDevice(path);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(ReadFor(fd, 100, 300), "");
    ::close(fd);
}

TEST(PrinterSimFault, SwitchedOffDevicesAreAbsentAndNetworkRefuses)
{
    const std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[S]\nkind = serial\ncom = 5\n"
                         "[U]\nkind = usb\n"
                         "[Off]\nkind = parallel\npower = off\n"
                         "[N]\nkind = network\naddress = " +
                         address + "\nport = 9101\n");
    const std::string com5 = sim.Path("S");
    const SimDevice& usb = sim.Device("U");
    EXPECT_FALSE(sim.Device("Off").poweredAtStart);
    EXPECT_FALSE(Exists(sim.Path("Off")));
    EXPECT_EQ(sim.State("Off").power, "off");

    sim.Power("S", false);
    sim.Power("U", false);
    sim.Power("N", false);
    errno = 0;
    EXPECT_LT(OpenDevice(com5), 0);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(Exists(usb.path));
    EXPECT_FALSE(Exists(usb.sidecar));
    EXPECT_LT(ConnectTcp(address, 9101), 0);
    EXPECT_EQ(errno, ECONNREFUSED);

    sim.Power("S", true);
    sim.Power("U", true);
    sim.Power("N", true);
    sim.Power("Off", true);
    EXPECT_EQ(Exchange(com5, "\nURS\n"), sim.State("S").serial + "\r\n");
    EXPECT_TRUE(Exists(usb.sidecar));
    EXPECT_TRUE(Exists(sim.Path("Off")));
    int fd = ConnectTcp(address, 9101);
    EXPECT_GE(fd, 0);
    if (fd >= 0)
        ::close(fd);
}

TEST(PrinterSimFault, ConnectionClosedAfterNBytesOnceThenServedAgain)
{
    const std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[N]\nkind = network\naddress = " + address +
                         "\nfault = drop 1000 close 1\n");
    const std::string job(8000, 'L');
    int fd = ConnectTcp(address, 9100);
    ASSERT_GE(fd, 0);
    // The peer has closed after 1000 bytes: sending on fails sooner or later, and reading
    // sees the end of the connection.
    int err = SendAll(fd, job);
    char c;
    ssize_t r = ::recv(fd, &c, 1, 0);
    EXPECT_TRUE(err == EPIPE || err == ECONNRESET || r == 0) << err << " " << r;
    ::close(fd);
    ASSERT_TRUE(
        SimulatorProcess::WaitFor([&] { return sim.Log("N", "close").size() == 1u; }, 2000));
    EXPECT_EQ(sim.State("N").labelBytes, 1000u);
    auto drops = sim.Log("N", "drop");
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0].json["after"].Int(), 1000);

    // Only the first connection was to be dropped.
    fd = ConnectTcp(address, 9100);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(SendAll(fd, job), 0);
    ::shutdown(fd, SHUT_WR);
    EXPECT_EQ(::recv(fd, &c, 1, 0), 0);
    ::close(fd);
    EXPECT_TRUE(
        SimulatorProcess::WaitFor([&] { return sim.State("N").labelBytes == 9000u; }, 2000));
}

TEST(PrinterSimFault, ConnectionResetAfterNBytes)
{
    const std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[N]\nkind = network\naddress = " + address +
                         "\nfault = drop 500 reset\n");
    int fd = ConnectTcp(address, 9100);
    ASSERT_GE(fd, 0);
    const std::string job(600, 'x');
    ASSERT_EQ(::send(fd, job.data(), job.size(), MSG_NOSIGNAL), 600);
    pollfd p{fd, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);
    char c;
    errno = 0;
    EXPECT_EQ(::recv(fd, &c, 1, 0), -1);
    EXPECT_EQ(errno, ECONNRESET);
    ::close(fd);
    EXPECT_EQ(sim.State("N").labelBytes, 500u);
}

TEST(PrinterSimFault, StalledLineBlocksTheWriterUntilItReadsAgain)
{
    SimulatorProcess sim("[S]\nkind = serial\nfault = stall 1000 1500\n");
    int fd = OpenDevice(sim.Path("S"));
    ASSERT_GE(fd, 0);
    // Fill every buffer between writer and printer.
    const std::string chunk(1024, 'D');
    std::size_t written = 0;
    auto start = Clock::now();
    while (MsSince(start) < 1000)
    {
        ssize_t n = ::write(fd, chunk.data(), chunk.size());
        if (n > 0)
            written += static_cast<std::size_t>(n);
        else if (errno == EAGAIN)
        {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 300) == 0)
                break; // blocked: what the writer's time-out sees
        }
        else
            FAIL() << std::strerror(errno);
    }
    EXPECT_LT(MsSince(start), 1000) << "the line never pushed back";
    EXPECT_EQ(sim.State("S").labelBytes, 1000u);
    // After the stall the printer reads on and takes everything.
    ASSERT_TRUE(
        SimulatorProcess::WaitFor([&] { return sim.State("S").labelBytes == written; }, 4000))
        << sim.State("S").labelBytes << " of " << written;
    auto stall = sim.Log("S", "stall");
    auto end = sim.Log("S", "stall-end");
    ASSERT_EQ(stall.size(), 1u);
    ASSERT_EQ(end.size(), 1u);
    EXPECT_GE(end[0].ms - stall[0].ms, 1450);
    ::close(fd);
}

TEST(PrinterSimFault, ThrottledLineTakesBytesAtTheSetRate)
{
    SimulatorProcess sim("[S]\nkind = serial\n");
    sim.Fault("S", "throttle 4000");
    int fd = OpenDevice(sim.Path("S"));
    ASSERT_GE(fd, 0);
    auto start = Clock::now();
    ASSERT_TRUE(WriteAll(fd, std::string(2000, 'T')));
    // What the throttled line has taken after a fifth of a second.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_LT(sim.State("S").labelBytes, 1600u);
    ASSERT_TRUE(
        SimulatorProcess::WaitFor([&] { return sim.State("S").labelBytes == 2000u; }, 3000));
    // 2000 bytes at 4000 per second, less a tenth of a second of burst.
    EXPECT_GE(MsSince(start), 350);
    ::close(fd);
}

TEST(PrinterSimFault, StallFromTheFirstByte)
{
    SimulatorProcess sim("[S]\nkind = serial\nfault = stall 0 700\n");
    int fd = OpenDevice(sim.Path("S"));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "0123456789"));
    // Still inside the 700 ms stall.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(sim.State("S").labelBytes, 0u);
    EXPECT_TRUE(SimulatorProcess::WaitFor([&] { return sim.State("S").labelBytes == 10u; }, 2000));
    ::close(fd);
}

TEST(PrinterSimFault, XoffStopsASenderWithOutputFlowControlUntilXon)
{
    SimulatorProcess sim("[S]\nkind = serial\nfault = xoff 100 800\n");
    int fd = OpenDevice(sim.Path("S"));
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(::tcgetattr(fd, &t), 0);
    t.c_iflag |= IXON;
    t.c_iflag &= ~(IXOFF | IXANY);
    t.c_cc[VSTART] = 0x11;
    t.c_cc[VSTOP] = 0x13;
    ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);

    ASSERT_TRUE(WriteAll(fd, std::string(100, 'a')));
    ASSERT_TRUE(sim.WaitForLog([](const SimLogEntry& e) { return e.event == "xoff"; }, 2000));
    // The terminal layer takes the XOFF in on a kernel work queue and shows no sign of
    // it: a pause instead.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Stopped: the line takes nothing more.
    EXPECT_EQ(::write(fd, "b", 1), -1);
    EXPECT_EQ(errno, EAGAIN);
    auto start = Clock::now();
    pollfd p{fd, POLLOUT, 0};
    ASSERT_EQ(::poll(&p, 1, 3000), 1);
    EXPECT_GE(MsSince(start), 500);
    ASSERT_TRUE(WriteAll(fd, std::string(50, 'b')));
    EXPECT_TRUE(SimulatorProcess::WaitFor([&] { return sim.State("S").labelBytes == 150u; }, 2000));
    // The flow-control bytes were taken by the line discipline, not handed to the reader.
    EXPECT_EQ(ReadFor(fd, 50, 100), "");
    ::close(fd);
}

TEST(PrinterSimFault, ACommandCutByAStallIsStillACommand)
{
    SimulatorProcess sim("[S]\nkind = serial\nserial = WHOLE\nfault = stall 3 800\n");
    int fd = OpenDevice(sim.Path("S"));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "\nURS\n")); // the printer reads "\nUR", then stops
    EXPECT_EQ(ReadFor(fd, 150, 3000), "WHOLE\r\n");
    ::close(fd);
    EXPECT_EQ(sim.CommandBytes("S"), std::vector<std::string>{"\nURS\n"});
    EXPECT_EQ(sim.State("S").labelBytes, 0u);
}
