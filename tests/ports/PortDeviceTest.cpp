// Ports on real device files: pseudo-terminals published in the private device folder
// stand in for serial, parallel and USB printers. Failures of the system calls are
// injected through the seam.
#include "CArchive.h"
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinterException.h"
#include "DeviceFile.h"
#include "PortTestSupport.h"
#include "SysCalls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <sys/wait.h>
#include <thread>

using namespace porttest;

namespace
{
std::atomic<int> g_writeCalls{0};
std::atomic<int> g_readCalls{0};
std::atomic<int> g_failErrno{0};
std::atomic<int> g_eintrLeft{0};

ssize_t countingWrite(int fd, const void* b, std::size_t n)
{
    ++g_writeCalls;
    return RealSysCalls().write(fd, b, n);
}
ssize_t countingRead(int fd, void* b, std::size_t n)
{
    ++g_readCalls;
    return RealSysCalls().read(fd, b, n);
}
ssize_t failingWrite(int, const void*, std::size_t)
{
    errno = g_failErrno;
    return -1;
}
ssize_t failingRead(int, void*, std::size_t)
{
    errno = g_failErrno;
    return -1;
}
ssize_t interruptedWrite(int fd, const void* b, std::size_t n)
{
    if (g_eintrLeft > 0)
    {
        --g_eintrLeft;
        errno = EINTR;
        return -1;
    }
    // Short writes too: the layer must carry on where the device stopped.
    return RealSysCalls().write(fd, b, n > 3 ? 3 : n);
}
ssize_t interruptedRead(int fd, void* b, std::size_t n)
{
    if (g_eintrLeft > 0)
    {
        --g_eintrLeft;
        errno = EINTR;
        return -1;
    }
    return RealSysCalls().read(fd, b, n);
}
int interruptedPoll(struct pollfd* fds, nfds_t n, int timeoutMs)
{
    if (g_eintrLeft > 0)
    {
        --g_eintrLeft;
        errno = EINTR;
        return -1;
    }
    return RealSysCalls().poll(fds, n, timeoutMs);
}

// A device that has a byte ready each time it is asked, and a poll that wakes a little
// after the time asked for, as on a busy machine: bytes keep coming within the interval.
std::atomic<int> g_trickleReads{0};
ssize_t tricklingRead(int, void* b, std::size_t n)
{
    if (n == 0 || g_trickleReads++ % 2)
    {
        errno = EAGAIN;
        return -1;
    }
    *static_cast<char*>(b) = 'x';
    return 1;
}
int lateWakingPoll(struct pollfd* fds, nfds_t n, int timeoutMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(timeoutMs, 0) + 3));
    for (nfds_t i = 0; i < n; ++i)
        fds[i].revents = fds[i].events & POLLIN;
    return 1;
}

class SerialOnPty : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Publish("COM1", pty.SlavePath());
        port.SetPortName("COM1");
    }
    void TearDown() override
    {
        port.Close();
        Unpublish("COM1");
    }
    Pty pty;
    CSerialPort port;
};
} // namespace

TEST(PortErrors, PlatformNumbersBecomeLibraryCodesOrTravelMarked)
{
    bool os = true;
    EXPECT_EQ(CodeOf([] { CPortBase::ThrowPortError(ERROR_INVALID_HANDLE); }, &os), 7u);
    EXPECT_FALSE(os);
    EXPECT_EQ(CodeOf([] { CPortBase::ThrowPortError(ERROR_INVALID_PARAMETER); }, &os), 10u);
    EXPECT_FALSE(os);
    EXPECT_EQ(CodeOf([] { CPortBase::ThrowPortError(ERROR_SEM_TIMEOUT); }, &os), 121u);
    EXPECT_TRUE(os);
    // Access denied shares its number with "Invalid Flow control setting."; marked as a
    // system error it is shown with the system's words instead.
    try
    {
        SetLastErrorFromErrno(EACCES);
        CPortBase::ThrowPortError(ERROR_ACCESS_DENIED);
    }
    catch (const CVarkoPrinterException& e)
    {
        EXPECT_TRUE(e.IsOsError());
        EXPECT_EQ(e.GetErrorCode(), 5u);
        EXPECT_EQ(e.GetOsText(), "Permission denied");
        EXPECT_EQ(e.GetMessageText().Find("Flow control"), -1);
    }
    EXPECT_EQ(CodeOf([] { CPortBase::ThrowPortError(WSAECONNRESET); }, &os), 10054u);
    EXPECT_TRUE(os);
}

TEST(PortErrors, ClosedPortsRefuseTransfersWithoutTouchingTheDevice)
{
    ScopedSysCall w(&SysCalls::write, countingWrite);
    ScopedSysCall r(&SysCalls::read, countingRead);
    g_writeCalls = g_readCalls = 0;
    char buf[8] = {};
    DWORD n = 99;
    CPortBase base;
    CSerialPort serial;
    CUSBPort usb;
    CNetworkPort network;
    CParallelPort parallel;
    for (CPortBase* p :
         std::initializer_list<CPortBase*>{&base, &serial, &usb, &network, &parallel})
    {
        SCOPED_TRACE(p->GetRuntimeClass()->m_lpszClassName);
        EXPECT_FALSE(p->IsOpen());
        EXPECT_EQ(CodeOf([&] { p->Write("x", 1, n); }), 7u);
        if (p != &parallel)
        {
            EXPECT_EQ(CodeOf([&] { p->Read(buf, sizeof buf, n); }), 7u);
        }
        p->Close(); // closing a closed port does nothing
        EXPECT_FALSE(p->IsOpen());
    }
    n = 99;
    EXPECT_EQ(CodeOf([&] { parallel.Read(buf, sizeof buf, n); }), 0u);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(g_writeCalls, 0);
    EXPECT_EQ(g_readCalls, 0);
}

TEST(PortErrors, OpeningAMissingDeviceGivesCode7AndLeavesThePortClosed)
{
    CSerialPort serial;
    serial.SetPortName("COM200"); // beyond the fixed rule and not in the device folder
    EXPECT_EQ(CodeOf([&] { serial.Open(); }), 7u);
    EXPECT_FALSE(serial.IsOpen());
    serial.Close();

    CParallelPort parallel;
    parallel.SetPortName("LPT9");
    EXPECT_EQ(CodeOf([&] { parallel.Open(); }), 7u);
    EXPECT_FALSE(parallel.IsOpen());

    CUSBPort usb;
    usb.SetPortName((DeviceDir() / "usb" / "gone").c_str());
    EXPECT_EQ(CodeOf([&] { usb.Open(); }), 7u);
    EXPECT_FALSE(usb.IsOpen());
    EXPECT_EQ(CodeOf([&] { usb.DeviceModel(); }), 7u);
    EXPECT_FALSE(usb.IsOpen());
}

namespace
{
// A port as a settings file gives it: the stored device path is whatever the file says.
template <typename Port> std::unique_ptr<Port> PortLoadedWithDevice(const std::string& device)
{
    CArchive out(CArchive::store);
    out << CString(device);
    if constexpr (std::is_same_v<Port, CSerialPort>)
        out << LONG(9600) << LONG(8) << LONG(0) << LONG(0) << LONG(2) << CString("COM1");
    if constexpr (std::is_same_v<Port, CParallelPort>)
        out << CString("LPT1");
    CArchive in(out.Buffer());
    auto port = std::make_unique<Port>();
    port->Serialize(in);
    return port;
}

std::string FileText(const std::filesystem::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}
} // namespace

// A settings file opens on a double-click, so the device names in it are untrusted: no
// port may write to the user's files or terminal, whatever it is told to open.
TEST(PortDeviceKinds, FilesAndTerminalsAreRefusedWithoutBeingTouched)
{
    const auto notes = DeviceDir() / "notes.txt";
    std::ofstream(notes) << "precious\n";
    Publish("COM5", notes.string());
    Publish("LPT3", notes.string());
    const std::string usbLink = Publish("usb/lp7", notes.string());
    Pty terminal; // named directly, not through the device folder: somebody's terminal window
    struct termios before;
    ASSERT_EQ(::tcgetattr(terminal.Master(), &before), 0);

    std::vector<std::pair<std::string, std::unique_ptr<CPortBase>>> ports;
    auto serial = std::make_unique<CSerialPort>();
    serial->SetPortName("COM5");
    ports.emplace_back("serial link to a file", std::move(serial));
    ports.emplace_back("serial terminal", PortLoadedWithDevice<CSerialPort>(terminal.SlavePath()));
    auto parallel = std::make_unique<CParallelPort>();
    parallel->SetPortName("LPT3");
    ports.emplace_back("parallel link to a file", std::move(parallel));
    ports.emplace_back("parallel file", PortLoadedWithDevice<CParallelPort>(notes.string()));
    ports.emplace_back("usb file", PortLoadedWithDevice<CUSBPort>(notes.string()));
    ports.emplace_back("usb link to a file", PortLoadedWithDevice<CUSBPort>(usbLink));
    ports.emplace_back("usb terminal", PortLoadedWithDevice<CUSBPort>(terminal.SlavePath()));
    ports.emplace_back("usb /dev/null", PortLoadedWithDevice<CUSBPort>("/dev/null"));
    ports.emplace_back("plain file", PortLoadedWithDevice<CPortBase>(notes.string()));
    ports.emplace_back("plain terminal", PortLoadedWithDevice<CPortBase>(terminal.SlavePath()));

    for (auto& [what, port] : ports)
    {
        CPortBase* opened = port.get();
        EXPECT_EQ(CodeOf([&] { opened->Open(); }), 7u) << what;
        EXPECT_FALSE(port->IsOpen()) << what;
        port->Close();
    }
    auto* usb = static_cast<CUSBPort*>(ports[4].second.get());
    EXPECT_EQ(CodeOf([&] { usb->DeviceModel(); }), 7u);

    EXPECT_EQ(FileText(notes), "precious\n");
    EXPECT_EQ(terminal.Received(50), "");
    struct termios after;
    ASSERT_EQ(::tcgetattr(terminal.Master(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);

    // The same terminal published in the device folder is a printer the user set up.
    Publish("COM6", terminal.SlavePath());
    CSerialPort published;
    published.SetPortName("COM6");
    EXPECT_EQ(CodeOf([&] { published.Open(); }), 0u);
    published.Close();
    for (const char* name : {"COM5", "COM6", "LPT3", "usb/lp7"})
        Unpublish(name);
}

TEST(PortDeviceKinds, EachKindTakesOnlyItsOwnDevices)
{
    enum Fits
    {
        no = 0,
        serial = 1,
        parallel = 2,
        usb = 4
    };
    struct Case
    {
        const char* what;
        DeviceIdentity device;
        int fits;
    };
    auto chr = [](unsigned major, unsigned minor, bool terminal)
    {
        DeviceIdentity d;
        d.characterDevice = true;
        d.major = major;
        d.minor = minor;
        d.terminal = terminal;
        return d;
    };
    auto with = [](DeviceIdentity d, auto change)
    {
        change(d);
        return d;
    };
    const Case cases[] = {
        {"regular file", DeviceIdentity{}, no},
        {"/dev/ttyS0", chr(4, 64, true), serial},
        {"/dev/tty1 (a console)", chr(4, 1, true), no},
        {"/dev/tty", chr(5, 0, true), no},
        {"/dev/console", chr(5, 1, true), no},
        {"/dev/ptmx", chr(5, 2, true), no},
        {"/dev/ttyUSB0", chr(188, 0, true), serial},
        {"/dev/ttyACM0", chr(166, 0, true), serial},
        {"this session's terminal",
         with(chr(188, 0, true), [](DeviceIdentity& d) { d.controllingTerminal = true; }), no},
        {"/dev/pts/3", chr(136, 3, true), no},
        {"/dev/pts/3 in the device folder",
         with(chr(136, 3, true), [](DeviceIdentity& d) { d.throughOverride = true; }),
         serial | parallel | usb},
        {"a pty master in the device folder",
         with(chr(128, 3, true), [](DeviceIdentity& d) { d.throughOverride = true; }), no},
        {"/dev/lp0", chr(6, 0, false), parallel},
        {"/dev/usb/lp0",
         with(chr(180, 0, false), [](DeviceIdentity& d) { d.usbPrinterNode = true; }), usb},
        {"/dev/usb/hiddev0", chr(180, 96, false), no},
        {"/dev/null", chr(1, 3, false), no},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(DeviceFitsKind(c.device, EDeviceKind::eSerialLine), (c.fits & serial) != 0)
            << c.what;
        EXPECT_EQ(DeviceFitsKind(c.device, EDeviceKind::eParallelPrinter), (c.fits & parallel) != 0)
            << c.what;
        EXPECT_EQ(DeviceFitsKind(c.device, EDeviceKind::eUsbPrinter), (c.fits & usb) != 0)
            << c.what;
        EXPECT_EQ(DeviceFitsKind(c.device, EDeviceKind::ePrinterDevice), c.fits != no) << c.what;
    }
}

TEST_F(SerialOnPty, ASecondOpenOfTheSameLineFailsInThisProcessAndInAnother)
{
    port.Open();
    ASSERT_TRUE(port.IsOpen());

    CSerialPort second;
    second.SetPortName("COM1");
    EXPECT_EQ(CodeOf([&] { second.Open(); }), 7u);
    EXPECT_FALSE(second.IsOpen());

    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        HANDLE h = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        _exit(h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // The losing opener must not have cleared the owner's hold on the line.
    EXPECT_EQ(CodeOf([&] { second.Open(); }), 7u);
    port.Close();
    EXPECT_EQ(CodeOf([&] { second.Open(); }), 0u);
    second.Close();
}

TEST_F(SerialOnPty, BytesPassUnchangedBothWays)
{
    port.Open();
    const std::string command("\nURS\n\r\x11\x13\x00\xff", 10);
    DWORD written = 0;
    port.Write(command.data(), static_cast<DWORD>(command.size()), written);
    EXPECT_EQ(written, command.size());
    // With XON/XOFF off (hardware handshake) the flow bytes are data.
    EXPECT_EQ(pty.Received(), command);

    pty.Send("SN 12345\r\n");
    TimedCall read = TimedRead(port, 64);
    EXPECT_EQ(read.bytes, "SN 12345\r\n");
    // The read ends 100 ms after the last byte, not at the 5 s limit.
    EXPECT_LT(read.ms, 1000);
    EXPECT_GE(read.ms, 90);
}

TEST_F(SerialOnPty, AFullBufferEndsTheReadAtOnce)
{
    port.Open();
    pty.Send("0123456789");
    TimedCall read = TimedRead(port, 4);
    EXPECT_EQ(read.bytes, "0123");
    EXPECT_LT(read.ms, 90);
    EXPECT_EQ(TimedRead(port, 4).bytes, "4567");
}

TEST_F(SerialOnPty, TheTotalTimeOutEndsAReadWhileBytesKeepComing)
{
    HANDLE h = CreateFileA("\\\\.\\COM1", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 100;
    timeouts.ReadTotalTimeoutConstant = 300;
    ASSERT_TRUE(SetCommTimeouts(h, &timeouts));
    char buf[1000];
    DWORD got = 0;
    auto start = std::chrono::steady_clock::now();
    {
        ScopedSysCall r(&SysCalls::read, tricklingRead);
        ScopedSysCall p(&SysCalls::poll, lateWakingPoll);
        EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    }
    // Ended by the 300 ms limit with the bytes that came meanwhile (one per wake-up),
    // not carried on byte by byte until the buffer is full.
    EXPECT_LT(MsSince(start), 700);
    EXPECT_GT(got, 0u);
    EXPECT_LT(got, 20u);
    CloseHandle(h);
}

TEST_F(SerialOnPty, InterruptedAndShortCallsAreCarriedOn)
{
    port.Open();
    {
        ScopedSysCall w(&SysCalls::write, interruptedWrite);
        ScopedSysCall p(&SysCalls::poll, interruptedPoll);
        g_eintrLeft = 3;
        DWORD written = 0;
        port.Write("\nURLi\n", 6, written);
        EXPECT_EQ(written, 6u);
    }
    EXPECT_EQ(pty.Received(), "\nURLi\n");
    {
        ScopedSysCall r(&SysCalls::read, interruptedRead);
        ScopedSysCall p(&SysCalls::poll, interruptedPoll);
        g_eintrLeft = 3;
        pty.Send("usage = 12\r\n");
        char buf[64];
        DWORD got = 0;
        port.Read(buf, sizeof buf, got);
        EXPECT_EQ(std::string(buf, got), "usage = 12\r\n");
    }
}

TEST_F(SerialOnPty, DriverErrorsAreMappedAndTheOsTextKept)
{
    port.Open();
    char buf[8];
    DWORD n = 0;
    struct Case
    {
        int err;
        DWORD code;
        bool os;
    };
    for (Case k : {Case{EINVAL, 10, false}, Case{EBADF, 7, false}, Case{ETIMEDOUT, 121, true},
                   Case{EIO, 21, true}})
    {
        g_failErrno = k.err;
        bool os = false;
        {
            ScopedSysCall w(&SysCalls::write, failingWrite);
            EXPECT_EQ(CodeOf([&] { port.Write("x", 1, n); }, &os), k.code) << k.err;
            EXPECT_EQ(os, k.os) << k.err;
        }
        {
            ScopedSysCall r(&SysCalls::read, failingRead);
            EXPECT_EQ(CodeOf([&] { port.Read(buf, sizeof buf, n); }, &os), k.code) << k.err;
        }
        EXPECT_TRUE(port.IsOpen()); // a failed transfer leaves the port for the client to close
    }
    g_failErrno = EIO;
    ScopedSysCall w(&SysCalls::write, failingWrite);
    try
    {
        port.Write("x", 1, n);
        ADD_FAILURE();
    }
    catch (const CVarkoPrinterException& e)
    {
        EXPECT_EQ(e.GetOsText(), "Input/output error");
    }
}

TEST_F(SerialOnPty, AnUnpluggedDeviceGivesAnErrorAndTheClientCanStillClose)
{
    port.Open();
    pty.CloseKeeper();
    pty.CloseMaster();
    ExpectGoneDeviceFailsAtOnce(port);
}

TEST(ParallelPort, SendsThroughTheDeviceAndNeverReads)
{
    Pty pty;
    Publish("LPT1", pty.SlavePath());
    CParallelPort port;
    port.SetPortName("LPT1");
    port.Open();
    ASSERT_TRUE(port.IsOpen());
    CParallelPort second;
    second.SetPortName("LPT1");
    EXPECT_EQ(CodeOf([&] { second.Open(); }), 7u);

    DWORD written = 0;
    port.Write("^XA^XZ\n", 7, written);
    EXPECT_EQ(written, 7u);
    EXPECT_EQ(pty.Received(), "^XA^XZ\n");

    pty.Send("unread");
    char buf[8] = "keep";
    DWORD got = 9;
    ScopedSysCall r(&SysCalls::read, countingRead);
    g_readCalls = 0;
    port.Read(buf, sizeof buf, got);
    EXPECT_EQ(got, 0u);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(g_readCalls, 0);
    port.Close();
    Unpublish("LPT1");
}
