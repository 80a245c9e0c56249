// The collection's access for callers without the configuration dialog (added for the
// command-line tool): adding a printer from plain settings must apply the dialog's
// checks and leave the collection untouched when refused, and reading the settings
// back must never talk to a printer.
#include "CArchive.h"
#include "CPrinterSettings.h"
#include "CVarkoPrinterData.h"
#include "CVarkoPrinterException.h"
#include "CVarkoPrinters.h"
#include "ScriptedPrompt.h"

#include <gtest/gtest.h>

#include <functional>

namespace
{
CPrinterSettings Serial(const char* name, const char* com)
{
    CPrinterSettings s;
    s.name = name;
    s.portClass = "CSerialPort";
    s.portName = com;
    return s;
}

DWORD CodeOf(const std::function<void()>& f)
{
    try
    {
        f();
    }
    catch (const CVarkoPrinterException& e)
    {
        return e.GetErrorCode();
    }
    return 0;
}
} // namespace

TEST(PrinterSettingsAccess, AddAppliesTheDialogChecksAndRefusesWithoutChange)
{
    ScriptedPrompt prompt;
    CVarkoPrinters printers;
    ASSERT_EQ(printers.AddPrinter(nullptr, Serial("Dock", "COM3")), 0u);
    EXPECT_TRUE(printers.IsModified());
    printers.SetModified(FALSE);

    EXPECT_EQ(printers.AddPrinter(nullptr, Serial("Dock", "COM4")), 33215u);
    EXPECT_EQ(printers.AddPrinter(nullptr, Serial("Other", "com3")), 33216u);
    // The name is looked at first.
    EXPECT_EQ(printers.AddPrinter(nullptr, Serial("Dock", "COM3")), 33215u);

    CPrinterSettings bad = Serial("Fast", "COM5");
    bad.baudRate = 9601;
    EXPECT_EQ(CodeOf([&] { printers.AddPrinter(nullptr, bad); }), 1u);
    bad = Serial("Fast", "COM5");
    bad.flowControl = 0;
    EXPECT_EQ(CodeOf([&] { printers.AddPrinter(nullptr, bad); }), 5u);
    for (const char* cls : {"CPortBase", "CFooPort", "", "CVarkoPrinterException"})
    {
        CPrinterSettings s = Serial("X", "COM6");
        s.portClass = cls;
        EXPECT_EQ(CodeOf([&] { printers.AddPrinter(nullptr, s); }), 7u) << cls;
    }
    EXPECT_EQ(printers.GetPrinterCount(), 1);
    EXPECT_FALSE(printers.IsModified());
    EXPECT_TRUE(prompt.Records().empty()); // refusals are returned, not shown
}

TEST(PrinterSettingsAccess, SettingsSurviveTheFileAndAreReadWithoutTraffic)
{
    ScriptedPrompt prompt;
    std::vector<std::uint8_t> bytes;
    {
        CVarkoPrinters printers;
        CPrinterSettings slow = Serial("Slow", "COM7");
        slow.baudRate = 19200;
        slow.dataBits = 7;
        slow.parity = 2;
        slow.stopBits = 2;
        slow.flowControl = 1;
        slow.calibrate = true;
        slow.model = "RX400";
        ASSERT_EQ(printers.AddPrinter(nullptr, slow), 0u);
        CPrinterSettings net;
        net.name = "North";
        net.portClass = "CNetworkPort";
        net.portName = "127.0.0.9";
        net.tcpPort = 6101;
        ASSERT_EQ(printers.AddPrinter(nullptr, net), 0u);
        // A USB printer without a stored model: reading its settings must not ask the
        // (absent) device for one.
        CPrinterSettings usb;
        usb.portClass = "CUSBPort";
        usb.portName = "/nonexistent/usb/lp9";
        ASSERT_EQ(printers.AddPrinter(nullptr, usb), 0u);
        bytes = printers.SaveToBytes();
    }
    CVarkoPrinters loaded;
    CArchive ar(bytes);
    loaded.Serialize(ar, nullptr);
    ASSERT_EQ(loaded.GetPrinterCount(), 3);

    CPrinterSettings s = loaded.GetPrinterSettings(loaded.FindPrinter("Slow"));
    EXPECT_EQ(s.portClass, "CSerialPort");
    EXPECT_EQ(s.portName, "COM7");
    EXPECT_EQ(s.devicePath, "\\\\.\\COM7");
    EXPECT_EQ(s.model, "RX400");
    EXPECT_TRUE(s.calibrate);
    EXPECT_EQ(s.baudRate, 19200);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.parity, 2);
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_EQ(s.flowControl, 1);

    s = loaded.GetPrinterSettings(loaded.FindPrinter("North"));
    EXPECT_EQ(s.portClass, "CNetworkPort");
    EXPECT_EQ(s.portName, "127.0.0.9");
    EXPECT_EQ(s.tcpPort, 6101u);
    EXPECT_FALSE(s.calibrate);

    POSITION pos = loaded.GetFirstPrinter();
    loaded.GetNextPrinter(pos);
    loaded.GetNextPrinter(pos);
    CVarkoPrinterData* usb = loaded.GetNextPrinter(pos);
    s = loaded.GetPrinterSettings(usb);
    EXPECT_EQ(s.name.Left(8), "Printer#"); // an empty name keeps the default one
    EXPECT_EQ(s.portClass, "CUSBPort");
    EXPECT_EQ(s.devicePath, "/nonexistent/usb/lp9");
    EXPECT_EQ(s.model, "");
    EXPECT_TRUE(prompt.Records().empty());

    EXPECT_EQ(CodeOf([&] { loaded.GetPrinterSettings(nullptr); }), 6u);
}

TEST(PrinterSettingsAccess, CalibrateFlagMarksTheCollectionOnlyWhenItChanges)
{
    ScriptedPrompt prompt;
    CVarkoPrinters printers;
    ASSERT_EQ(printers.AddPrinter(nullptr, Serial("Dock", "COM3")), 0u);
    printers.SetModified(FALSE);
    CVarkoPrinterData* dock = printers.FindPrinter("Dock");
    printers.SetCalibrate(dock, false);
    EXPECT_FALSE(printers.IsModified());
    printers.SetCalibrate(dock, true);
    EXPECT_TRUE(printers.IsModified());
    EXPECT_TRUE(printers.GetPrinterSettings(dock).calibrate);
    EXPECT_EQ(CodeOf([&] { printers.SetCalibrate(nullptr, true); }), 6u);
}
