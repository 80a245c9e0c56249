// The ports against the printer simulator: serial and USB printers answer the queries,
// network printers take label data over one connection per operation, switched-off
// printers cannot be opened.
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "PollUntil.h"
#include "PortTestSupport.h"
#include "SimulatorProcess.h"
#include "TcpStates.h"

#include <gtest/gtest.h>

#include <thread>

using namespace porttest;

namespace
{
// One command out, one reply back, as the printer record does it.
std::string Exchange(CPortBase& port, const std::string& command)
{
    DWORD written = 0;
    port.Write(command.data(), static_cast<DWORD>(command.size()), written);
    EXPECT_EQ(written, command.size());
    char reply[1000];
    DWORD got = 0;
    port.Read(reply, sizeof reply, got);
    return std::string(reply, got);
}

const char kQueryFleet[] = "[S1]\n"
                           "kind = serial\n"
                           "com = 3\n"
                           "serial = ABC123\n"
                           "head = 1234\n"
                           "total = 5678\n"
                           "history = Head {head} {unit}\\r\\n\n"
                           "[U1]\n"
                           "kind = usb\n"
                           "link = lp0\n"
                           "serial = USB-77\n"
                           "head = 10\n"
                           "total = 2000\n"
                           "history = H={head}{unit}\\r\\n\n"
                           "ieee1284 = MFG:Varko;MDL:VX-4;CMD:RLX;\n";
} // namespace

TEST(PortSim, SerialPrinterAnswersEveryQuery)
{
    SimulatorProcess sim(kQueryFleet);
    CSerialPort port;
    port.SetPortName("COM3");
    port.SetSettings(19200, 8, 0, 0, 1);
    port.Open();
    EXPECT_EQ(Exchange(port, "\nURS\n"), "ABC123\r\n");
    EXPECT_EQ(Exchange(port, "\nURLi\n"), "Head usage = 1,234\r\nTotal usage = 5,678\r\n");
    EXPECT_EQ(Exchange(port, "\nURLm\n"), "Head usage = 31,344\r\nTotal usage = 144,221\r\n");
    EXPECT_EQ(Exchange(port, "\nURHi\n"), "Head 1,234 in\r\n");
    port.Close();
    EXPECT_EQ(sim.CommandBytes("S1"),
              (std::vector<std::string>{"\nURS\n", "\nURLi\n", "\nURLm\n", "\nURHi\n"}));
}

TEST(PortSim, UsbPrinterAnswersEveryQueryAndTellsItsModel)
{
    SimulatorProcess sim(kQueryFleet);
    CUSBPort port;
    port.SetPortName(sim.Path("U1").c_str());
    EXPECT_EQ(port.DeviceModel(), "Varko VX-4;CMD:RLX;");
    EXPECT_FALSE(port.IsOpen());
    port.Open();
    EXPECT_EQ(Exchange(port, "\nURS\n"), "USB-77\r\n");
    EXPECT_EQ(Exchange(port, "\nURLi\n"), "Head usage = 10\r\nTotal usage = 2,000\r\n");
    EXPECT_EQ(Exchange(port, "\nURLm\n"), "Head usage = 254\r\nTotal usage = 50,800\r\n");
    EXPECT_EQ(Exchange(port, "\nURHi\n"), "H=10in\r\n");
    port.Close();
    EXPECT_EQ(sim.CommandBytes("U1"),
              (std::vector<std::string>{"\nURS\n", "\nURLi\n", "\nURLm\n", "\nURHi\n"}));
}

TEST(PortSim, ParallelPrinterTakesLabelData)
{
    SimulatorProcess sim("[L1]\nkind = parallel\nlpt = 2\n");
    CParallelPort port;
    port.SetPortName("LPT2");
    port.Open();
    std::string label(5000, 'L');
    DWORD written = 0;
    port.Write(label.data(), static_cast<DWORD>(label.size()), written);
    EXPECT_EQ(written, label.size());
    port.Close();
    EXPECT_TRUE(SimulatorProcess::WaitFor(
        [&] { return sim.State("L1").labelBytes == label.size(); }, 3000));
    EXPECT_EQ(sim.State("L1").labelCrc32, SimulatorProcess::Crc32(label));
}

TEST(PortSim, NetworkPrinterReceivesTheBytesAndTheConnectionEndsCleanly)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[N1]\nkind = network\naddress = " + address + "\nport = 9100\n");
    CNetworkPort port;
    port.SetPortName(address.c_str());
    port.Open();
    std::string label = "^XA^FO50,50^FDOdomira^FS^XZ";
    DWORD written = 0;
    port.Write(label.data(), static_cast<DWORD>(label.size()), written);
    EXPECT_EQ(written, label.size());
    port.Close();
    EXPECT_TRUE(sim.WaitForLog(
        [](const SimLogEntry& e)
        { return e.event == "close" && e.printer == "N1" && e.json["reason"].Str() == "eof"; },
        3000));
    auto state = sim.State("N1");
    EXPECT_EQ(state.labelBytes, label.size());
    EXPECT_EQ(state.Counter("connections"), 1u);
}

TEST(PortSim, NetworkPrinterThatDropsTheConnectionGetsTheBytesOnceMore)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[N1]\nkind = network\naddress = " + address +
                         "\nport = 9100\nfault = drop 0 close 1\n");
    CNetworkPort port;
    port.SetPortName(address.c_str());
    port.Open();
    // The printer has dropped the first connection by the time the data goes out.
    ASSERT_TRUE(sim.WaitForLog(
        [](const SimLogEntry& e) { return e.event == "drop" && e.printer == "N1"; }, 3000));
    EXPECT_TRUE(PollUntil([&] { return AnyTcpStateTo(9100, kTcpCloseWait, address); }));
    std::string label(2000, 'D');
    DWORD written = 0;
    port.Write(label.data(), static_cast<DWORD>(label.size()), written);
    EXPECT_EQ(written, label.size());
    port.Close();
    EXPECT_TRUE(SimulatorProcess::WaitFor(
        [&] { return sim.State("N1").labelBytes == label.size(); }, 3000));
    auto state = sim.State("N1");
    EXPECT_EQ(state.Counter("connections"), 2u);
    EXPECT_EQ(state.labelCrc32, SimulatorProcess::Crc32(label));
}

TEST(PortSim, SwitchedOffPrintersCannotBeOpened)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[S1]\nkind = serial\ncom = 4\npower = off\n"
                         "[U1]\nkind = usb\nlink = lp1\npower = off\n"
                         "[P1]\nkind = parallel\nlpt = 3\npower = off\n"
                         "[N1]\nkind = network\naddress = " +
                         address + "\nport = 9100\npower = off\n");
    CSerialPort serial;
    serial.SetPortName("COM4");
    CUSBPort usb;
    usb.SetPortName((sim.DeviceDir() + "/usb/lp1").c_str());
    CParallelPort parallel;
    parallel.SetPortName("LPT3");
    CNetworkPort network;
    network.SetPortName(address.c_str());
    for (CPortBase* port : std::initializer_list<CPortBase*>{&serial, &usb, &parallel, &network})
    {
        SCOPED_TRACE(port->GetRuntimeClass()->m_lpszClassName);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(CodeOf([&] { port->Open(); }), 7u);
        EXPECT_LT(MsSince(start), 1000);
        EXPECT_FALSE(port->IsOpen());
        port->Close();
    }
    // Asking the model opens the port, and that failure reaches the caller.
    EXPECT_EQ(CodeOf([&] { usb.DeviceModel(); }), 7u);

    // Switched on, the same ports open.
    sim.Power("S1", true);
    serial.Open();
    EXPECT_EQ(Exchange(serial, "\nURS\n"), "SIM0001\r\n");
    serial.Close();
}
