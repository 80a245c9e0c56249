// The printer record against simulated printers on real ports: what the library sends
// is judged by the simulator's own record of the bytes, and what it reads by the
// simulator's own state.
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "ScriptedPrompt.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{
std::string fleet(const std::string& address)
{
    return "[Dock]\nkind = serial\ncom = 3\nserial = RX4-100234\nhead = 12345\ntotal = 678901\n"
           "history = Head 3: {head} {unit}\\r\\nTotal: {total} {unit}\\r\\n\n"
           "[Desk]\nkind = usb\nlink = lp0\nieee1284 = MFG:Varko;MDL:RX200;CMD:RLX;\n"
           "serial = RX2-004411\nhead = 10\ntotal = 20\n"
           "[Line]\nkind = parallel\nlpt = 2\nserial = TP1\n"
           "[Yard]\nkind = network\naddress = " +
           address + "\nport = 9100\nserial = RX6\n";
}

struct SimulatedFleet : ::testing::Test
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim{fleet(address)};

    std::unique_ptr<CVarkoPrinter> serial()
    {
        auto p = std::make_unique<CVarkoPrinter>();
        auto* port = new CSerialPort;
        port->SetPortName("COM3");
        p->SetPort(port);
        return p;
    }
    std::unique_ptr<CVarkoPrinter> usb()
    {
        auto p = std::make_unique<CVarkoPrinter>();
        auto* port = new CUSBPort;
        port->SetPortName(sim.Path("Desk").c_str());
        p->SetPort(port);
        return p;
    }
    std::unique_ptr<CVarkoPrinter> network()
    {
        auto p = std::make_unique<CVarkoPrinter>();
        auto* port = new CNetworkPort;
        port->SetPortName(address.c_str());
        p->SetPort(port);
        return p;
    }
};
} // namespace

TEST_F(SimulatedFleet, SerialPrinterAnswersEveryQuery)
{
    auto p = serial();
    EXPECT_EQ(p->SerialNumber(), "RX4-100234");
    int head = 0, total = 0;
    p->Odometers(head, total, eUnitsInches);
    EXPECT_EQ(head, 12345);
    EXPECT_EQ(total, 678901);
    p->Odometers(head, total, eUnitsMillimeters);
    EXPECT_EQ(head, sim.State("Dock").headMm);
    EXPECT_EQ(total, sim.State("Dock").totalMm);
    EXPECT_EQ(p->HeadHistory(eUnitsInches), "Head 3: 12,345 in\r\nTotal: 678,901 in\r\n");
    EXPECT_EQ(sim.CommandBytes("Dock"),
              (std::vector<std::string>{"\nURS\n", "\nURLi\n", "\nURLm\n", "\nURHi\n"}));
    EXPECT_FALSE(p->GetPort()->IsOpen());
}

TEST_F(SimulatedFleet, UsbPrinterAnswersAndNamesItsModel)
{
    auto p = usb();
    EXPECT_EQ(p->PortDisplayName(), "USB");
    EXPECT_EQ(p->Model(), "Varko RX200;CMD:RLX;");
    EXPECT_EQ(p->SerialNumber(), "RX2-004411");
    int head = 0, total = 0;
    p->Odometers(head, total, eUnitsMillimeters);
    EXPECT_EQ(head, 254);
    EXPECT_EQ(total, 508);
    EXPECT_EQ(sim.CommandBytes("Desk"), (std::vector<std::string>{"\nURS\n", "\nURLm\n"}));
}

TEST_F(SimulatedFleet, SettingTheSerialNumberAndResettingTheHeadChangeThePrinter)
{
    ScriptedPrompt prompt;
    auto p = serial();
    p->SetSerialNumber("A\"B\\C");
    EXPECT_EQ(sim.State("Dock").serial, "A\"B\\C");
    EXPECT_EQ(p->SerialNumber(), "A\"B\\C");

    prompt.Answer(IDNO);
    p->ResetHeadOdometer();
    EXPECT_EQ(sim.State("Dock").headInches, 12345);
    prompt.Answer(IDYES);
    p->ResetHeadOdometer();
    EXPECT_EQ(sim.State("Dock").headInches, 0);
    EXPECT_EQ(sim.State("Dock").totalInches, 678901);

    auto bytes = sim.CommandBytes("Dock");
    ASSERT_EQ(bytes.size(), 3u);
    EXPECT_EQ(bytes[0], "\nheS\"A\\\"B\\\\C\"\r\n");
    EXPECT_EQ(bytes[2], "\noLr\r\n");
}

TEST_F(SimulatedFleet, OneWayPrintersAreNeverAskedButTakeCommands)
{
    CVarkoPrinter line;
    line.SetPort(new CParallelPort);
    line.GetPort()->SetPortName("LPT2");
    auto yard = network();
    for (CVarkoPrinter* p : {&line, yard.get()})
    {
        EXPECT_EQ(p->SerialNumber(), "N/A");
        int head = 0, total = 0;
        p->Odometers(head, total, eUnitsInches);
        EXPECT_EQ(head, -1);
        p->PrintOdometers(eUnitsMillimeters);
        p->PrintHeadHistory(eUnitsInches);
        p->PrintTestPageRLX();
        p->PrintTestPageTPX();
    }
    std::vector<std::string> expected{"\nURLmp\n", "\nURHip\n", "\nU\n", "~WC"};
    EXPECT_EQ(sim.CommandBytes("Line"), expected);
    ASSERT_TRUE(
        SimulatorProcess::WaitFor([&] { return sim.CommandBytes("Yard").size() == 4; }, 3000));
    EXPECT_EQ(sim.CommandBytes("Yard"), expected);
    EXPECT_EQ(sim.State("Yard").Counter("connections"), 4u);
}

TEST_F(SimulatedFleet, SwitchedOffPrinterIsUnavailable)
{
    sim.Power("Dock", false);
    auto p = serial();
    try
    {
        p->SerialNumber();
        ADD_FAILURE() << "no exception";
    }
    catch (const CVarkoPrinterException& e)
    {
        EXPECT_EQ(e.GetErrorCode(), 7u);
    }
    EXPECT_FALSE(p->GetPort()->IsOpen());
    sim.Power("Dock", true);
    EXPECT_EQ(p->SerialNumber(), "RX4-100234");
}
