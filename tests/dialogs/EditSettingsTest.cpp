// The live printer through the real dialog: OK hands the edited copy back, Cancel and
// a refused OK leave the printer exactly as it was.
#include "CIPAddressCtrl.h"
#include "CNetworkPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinter.h"
#include "DialogTestSupport.h"
#include "ScriptedModalRunner.h"
#include "ScriptedPrompt.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <array>

namespace
{
std::array<int, 5> Settings(const CPortBase* port)
{
    std::array<int, 5> s{};
    if (auto* serial = dynamic_cast<const CSerialPort*>(port))
        serial->GetSettings(s[0], s[1], s[2], s[3], s[4]);
    return s;
}

class EditSettingsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        printer.SetName("Dock 1");
        printer.Model("RLX 400");
        auto* com3 = new CSerialPort;
        com3->SetPortName("COM3");
        com3->SetSettings(19200, 7, 2, 2, 2);
        printer.SetPort(com3);
    }

    // Everything a user can change, on every control.
    static int ChangeEverything(IModalDialog& d)
    {
        QWidget* w = W(d);
        Type(w, "IDC_PRINTER_NAME", "Dock 2");
        Type(w, "IDC_PRINTER_MODEL", "RLX 500");
        Control<QCheckBox>(w, "IDC_CALIBRATE")->setChecked(true);
        Choose(w, "IDC_COMM_TYPE", "Network");
        Control<CIPAddressCtrl>(w, "IDC_IP_ADDRESS")->SetAddress(127, 0, 0, 9);
        Type(w, "IDC_TCP_PORT", "9101");
        return 0;
    }

    void ExpectUntouched(const CPortBase* originalPort)
    {
        EXPECT_EQ(printer.Name(), "Dock 1");
        EXPECT_EQ(printer.Model(), "RLX 400");
        EXPECT_FALSE(printer.m_bCalibrate);
        EXPECT_EQ(printer.GetPort(), originalPort);
        EXPECT_EQ(printer.GetPort()->PortName(), "COM3");
        EXPECT_EQ(Settings(printer.GetPort()), (std::array<int, 5>{19200, 7, 2, 2, 2}));
    }

    CScriptedModalRunner runner;
    ScriptedPrompt prompt;
    CVarkoPrinter printer;
};
} // namespace

TEST_F(EditSettingsTest, OkAppliesTheEditedPrinter)
{
    runner.Expect({ChangeEverything, [](IModalDialog&) { return IDOK; }});
    EXPECT_TRUE(printer.EditSettings(eConfigNone));
    EXPECT_EQ(printer.Name(), "Dock 2");
    EXPECT_EQ(printer.Model(), "RLX 500");
    EXPECT_TRUE(printer.m_bCalibrate);
    auto* net = dynamic_cast<CNetworkPort*>(printer.GetPort());
    ASSERT_NE(net, nullptr);
    EXPECT_EQ(net->PortName(), "127.0.0.9");
    EXPECT_EQ(net->m_tcpPort, 9101u);
    EXPECT_FALSE(net->IsOpen());
    EXPECT_EQ(printer.GetThread(), nullptr);
}

TEST_F(EditSettingsTest, OkOnTheSameTypeTakesTheNewPortSettings)
{
    runner.Expect(
        [](IModalDialog& d)
        {
            Control<QPushButton>(W(d), "IDC_PORT_SETTINGS")->click();
            Choose(W(d), "IDC_SERIAL_PORT", "COM10");
            return IDOK;
        });
    runner.Expect(
        [](IModalDialog& d)
        {
            Choose(W(d), "IDC_PARITY", "Odd");
            Choose(W(d), "IDC_FLOW_CONTROL", "Xon / Xoff");
            return IDOK;
        });
    EXPECT_TRUE(printer.EditSettings(eConfigHideCalibration));
    // A port of the same class carries the edited settings. (Whether it is a new object
    // cannot be told from its address: an allocator may hand the old one's out again.)
    ASSERT_NE(dynamic_cast<CSerialPort*>(printer.GetPort()), nullptr);
    EXPECT_EQ(printer.GetPort()->PortName(), "COM10");
    EXPECT_EQ(Settings(printer.GetPort()), (std::array<int, 5>{19200, 7, 1, 2, 1}));
    EXPECT_EQ(printer.Name(), "Dock 1");
}

TEST_F(EditSettingsTest, CancelAfterChangingEverythingLeavesThePrinterAlone)
{
    const CPortBase* before = printer.GetPort();
    runner.Expect({ChangeEverything, [](IModalDialog&) { return IDCANCEL; }});
    EXPECT_FALSE(printer.EditSettings(eConfigNone));
    ExpectUntouched(before);
}

TEST_F(EditSettingsTest, SerialSettingsConfirmedInsideACancelledDialogAreDropped)
{
    const CPortBase* before = printer.GetPort();
    runner.Expect(
        [](IModalDialog& d)
        {
            Control<QPushButton>(W(d), "IDC_PORT_SETTINGS")->click();
            return IDCANCEL;
        });
    runner.Expect(
        [](IModalDialog& d)
        {
            Control<QPushButton>(W(d), "IDC_RESTORE_DEFAULTS")->click();
            return IDOK;
        });
    EXPECT_FALSE(printer.EditSettings(eConfigNone));
    ExpectUntouched(before);
}

TEST_F(EditSettingsTest, RefusedOkThenCloseLeavesThePrinterAlone)
{
    const CPortBase* before = printer.GetPort();
    runner.Expect({ChangeEverything, [](IModalDialog& d)
                   {
                       Type(W(d), "IDC_TCP_PORT", "70000");
                       return IDOK;
                   }});
    EXPECT_FALSE(printer.EditSettings(eConfigNone));
    EXPECT_EQ(prompt.Texts().size(), 1u);
    ExpectUntouched(before);
}

TEST(AssignFromTest, TakesNameModelPortAndFlagFromTheEditedCopy)
{
    CVarkoPrinter live;
    live.SetName("Old");
    live.Model("M1");
    live.SetPort(new CUSBPort);
    CVarkoPrinter edited(live);
    edited.SetName("New");
    edited.Model("M2");
    edited.m_bCalibrate = true;
    auto* net = new CNetworkPort;
    net->SetIPAddress(127, 0, 0, 3);
    net->m_tcpPort = 6101;
    edited.SetPort(net);

    live.AssignFrom(edited);
    EXPECT_EQ(live.Name(), "New");
    EXPECT_EQ(live.Model(), "M2");
    EXPECT_TRUE(live.m_bCalibrate);
    auto* port = dynamic_cast<CNetworkPort*>(live.GetPort());
    ASSERT_NE(port, nullptr);
    EXPECT_NE(port, net);
    EXPECT_EQ(port->PortName(), "127.0.0.3");
    EXPECT_EQ(port->m_tcpPort, 6101u);
}

TEST(AssignFromTest, AnEditedCopyWithoutAPortLeavesThePrinterWithout)
{
    CVarkoPrinter live;
    live.SetPort(new CSerialPort);
    CVarkoPrinter edited;
    edited.SetName("Bare");
    live.AssignFrom(edited);
    EXPECT_EQ(live.GetPort(), nullptr);
    EXPECT_EQ(live.Name(), "Bare");
}
