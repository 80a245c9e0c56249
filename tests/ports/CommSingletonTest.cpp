// The serial and parallel port lists offered in the configuration dialog.
#include "CCommSingleton.h"
#include "CSerialPort.h"
#include "PortTestSupport.h"
#include "SysCalls.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace porttest;

namespace
{
// This machine's own /dev is not part of the test: only the device folder and the
// pseudo-terminals behind it exist, and a link named COM7 is one we may not open.
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

TEST(CommSingleton, ListsPresentHeldAndForbiddenPortsInOrder)
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

    ScopedSysCall open(&SysCalls::open, probeOpen);
    CCommSingleton ports;
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

TEST(CommSingleton, OneInstancePerProcess)
{
    EXPECT_EQ(&CCommSingleton::GetInstance(), &CCommSingleton::GetInstance());
}
