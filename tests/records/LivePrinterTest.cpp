#include "CArchive.h"
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "PortTestSupport.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace
{
using SerialFake = ScriptedPortOf<CSerialPort>;
using NetworkFake = ScriptedPortOf<CNetworkPort>;

std::string sentBy(void (CVarkoPrinter::*command)())
{
    CVarkoPrinter p;
    auto* port = new NetworkFake;
    p.SetPort(port);
    (p.*command)();
    EXPECT_FALSE(port->WasLeftOpen());
    return port->Written();
}

std::string sentBy(void (CVarkoPrinter::*command)(EDisplayUnits), EDisplayUnits units)
{
    CVarkoPrinter p;
    auto* port = new NetworkFake;
    p.SetPort(port);
    (p.*command)(units);
    return port->Written();
}

Bytes bytesOf(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}
} // namespace

TEST(CommandSet, PrintingCommandsSendTheirExactBytes)
{
    EXPECT_EQ(sentBy(&CVarkoPrinter::PrintOdometers, eUnitsMillimeters),
              std::string("\x0a\x55\x52\x4c\x6d\x70\x0a"));
    EXPECT_EQ(sentBy(&CVarkoPrinter::PrintOdometers, eUnitsInches),
              std::string("\x0a\x55\x52\x4c\x69\x70\x0a"));
    EXPECT_EQ(sentBy(&CVarkoPrinter::PrintHeadHistory, eUnitsInches), std::string("\nURHip\n"));
    EXPECT_EQ(sentBy(&CVarkoPrinter::PrintHeadHistory, eUnitsMillimeters),
              std::string("\nURHmp\n"));
    EXPECT_EQ(sentBy(&CVarkoPrinter::PrintTestPageRLX), std::string("\x0a\x55\x0a"));
    EXPECT_EQ(sentBy(&CVarkoPrinter::PrintTestPageTPX), std::string("\x7e\x57\x43"));
    EXPECT_EQ(sentBy(&CVarkoPrinter::Calibrate), std::string("\x0a\x78\x61\x0a"));
}

TEST(CommandSet, TestPagesFailQuietlyReportsDoNot)
{
    ScriptedPrompt prompt;
    CVarkoPrinter p;
    auto* port = new NetworkFake;
    p.SetPort(port);
    port->FailOn(PortCall::Open, 1, 7);
    EXPECT_NO_THROW(p.PrintTestPageRLX());
    port->FailOn(PortCall::Write, 1, 10054, true);
    EXPECT_NO_THROW(p.PrintTestPageTPX());
    EXPECT_FALSE(port->WasLeftOpen());
    EXPECT_TRUE(prompt.Records().empty());

    port->FailOn(PortCall::Open, 1, 7);
    EXPECT_THROW(p.PrintOdometers(eUnitsInches), CVarkoPrinterException);
    port->FailOn(PortCall::Write, 1, 7);
    EXPECT_THROW(p.PrintHeadHistory(eUnitsInches), CVarkoPrinterException);
    EXPECT_FALSE(port->WasLeftOpen());
}

TEST(CommandSet, CalibrateReportsItsOwnFailure)
{
    ScriptedPrompt prompt;
    CVarkoPrinter p;
    auto* port = new SerialFake;
    p.SetPort(port);
    port->FailOn(PortCall::Open, 1, 7);
    EXPECT_NO_THROW(p.Calibrate());
    ASSERT_EQ(prompt.Texts().size(), 1u);
    EXPECT_EQ(prompt.Texts()[0], "That port is unavailable.");
}

TEST(LivePrinterRecord, StoresThePortTagCalibrateFlagAndPortFields)
{
    CVarkoPrinter p;
    p.SetName("Printer#1");
    auto* port = new CNetworkPort;
    port->SetPortName("192.168.0.50");
    port->m_tcpPort = 6101;
    p.SetPort(port);
    p.m_bCalibrate = true;
    CArchive out(CArchive::store);
    p.Serialize(out);

    std::string expected = std::string("\x09Printer#1") + '\0' + '\0' +
                           "\x0c"
                           "CNetworkPort" +
                           std::string("\x01\x00\x00\x00", 4) +
                           "\x0c"
                           "192.168.0.50" +
                           std::string("\xd5\x17\x00\x00", 4);
    EXPECT_EQ(out.Buffer(), bytesOf(expected));

    CVarkoPrinter loaded;
    CArchive in(out.Buffer());
    loaded.Serialize(in);
    EXPECT_EQ(in.Remaining(), 0u);
    EXPECT_EQ(loaded.Name(), "Printer#1");
    EXPECT_TRUE(loaded.m_bCalibrate);
    ASSERT_NE(loaded.GetPort(), nullptr);
    EXPECT_TRUE(loaded.GetPort()->IsKindOf(RUNTIME_CLASS(CNetworkPort)));
    EXPECT_EQ(loaded.Port(), "192.168.0.50");
    EXPECT_EQ(static_cast<CNetworkPort*>(loaded.GetPort())->m_tcpPort, 6101u);
    EXPECT_FALSE(loaded.GetPort()->IsOpen());
}

TEST(LivePrinterRecord, OnlyOneMeansCalibrateAndUnknownTagsAreADamagedFile)
{
    auto record = [](const char* tag, std::uint8_t flag)
    {
        std::string b =
            std::string("\x01P") + '\0' + '\0' + static_cast<char>(std::strlen(tag)) + tag;
        b += std::string(1, static_cast<char>(flag)) + std::string(3, '\0');
        b += "\x08\\\\.\\LPT1\x04LPT1";
        return bytesOf(b);
    };
    for (std::uint8_t flag : {0, 2, 0xFF})
    {
        CVarkoPrinter p;
        CArchive in(record("CParallelPort", flag));
        p.Serialize(in);
        EXPECT_FALSE(p.m_bCalibrate) << int(flag);
        EXPECT_EQ(p.Port(), "LPT1");
    }
    // Another spelling is not one of the four kinds: a damaged file, not a missing port.
    CVarkoPrinter odd;
    CArchive in(record("CSerialport", 1));
    EXPECT_THROW(odd.Serialize(in), CArchiveException);
    EXPECT_EQ(odd.GetPort(), nullptr);
}

TEST(LivePrinterCopy, WorkingCopyHasTheSettingsAndItsOwnNumber)
{
    CVarkoPrinter original;
    EXPECT_EQ(original.Name(), "Printer#1");
    auto* port = new CSerialPort;
    port->SetPortName("COM3");
    port->SetSettings(19200, 7, 2, 2, 1);
    original.SetPort(port);
    original.Model("RX4");
    original.m_bCalibrate = true;
    {
        CVarkoPrinter copy(original);
        EXPECT_EQ(copy.Name(), "Printer#1");
        EXPECT_EQ(copy.Model(), "RX4");
        EXPECT_TRUE(copy.m_bCalibrate);
        ASSERT_NE(copy.GetPort(), nullptr);
        EXPECT_NE(copy.GetPort(), original.GetPort());
        EXPECT_TRUE(copy.GetPort()->IsKindOf(RUNTIME_CLASS(CSerialPort)));
        int baud, data, parity, stop, flow;
        static_cast<CSerialPort*>(copy.GetPort())->GetSettings(baud, data, parity, stop, flow);
        EXPECT_EQ(baud, 19200);
        EXPECT_EQ(data, 7);
        EXPECT_EQ(parity, 2);
        EXPECT_EQ(stop, 2);
        EXPECT_EQ(flow, 1);
        EXPECT_EQ(copy.Port(), "COM3");
    }
    // The copy gave its number back.
    EXPECT_EQ(CVarkoPrinter().Name(), "Printer#2");

    CVarkoPrinter portless;
    CVarkoPrinter copy(portless);
    EXPECT_EQ(copy.GetPort(), nullptr);
}

TEST(AttachPort, NamesThePrinterAndTestsThePortOnce)
{
    // LPT1 is whatever the device-override folder says; here a device that always opens.
    std::string dir = std::getenv("VARKO_DEVICE_DIR");
    std::filesystem::create_directories(dir);
    std::filesystem::remove(dir + "/LPT1");
    std::filesystem::create_symlink("/dev/null", dir + "/LPT1");
    porttest::NullAsPrinterNode lp(6);

    CVarkoPrinter p;
    EXPECT_TRUE(p.AttachPort(RUNTIME_CLASS(CParallelPort), "LPT1", ""));
    EXPECT_EQ(p.Name(), "Printer#1");
    EXPECT_EQ(p.Port(), "LPT1");
    EXPECT_FALSE(p.GetPort()->IsOpen());

    CVarkoPrinter named;
    try
    {
        // Nothing is listening on this loopback port in the test environment.
        named.AttachPort(RUNTIME_CLASS(CNetworkPort), "127.77.0.1", "Lobby");
    }
    catch (const CVarkoPrinterException& e)
    {
        EXPECT_EQ(e.GetErrorCode(), 7u);
    }
    EXPECT_EQ(named.Name(), "Lobby");
    ASSERT_NE(named.GetPort(), nullptr);
    EXPECT_FALSE(named.GetPort()->IsOpen());
}
