// How CSerialPort programs the line. A pseudo-terminal forces 8 data bits, no parity
// and has no modem lines, so what the port asked of the system is recorded at the seam
// and checked there; the speed, which a pty keeps, is also read back from the device.
#include "CArchive.h"
#include "CSerialPort.h"
#include "DeviceFile.h"
#include "PortTestSupport.h"
#include "SysCalls.h"
#include "Termios2.h"

#include <gtest/gtest.h>

#include <sys/ioctl.h>
#include <vector>

using namespace porttest;

namespace
{
struct IoctlCall
{
    unsigned long request;
    int bits = 0;       // modem-line requests
    unsigned speed = 0; // termios2 set request
    bool bother = false;
};

std::vector<struct termios> g_set;
std::vector<IoctlCall> g_ioctls;
bool g_roundSpeed = false;

int recordTcsetattr(int fd, int actions, const struct termios* t)
{
    g_set.push_back(*t);
    return RealSysCalls().tcsetattr(fd, actions, t);
}

int roundingTcgetattr(int fd, struct termios* t)
{
    int r = RealSysCalls().tcgetattr(fd, t);
    // A driver that cannot do the rate and quietly picks another.
    if (r == 0 && g_roundSpeed && !g_set.empty())
        cfsetospeed(t, B9600);
    return r;
}

int recordIoctl(int fd, unsigned long request, void* arg)
{
    IoctlCall call{request};
    if ((request == TIOCMBIS || request == TIOCMBIC) && arg)
        call.bits = *static_cast<int*>(arg);
    if (request == Termios2SetRequest())
        call.bother = Termios2RequestedSpeeds(arg, nullptr, &call.speed);
    g_ioctls.push_back(call);
    return RealSysCalls().ioctl(fd, request, arg);
}

bool Asked(unsigned long request, int bits)
{
    for (const IoctlCall& c : g_ioctls)
        if (c.request == request && (c.bits & bits) == bits)
            return true;
    return false;
}

// The handle, to read the line back through the device layer.
struct InspectableSerialPort : CSerialPort
{
    HANDLE Handle() const { return m_handle; }
};

class SerialLine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Publish("COM2", pty.SlavePath());
        port.SetPortName("COM2");
        g_set.clear();
        g_ioctls.clear();
        g_roundSpeed = false;
    }
    void TearDown() override
    {
        port.Close();
        Unpublish("COM2");
    }
    // The line as the port last programmed it.
    const struct termios& Programmed()
    {
        EXPECT_FALSE(g_set.empty());
        return g_set.back();
    }
    Pty pty;
    InspectableSerialPort port;
    ScopedSysCall<int (*)(int, int, const struct termios*)> m_set{&SysCalls::tcsetattr,
                                                                  recordTcsetattr};
    ScopedSysCall<int (*)(int, unsigned long, void*)> m_ioctl{&SysCalls::ioctl, recordIoctl};
};
} // namespace

TEST_F(SerialLine, SoftwareHandshakeSevenBitsEvenParityTwoStopBits)
{
    port.SetSettings(19200, 7, 2, 2, 1);
    port.Open();
    const struct termios& t = Programmed();
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS7));
    EXPECT_TRUE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_cflag & PARODD);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    // XON/XOFF on output only: the printer may stop us, we never stop the printer.
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_FALSE(t.c_iflag & IXOFF);
    EXPECT_FALSE(t.c_iflag & IXANY);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_EQ(cfgetispeed(&t), speed_t(B19200));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_TRUE(Asked(TIOCMBIC, TIOCM_DTR));
    EXPECT_TRUE(Asked(TIOCMBIC, TIOCM_RTS));
    EXPECT_FALSE(Asked(TIOCMBIS, TIOCM_DTR));
}

TEST_F(SerialLine, HardwareHandshakeIsTheDefault)
{
    port.Open();
    const struct termios& t = Programmed();
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB));
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_TRUE(Asked(TIOCMBIC, TIOCM_DTR));
    // RTS belongs to the handshake now; it is not set by hand.
    EXPECT_FALSE(Asked(TIOCMBIC, TIOCM_RTS));
    EXPECT_FALSE(Asked(TIOCMBIS, TIOCM_RTS));
}

TEST_F(SerialLine, OddParityAndEveryAcceptedSpeedReadsBack)
{
    for (int rate : {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600,
                     115200, 128000, 256000})
    {
        SCOPED_TRACE(rate);
        g_ioctls.clear();
        port.SetSettings(rate, 8, 1, 0, 2);
        ASSERT_EQ(CodeOf([&] { port.Open(); }), 0u);
        EXPECT_TRUE(Programmed().c_cflag & PARODD);
        const bool custom = rate == 14400 || rate == 56000 || rate == 128000 || rate == 256000;
        bool sawCustom = false;
        for (const IoctlCall& c : g_ioctls)
            if (c.request == Termios2SetRequest())
            {
                sawCustom = true;
                EXPECT_TRUE(c.bother);
                EXPECT_EQ(c.speed, unsigned(rate));
            }
        EXPECT_EQ(sawCustom, custom);
        DCB dcb{};
        ASSERT_TRUE(GetCommState(port.Handle(), &dcb));
        EXPECT_EQ(dcb.BaudRate, DWORD(rate));
        port.Close();
    }
}

TEST_F(SerialLine, FlowControlFromAFileOutsideOneAndTwoLeavesTheHandshakeAlone)
{
    // The driver's handshake as someone else left it.
    {
        int slave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
        struct termios t;
        tcgetattr(slave, &t);
        t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = 0x05;
        tcsetattr(slave, TCSANOW, &t);
        ::close(slave);
    }
    CArchive out(CArchive::store);
    out << CString("\\\\.\\COM2") << LONG(38400) << LONG(8) << LONG(0) << LONG(0) << LONG(0)
        << CString("COM2");
    CArchive in(out.Buffer());
    port.Serialize(in);
    port.Open();
    const struct termios& t = Programmed();
    EXPECT_TRUE(t.c_iflag & IXON);
    EXPECT_TRUE(t.c_iflag & IXOFF);
    EXPECT_EQ(t.c_cc[VSTART], 0x05);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B38400));
    EXPECT_FALSE(Asked(TIOCMBIC, TIOCM_DTR));
}

TEST_F(SerialLine, ASpeedTheDeviceDoesNotTakeFailsWithCode10)
{
    // A stored rate that SetSettings would refuse loads, and fails at Open.
    CArchive out(CArchive::store);
    out << CString("\\\\.\\COM2") << LONG(12345) << LONG(8) << LONG(0) << LONG(0) << LONG(2)
        << CString("COM2");
    CArchive in(out.Buffer());
    port.Serialize(in);
    EXPECT_EQ(CodeOf([&] { port.Open(); }), 10u);
    // The device stays open for the client to close.
    EXPECT_TRUE(port.IsOpen());
    port.Close();

    // A driver that rounds an accepted rate to another.
    port.SetSettings(19200, 8, 0, 0, 2);
    g_set.clear();
    g_roundSpeed = true;
    ScopedSysCall get(&SysCalls::tcgetattr, roundingTcgetattr);
    EXPECT_EQ(CodeOf([&] { port.Open(); }), 10u);
    port.Close();

    // Framing Windows drivers refuse: one and a half stop bits.
    g_roundSpeed = false;
    CArchive out2(CArchive::store);
    out2 << CString("\\\\.\\COM2") << LONG(9600) << LONG(8) << LONG(0) << LONG(1) << LONG(2)
         << CString("COM2");
    CArchive in2(out2.Buffer());
    port.Serialize(in2);
    EXPECT_EQ(CodeOf([&] { port.Open(); }), 10u);
    port.Close();
}

// A file is no serial line: refused before the line is programmed (or anything written).
TEST(SerialLineOnAFile, ADeviceThatIsNoSerialLineIsUnavailable)
{
    auto file = DeviceDir() / "not-a-line";
    {
        std::FILE* f = std::fopen(file.c_str(), "w");
        std::fclose(f);
    }
    Publish("COM3", file.string());
    CSerialPort port;
    port.SetPortName("COM3");
    EXPECT_EQ(CodeOf([&] { port.Open(); }), 7u);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    Unpublish("COM3");
}
