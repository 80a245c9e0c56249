// The USB port against a printer simulated on a pseudo-terminal, which cannot answer
// the device-identification request and is described by its ".ieee1284" file instead.
#include "CParallelPort.h"
#include "CUSBPort.h"
#include "DeviceFile.h"
#include "PortTestSupport.h"
#include "SysCalls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sys/ioctl.h>
#include <vector>

using namespace porttest;

namespace
{
std::atomic<unsigned long> g_lastRequest{0};
int idIoctl(int fd, unsigned long request, void* arg)
{
    // The device answers like usblp: big-endian length counting itself, then the text.
    if (_IOC_TYPE(request) == 'P' && _IOC_NR(request) == 1)
    {
        g_lastRequest = request;
        static const char id[] = "MFG:Varko;MDL:VX-4;CMD:RLX,TPX;";
        auto* out = static_cast<unsigned char*>(arg);
        std::size_t n = sizeof id - 1 + 2;
        out[0] = 0;
        out[1] = static_cast<unsigned char>(n);
        std::memcpy(out + 2, id, std::min<std::size_t>(sizeof id - 1, _IOC_SIZE(request) - 2));
        return 0;
    }
    return RealSysCalls().ioctl(fd, request, arg);
}
int failingIoctl(int fd, unsigned long request, void* arg)
{
    if (_IOC_TYPE(request) == 'P')
    {
        errno = EIO;
        return -1;
    }
    return RealSysCalls().ioctl(fd, request, arg);
}

class UsbOnPty : public ::testing::Test
{
protected:
    void SetUp() override
    {
        path = Publish("usb/printer1", pty.SlavePath());
        port.SetPortName(path.c_str());
    }
    void TearDown() override
    {
        port.Close();
        Unpublish("usb/printer1");
        Unpublish("usb/printer1.ieee1284");
    }
    void WriteSidecar(const std::string& bytes)
    {
        std::ofstream(DeviceDir() / "usb" / "printer1.ieee1284", std::ios::binary) << bytes;
    }
    Pty pty;
    std::string path;
    CUSBPort port;
};
} // namespace

TEST_F(UsbOnPty, OpensSharedAndMovesBytes)
{
    port.Open();
    // The driver, not the port, decides whether a second program may have the device.
    CUSBPort second;
    second.SetPortName(path.c_str());
    EXPECT_EQ(CodeOf([&] { second.Open(); }), 0u);
    second.Close();

    DWORD written = 0;
    port.Write("\nURHi\n", 6, written);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(pty.Received(), "\nURHi\n");

    pty.Send("history");
    TimedCall read = TimedRead(port, 64);
    EXPECT_EQ(read.bytes, "history");
    EXPECT_LT(read.ms, 500);
}

TEST_F(UsbOnPty, ModelComesFromTheIdentificationFileWhenTheDeviceCannotBeAsked)
{
    WriteSidecar(std::string("\x00\x1b"
                             "MFG:Acme;MDL:M7;CMD:X;\x00\x00\x00",
                             28));
    EXPECT_EQ(port.DeviceModel(), "Acme M7;CMD:X;");
    EXPECT_FALSE(port.IsOpen()); // opened for the request and closed again

    port.Open();
    EXPECT_EQ(port.DeviceModel(), "Acme M7;CMD:X;");
    EXPECT_TRUE(port.IsOpen()); // an open port stays open

    port.Close();
    Unpublish("usb/printer1.ieee1284");
    // Neither the request nor a file: the device refused, the model is empty.
    EXPECT_EQ(port.DeviceModel(), "");
}

TEST_F(UsbOnPty, ModelComesFromTheDeviceRequestWithAnEightyByteAnswer)
{
    ScopedSysCall io(&SysCalls::ioctl, idIoctl);
    EXPECT_EQ(port.DeviceModel(), "Varko VX-4;CMD:RLX,TPX;");
    EXPECT_EQ(_IOC_SIZE(g_lastRequest.load()), 80u);
    EXPECT_EQ(_IOC_DIR(g_lastRequest.load()), unsigned(_IOC_READ));

    ScopedSysCall fail(&SysCalls::ioctl, failingIoctl);
    WriteSidecar(std::string("\x00\x0c"
                             "MFG:X;MDL:Y",
                             13));
    // A device that has the request but fails it is not second-guessed by the file.
    EXPECT_EQ(port.DeviceModel(), "");
}

TEST_F(UsbOnPty, AnUnpluggedPrinterFailsTheTransferAndTheClientCanClose)
{
    port.Open();
    pty.CloseKeeper();
    pty.CloseMaster();
    ExpectGoneDeviceFailsAtOnce(port);
    EXPECT_EQ(CodeOf([&] { port.Open(); }), 7u);
}

TEST(DeviceFileWrite, AWriteThatMakesNoProgressEndsAtTheStallLimit)
{
    // The parallel and USB ports rely on this: the driver refuses and poll claims it is
    // ready (lp has no poll), and the write must still end.
    Pty pty;
    HANDLE h = CreateFileA(pty.SlavePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetWriteStallLimit(h, 300));
    static std::atomic<int> writes{0}, polls{0};
    writes = polls = 0;
    ScopedSysCall w(
        &SysCalls::write,
        +[](int fd, const void* b, std::size_t) -> ssize_t
        {
            if (++writes == 1)
                return RealSysCalls().write(fd, b, 2); // some progress first
            errno = EAGAIN;
            return -1;
        });
    ScopedSysCall p(
        &SysCalls::poll,
        +[](struct pollfd* f, nfds_t n, int ms) -> int
        {
            ++polls;
            if (n == 0)
                return RealSysCalls().poll(f, n, ms);
            f[0].revents = POLLOUT;
            return 1;
        });
    DWORD written = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(WriteFile(h, "abcdef", 6, &written, nullptr));
    long long ms = MsSince(start);
    EXPECT_EQ(written, 2u);
    EXPECT_GE(ms, 290);
    EXPECT_LT(ms, 1500);
    // It waited between attempts instead of spinning.
    EXPECT_LT(writes.load(), 100);
    CloseHandle(h);
}

namespace
{
// The usblp driver, as seen through the system-call seam: a write returns as soon as
// the last piece is queued on the bus, and poll reports the device writable once that
// transfer has completed. /dev/null stands in for the device (not a terminal, takes
// every byte); the seam records the order of the calls and plays the completion.
struct TransferLog
{
    std::vector<std::string> calls;
    std::vector<int> waitLimits;
    bool completes = true;
};
TransferLog g_transfer;

ssize_t loggingWrite(int fd, const void* b, std::size_t n)
{
    g_transfer.calls.push_back("write");
    return RealSysCalls().write(fd, b, n);
}
int completionPoll(struct pollfd* f, nfds_t n, int ms)
{
    if (n == 1 && (f[0].events & POLLOUT))
    {
        g_transfer.calls.push_back("wait");
        g_transfer.waitLimits.push_back(ms);
        if (!g_transfer.completes)
            return 0; // the limit passed without the transfer completing
        f[0].revents = POLLOUT;
        return 1;
    }
    return RealSysCalls().poll(f, n, ms);
}
int loggingClose(int fd)
{
    g_transfer.calls.push_back("close");
    return RealSysCalls().close(fd);
}

template <typename Port>
void ExpectWriteWaitsForTheTransfer(Port& port, DWORD limit, unsigned printerMajor)
{
    NullAsPrinterNode node(printerMajor);
    ScopedSysCall w(&SysCalls::write, loggingWrite);
    ScopedSysCall p(&SysCalls::poll, completionPoll);
    ScopedSysCall c(&SysCalls::close, loggingClose);

    g_transfer = {};
    port.Open();
    DWORD written = 0;
    EXPECT_EQ(CodeOf([&] { port.Write("\nURS\n", 5, written); }), 0u);
    EXPECT_EQ(written, 5u);
    port.Close();
    // The wait comes after the last write and before the close, bounded by the port's
    // write limit.
    EXPECT_EQ(g_transfer.calls, (std::vector<std::string>{"write", "wait", "close"}));
    ASSERT_EQ(g_transfer.waitLimits.size(), 1u);
    EXPECT_LE(g_transfer.waitLimits[0], static_cast<int>(limit));
    EXPECT_GT(g_transfer.waitLimits[0], static_cast<int>(limit) - 1000);

    // A transfer that never completes within the limit: the write says so.
    g_transfer = {};
    g_transfer.completes = false;
    port.Open();
    EXPECT_EQ(CodeOf([&] { port.Write("\nURS\n", 5, written); }), 12u);
    EXPECT_TRUE(port.IsOpen());
    port.Close();
    EXPECT_EQ(g_transfer.calls, (std::vector<std::string>{"write", "wait", "close"}));
}
} // namespace

TEST(UsbTransfer, AWriteReturnsOnlyWhenTheDriverHasCompletedTheLastPiece)
{
    CUSBPort port;
    port.SetPortName("/dev/null");
    ExpectWriteWaitsForTheTransfer(port, CUSBPort::WRITE_STALL_LIMIT_MS, 180);
}

TEST(UsbTransfer, TheParallelPortWaitsTheSameWayBeforeItCloses)
{
    Publish("LPT1", "/dev/null");
    CParallelPort port;
    port.SetPortName("LPT1");
    ExpectWriteWaitsForTheTransfer(port, CParallelPort::WRITE_STALL_LIMIT_MS, 6);
    Unpublish("LPT1");
}
