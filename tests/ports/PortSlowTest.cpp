// Ports waiting out their real time limits: the 5 s serial read and write, the 3 s USB
// read, and the 30 s no-progress limits of USB and network writes.
#include "CNetworkPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "PortTestSupport.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <thread>

using namespace porttest;

namespace
{
// A status query the printer leaves unanswered; the read waits out the port's limit.
template <typename Port> TimedCall QueryUnanswered(Port& port)
{
    DWORD written = 0;
    port.Write("\nURS\n", 5, written);
    return TimedRead(port, 1000);
}
} // namespace

TEST(PortSlow, SilentSerialPrinterGivesNothingAfterFiveSeconds)
{
    SimulatorProcess sim("[S1]\nkind = serial\ncom = 5\nfault = silent\n");
    CSerialPort port;
    port.SetPortName("COM5");
    port.Open();
    TimedCall read = QueryUnanswered(port);
    EXPECT_EQ(read.code, 0u);
    EXPECT_EQ(read.count, 0u);
    EXPECT_GE(read.ms, 4950);
    EXPECT_LT(read.ms, 5600);
    EXPECT_TRUE(port.IsOpen());
    port.Close();
}

TEST(PortSlow, SilentUsbPrinterGivesNothingAfterThreeSeconds)
{
    SimulatorProcess sim("[U1]\nkind = usb\nlink = lp0\nfault = silent\n");
    CUSBPort port;
    port.SetPortName(sim.Path("U1").c_str());
    port.Open();
    TimedCall read = QueryUnanswered(port);
    EXPECT_EQ(read.code, 0u);
    EXPECT_EQ(read.count, 0u);
    EXPECT_GE(read.ms, 2950);
    EXPECT_LT(read.ms, 3600);
    // Still usable afterwards.
    sim.Fault("U1", "clear");
    DWORD written = 0;
    port.Write("\nURS\n", 5, written);
    char buf[1000];
    DWORD got = 0;
    port.Read(buf, sizeof buf, got);
    EXPECT_EQ(std::string(buf, got), "SIM0001\r\n");
    port.Close();
}

TEST(PortSlow, SerialWriteToAStalledPrinterEndsAfterFiveSecondsWithFewerBytes)
{
    SimulatorProcess sim("[S1]\nkind = serial\ncom = 6\nfault = stall 0 20000\n");
    CSerialPort port;
    port.SetPortName("COM6");
    port.Open();
    std::string data(4 << 20, 'x');
    TimedCall write = TimedWrite(port, data);
    EXPECT_EQ(write.code, 0u);
    EXPECT_LT(write.count, data.size());
    EXPECT_GE(write.ms, 4950);
    EXPECT_LT(write.ms, 5600);
    port.Close();
}

TEST(PortSlow, XoffFromThePrinterHoldsSerialOutputUntilXon)
{
    Pty pty;
    Publish("COM7", pty.SlavePath());
    CSerialPort port;
    port.SetPortName("COM7");
    port.SetSettings(9600, 8, 0, 0, 1);
    port.Open();
    pty.Send("\x13");
    // The terminal layer takes the XOFF in on a kernel work queue and shows no sign of
    // it: a pause instead.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    DWORD written = 99;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CodeOf([&] { port.Write("held", 4, written); }), 0u);
    long long ms = MsSince(start);
    // Held for the whole write time-out, then given up on without an error.
    EXPECT_EQ(written, 0u);
    EXPECT_GE(ms, 4950);
    EXPECT_LT(ms, 5600);
    EXPECT_EQ(pty.Received(100), "");
    pty.Send("\x11");
    port.Write("sent", 4, written);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(pty.Received(), "sent");
    // XON and XOFF are flow control, not data.
    char buf[8];
    DWORD got = 0;
    pty.Send("ok");
    port.Read(buf, sizeof buf, got);
    EXPECT_EQ(std::string(buf, got), "ok");
    port.Close();
    Unpublish("COM7");
}

TEST(PortSlow, UsbWriteToAPrinterThatTakesNothingEndsWithCode12)
{
    SimulatorProcess sim("[U1]\nkind = usb\nlink = lp2\nfault = stall 0 300000\n");
    CUSBPort port;
    port.SetPortName(sim.Path("U1").c_str());
    port.Open();
    std::string data(4 << 20, 'u');
    TimedCall write = TimedWrite(port, data);
    EXPECT_EQ(write.code, 12u);
    // 30 s without progress; a device that takes a few more bytes now and then (a pty
    // frees room in steps) starts the 30 s again, but it never gets to the end.
    EXPECT_GE(write.ms, 29900);
    EXPECT_LT(write.ms, 100000);
    EXPECT_TRUE(port.IsOpen());
    port.Close();
}

TEST(PortSlow, NetworkWriteToAStalledPrinterReportsWhatWasTakenAndTheRestFollowsOnce)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    // The printer stops reading at once, until told otherwise.
    SimulatorProcess sim("[N1]\nkind = network\naddress = " + address +
                         "\nport = 9100\nfault = stall 0 300000\n");
    CNetworkPort port;
    port.SetPortName(address.c_str());
    port.Open();
    std::string data(64 << 20, 'n');
    for (std::size_t i = 0; i < data.size(); i += 7)
        data[i] = static_cast<char>('a' + (i / 7) % 26);
    TimedCall write = TimedWrite(port, data);
    EXPECT_EQ(write.code, 0u);
    EXPECT_GE(write.ms, 29900);
    EXPECT_LT(write.ms, 100000);
    DWORD written = write.count;
    // The system's buffers took a good part before the printer stopped: that much is on
    // its way and must not be offered again.
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, data.size());
    // The rest, as a caller offers it again, once the printer reads on.
    sim.Fault("N1", "stall off");
    DWORD rest = 0;
    port.Write(data.data() + written, static_cast<DWORD>(data.size() - written), rest);
    EXPECT_EQ(rest, data.size() - written);
    port.Close();
    // The connection was still up, so it was not made again; every byte came once.
    ASSERT_TRUE(SimulatorProcess::WaitFor(
        [&] { return sim.State("N1").Counter("bytes_received") >= data.size(); }, 20000));
    SimPrinterState state = sim.State("N1");
    EXPECT_EQ(state.Counter("connections"), 1u);
    EXPECT_EQ(state.Counter("bytes_received"), data.size());
    EXPECT_EQ(state.labelCrc32, SimulatorProcess::Crc32(data));
}
