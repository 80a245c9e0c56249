// The serial and parallel port lists offered in the configuration dialog.
#include "CCommSingleton.h"
#include "CSerialPort.h"
#include "PortTestSupport.h"
#include "SysCalls.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <termios.h>
#include <utility>
#include <vector>

using namespace porttest;

namespace
{
// This machine's own /dev is not part of the test: only the device folder and the
// pseudo-terminals behind it exist, and a link named COM7 is one we may not open
// (listing opens nothing, so it is listed like any other).
int probeOpen(const char* path, int flags, mode_t mode)
{
    std::string p(path);
    if (p.size() >= 5 && p.compare(p.size() - 5, 5, "/COM7") == 0)
    {
        errno = EACCES;
        return -1;
    }
    if (p.compare(0, 5, "/dev/") == 0 && p.compare(0, 9, "/dev/pts/") != 0)
    {
        errno = ENOENT;
        return -1;
    }
    return RealSysCalls().open(path, flags, mode);
}
} // namespace

TEST(CommSingleton, ListsPresentAndHeldPortsInOrder)
{
    Pty com1, com3, com12, lpt2;
    Publish("COM12", com12.SlavePath());
    Publish("COM3", com3.SlavePath());
    Publish("COM1", com1.SlavePath());
    Publish("COM7", com1.SlavePath());
    Publish("COM300", com1.SlavePath()); // beyond the probed range
    Publish("LPT2", lpt2.SlavePath());
    Publish("COM9", (DeviceDir() / "nothing-there").string()); // a dangling link

    // COM3 is held by another user of the line.
    CSerialPort holder;
    holder.SetPortName("COM3");
    holder.Open();

    // This machine's own /dev and /sys play no part: an empty tree stands for them.
    std::filesystem::create_directories(DeviceDir() / "empty");
    CCommSingleton ports((DeviceDir() / "empty").c_str(), (DeviceDir() / "empty").c_str());
    EXPECT_EQ(ports.SerialPorts(), (std::vector<CString>{"COM1", "COM3", "COM7", "COM12"}));
    EXPECT_EQ(ports.ParallelPorts(), (std::vector<CString>{"LPT2"}));

    // Probing left nothing open: the held port is still held, the others can be opened.
    holder.Close();
    CSerialPort again;
    again.SetPortName("COM1");
    EXPECT_EQ(CodeOf([&] { again.Open(); }), 0u);
    again.Close();

    for (const char* name : {"COM12", "COM3", "COM1", "COM7", "COM300", "LPT2", "COM9"})
        Unpublish(name);
}

namespace
{
// What the probing asked of the system: every open, and any call that would change a
// device's settings or take it.
struct ProbeLog
{
    std::vector<std::pair<std::string, int>> opens;
    int settingChanges = 0;
};
ProbeLog g_probe;

int recordingOpen(const char* path, int flags, mode_t mode)
{
    g_probe.opens.emplace_back(path, flags);
    return probeOpen(path, flags, mode);
}
int recordingTcsetattr(int, int, const struct termios*)
{
    ++g_probe.settingChanges;
    return 0;
}
int recordingFlock(int, int)
{
    ++g_probe.settingChanges;
    return 0;
}
int recordingIoctl(int fd, unsigned long request, void* arg)
{
    ++g_probe.settingChanges;
    return RealSysCalls().ioctl(fd, request, arg);
}
} // namespace

// Listing runs at every start of the library, for every command, while other programs
// may be using the lines: a login prompt, a terminal program that takes no lock, a board
// that resets when its modem lines move. So no device is opened at all.
TEST(CommSingleton, ListingOpensNoDeviceAndLeavesEveryLineAsItWas)
{
    Pty com3;
    Publish("COM3", com3.SlavePath());
    Publish("COM150", com3.SlavePath()); // the folder may name any number
    // Another program has the line open, cooked, with echo.
    int other = ::open(com3.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    struct termios before;
    ASSERT_EQ(::tcgetattr(other, &before), 0);
    before.c_lflag |= ICANON | ECHO;
    before.c_iflag |= ICRNL;
    before.c_oflag |= OPOST;
    ASSERT_EQ(::tcsetattr(other, TCSANOW, &before), 0);
    ASSERT_EQ(::tcgetattr(other, &before), 0);

    g_probe = {};
    std::vector<CString> serial;
    {
        ScopedSysCall open(&SysCalls::open, recordingOpen);
        ScopedSysCall set(&SysCalls::tcsetattr, recordingTcsetattr);
        ScopedSysCall lock(&SysCalls::flock, recordingFlock);
        ScopedSysCall ioctl(&SysCalls::ioctl, recordingIoctl);
        CCommSingleton ports;
        serial = ports.SerialPorts();
    }
    auto at = [&](const char* name) { return std::find(serial.begin(), serial.end(), name); };
    EXPECT_NE(at("COM3"), serial.end());
    EXPECT_NE(at("COM150"), serial.end());
    EXPECT_LT(at("COM3"), at("COM150"));

    struct termios after;
    ASSERT_EQ(::tcgetattr(other, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(g_probe.settingChanges, 0) << "no line settings, no lock, no exclusive mode";
    EXPECT_EQ(g_probe.opens.size(), 0u)
        << "first open: " << (g_probe.opens.empty() ? std::string() : g_probe.opens[0].first);
    ::close(other);
    Unpublish("COM3");
    Unpublish("COM150");
}

// A prepared /dev and /sys: which nodes count as ports is the system's lists' word.
TEST(CommSingleton, FixedDevicesCountWhenTheSystemListsThemAsPorts)
{
    namespace fs = std::filesystem;
    const fs::path root = DeviceDir() / "machine";
    const fs::path dev = root / "dev", sys = root / "sys";
    fs::create_directories(dev);
    auto node = [&](const char* name) { fs::create_symlink("/dev/null", dev / name); };
    auto listed = [&](const char* cls, const char* name, const char* type = nullptr)
    {
        fs::create_directories(sys / "class" / cls / name);
        if (type)
            std::ofstream(sys / "class" / cls / name / "type") << type << "\n";
    };
    for (const char* n : {"ttyS0", "ttyS1", "ttyUSB2", "ttyACM0", "lp1"})
        node(n);
    std::ofstream(dev / "lp0") << "not a device";
    listed("tty", "ttyS0", "4");
    listed("tty", "ttyS1", "0"); // no UART behind it
    listed("tty", "ttyUSB2");
    listed("printer", "lp0");
    listed("printer", "lp1");
    // ttyACM0 has a node but is not listed; COM2 (ttyS1) has no UART.

    Pty com3;
    Publish("COM3", com3.SlavePath());
    Publish("COM9", (DeviceDir() / "nothing-there").string()); // a dangling link
    Publish("COM12", (dev / "lp0").string());                  // a file, not a device
    {
        CCommSingleton ports(dev.c_str(), sys.c_str());
        EXPECT_EQ(ports.SerialPorts(), (std::vector<CString>{"COM1", "COM3", "COM35"}));
        EXPECT_EQ(ports.ParallelPorts(), (std::vector<CString>{"LPT2"}));
    }
    // Without /sys the node alone decides.
    fs::remove_all(sys);
    CCommSingleton bare(dev.c_str(), sys.c_str());
    EXPECT_EQ(bare.SerialPorts(), (std::vector<CString>{"COM1", "COM2", "COM3", "COM35", "COM65"}));
    EXPECT_EQ(bare.ParallelPorts(), (std::vector<CString>{"LPT2"}));
    for (const char* name : {"COM3", "COM9", "COM12"})
        Unpublish(name);
}

TEST(CommSingleton, OneInstancePerProcess)
{
    EXPECT_EQ(&CCommSingleton::GetInstance(), &CCommSingleton::GetInstance());
}
