#include "CComboBox.h"
#include "CIPAddressCtrl.h"
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CPrinterConfigureDlg.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinter.h"
#include "DialogTestSupport.h"
#include "ScriptedModalRunner.h"
#include "ScriptedPrompt.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <array>

// The machine this binary sees has COM1, COM3, COM10, LPT1 and LPT2.
static const bool s_env = RegisterDialogTestEnvironment({"COM1", "COM3", "COM10", "LPT1", "LPT2"});

namespace
{
CPrinterConfigureDlg& Dlg(IModalDialog& d)
{
    return dynamic_cast<CPrinterConfigureDlg&>(d);
}

QString Address(QWidget* dlg)
{
    auto* ip = Control<CIPAddressCtrl>(dlg, "IDC_IP_ADDRESS");
    QStringList f;
    for (int n = 0; n < 4; ++n)
        f << ip->Field(n)->text();
    return f.join('.');
}

// Which of the port controls are visible.
QStringList Visible(QWidget* dlg)
{
    QStringList v;
    for (const char* name :
         {"IDC_PORT_SETTINGS", "IDC_SERIAL_PORT", "IDC_PORT_LABEL", "IDC_PARALLEL_PORT",
          "IDC_IP_ADDRESS", "IDC_TCP_PORT", "IDC_ADDRESS_LABEL", "IDC_SPARE_PORT", "IDC_CALIBRATE"})
        if (Control<QWidget>(dlg, name)->isVisible())
            v << name;
    return v;
}

std::array<int, 5> Settings(const CPortBase* port)
{
    std::array<int, 5> s{};
    auto* serial = dynamic_cast<const CSerialPort*>(port);
    EXPECT_NE(serial, nullptr);
    if (serial)
        serial->GetSettings(s[0], s[1], s[2], s[3], s[4]);
    return s;
}

class PrinterConfigureDlgTest : public ::testing::Test
{
protected:
    // Runs the dialog on printer and returns the result; the edited copy is kept.
    int Run(EConfigFlags flags = eConfigNone)
    {
        dlg = std::make_unique<CPrinterConfigureDlg>(printer, flags);
        return dlg->DoModal();
    }
    const CVarkoPrinter& Edited() const { return dlg->GetEditedPrinter(); }
    // Gives printer a new port of this kind under name; printer owns it.
    template <typename Port> Port* GivePort(const char* name)
    {
        auto* port = new Port;
        port->SetPortName(name);
        printer.SetPort(port);
        return port;
    }

    CScriptedModalRunner runner;
    ScriptedPrompt prompt;
    CVarkoPrinter printer;
    std::unique_ptr<CPrinterConfigureDlg> dlg;
};
} // namespace

TEST_F(PrinterConfigureDlgTest, TemplateTextsAndTabOrder)
{
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            EXPECT_EQ(d.GetTemplateId(), 3000u);
            EXPECT_EQ(w->windowTitle(), "Printer Settings");
            EXPECT_EQ(Control<QPushButton>(w, "IDOK")->text(), "OK");
            EXPECT_TRUE(Control<QPushButton>(w, "IDOK")->isDefault());
            EXPECT_EQ(Control<QPushButton>(w, "IDCANCEL")->text(), "Cancel");
            EXPECT_EQ(Control<QPushButton>(w, "IDC_PORT_SETTINGS")->text(), "Port Settings");
            EXPECT_EQ(Control<QCheckBox>(w, "IDC_CALIBRATE")->text(),
                      "Printer Calibration after download: (RLX Only)");
            EXPECT_EQ(Control<QLabel>(w, "IDC_PORT_LABEL")->text(), "Port:");
            EXPECT_EQ(Control<QLabel>(w, "IDC_ADDRESS_LABEL")->text(), "TCP/IP Address:");
            EXPECT_EQ(Control<QLabel>(w, "IDC_STATIC_COMM_TYPE")->text(), "Communication Type:");
            EXPECT_EQ(Control<QLabel>(w, "IDC_STATIC_PRINTER_NAME")->text(), "Printer Name:");
            EXPECT_EQ(Control<QLabel>(w, "IDC_STATIC_PRINTER_MODEL")->text(), "Printer Model:");
            EXPECT_EQ(Dlg(d).GetDlgItem(3005), Control<QWidget>(w, "IDC_TCP_PORT"));

            // All controls take part while visible; make them so for the walk.
            for (const char* name :
                 {"IDC_IP_ADDRESS", "IDC_TCP_PORT", "IDC_PARALLEL_PORT", "IDC_SPARE_PORT"})
                Control<QWidget>(w, name)->show();
            QStringList order = TabOrder(w, Control<QWidget>(w, "IDOK"), 13);
            EXPECT_EQ(order, QStringList({"IDOK", "IDCANCEL", "IDC_COMM_TYPE", "IDC_SERIAL_PORT",
                                          "IDC_IP_ADDRESS", "IDC_TCP_PORT", "IDC_PARALLEL_PORT",
                                          "IDC_PRINTER_NAME", "IDC_PORT_SETTINGS", "IDC_SPARE_PORT",
                                          "IDC_CALIBRATE", "IDC_PRINTER_MODEL", "IDOK"}));
            return IDCANCEL;
        });
    EXPECT_EQ(Run(), IDCANCEL);
}

TEST_F(PrinterConfigureDlgTest, NewPrinterStartsSerialOnTheFirstPortInSortedOrder)
{
    printer.SetName("Line 1");
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            auto* type = Control<CComboBox>(w, "IDC_COMM_TYPE");
            EXPECT_EQ(Texts(type), QStringList({"Network", "Parallel", "Serial"}));
            // Codes travel as item data, not positions.
            EXPECT_EQ(type->GetItemData(0), 3);
            EXPECT_EQ(type->GetItemData(1), 1);
            EXPECT_EQ(type->GetItemData(2), 0);
            EXPECT_EQ(type->currentText(), "Serial");
            auto* serial = Control<QComboBox>(w, "IDC_SERIAL_PORT");
            EXPECT_EQ(Texts(serial), QStringList({"COM1", "COM10", "COM3"}));
            EXPECT_EQ(serial->currentText(), "COM1");
            EXPECT_EQ(Texts(Control<QComboBox>(w, "IDC_PARALLEL_PORT")),
                      QStringList({"LPT1", "LPT2"}));
            EXPECT_EQ(Visible(w), QStringList({"IDC_PORT_SETTINGS", "IDC_SERIAL_PORT",
                                               "IDC_PORT_LABEL", "IDC_CALIBRATE"}));
            EXPECT_EQ(Control<QLineEdit>(w, "IDC_PRINTER_NAME")->text(), "Line 1");
            // The first control of the tab order has the focus on opening.
            EXPECT_EQ(w->focusWidget(), Control<QWidget>(w, "IDOK"));
            return IDOK;
        });
    EXPECT_EQ(Run(), IDOK);
    ASSERT_NE(dynamic_cast<CSerialPort*>(Edited().GetPort()), nullptr);
    EXPECT_EQ(Edited().GetPort()->PortName(), "COM1");
    EXPECT_EQ(Edited().Name(), "Line 1");
    EXPECT_EQ(printer.GetPort(), nullptr);
}

TEST_F(PrinterConfigureDlgTest, SerialAndParallelPortsAreFoundByNameNotPosition)
{
    auto* com3 = new CSerialPort;
    com3->SetPortName("com3");
    com3->SetSettings(19200, 7, 2, 2, 1);
    printer.SetPort(com3);
    runner.Expect(
        [](IModalDialog& d)
        {
            EXPECT_EQ(Control<QComboBox>(W(d), "IDC_SERIAL_PORT")->currentText(), "COM3");
            return IDOK;
        });
    EXPECT_EQ(Run(), IDOK);
    EXPECT_EQ(Edited().GetPort()->PortName(), "COM3");
    // The line settings travel with the working copy.
    EXPECT_EQ(Settings(Edited().GetPort()), (std::array<int, 5>{19200, 7, 2, 2, 1}));

    GivePort<CParallelPort>("LPT2");
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            EXPECT_EQ(Control<QComboBox>(w, "IDC_COMM_TYPE")->currentText(), "Parallel");
            EXPECT_EQ(Control<QComboBox>(w, "IDC_PARALLEL_PORT")->currentText(), "LPT2");
            EXPECT_EQ(Visible(w),
                      QStringList({"IDC_PORT_LABEL", "IDC_PARALLEL_PORT", "IDC_CALIBRATE"}));
            return IDOK;
        });
    EXPECT_EQ(Run(), IDOK);
    EXPECT_EQ(Edited().GetPort()->PortName(), "LPT2");
}

TEST_F(PrinterConfigureDlgTest, EachTypeShowsItsControlsAndFocusesItsPortChoice)
{
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            Choose(w, "IDC_COMM_TYPE", "Parallel");
            EXPECT_EQ(Visible(w),
                      QStringList({"IDC_PORT_LABEL", "IDC_PARALLEL_PORT", "IDC_CALIBRATE"}));
            EXPECT_EQ(w->focusWidget(), Control<QWidget>(w, "IDC_PARALLEL_PORT"));
            EXPECT_EQ(Control<QComboBox>(w, "IDC_PARALLEL_PORT")->currentText(), "LPT1");

            Choose(w, "IDC_COMM_TYPE", "Network");
            EXPECT_EQ(Visible(w), QStringList({"IDC_PORT_LABEL", "IDC_IP_ADDRESS", "IDC_TCP_PORT",
                                               "IDC_ADDRESS_LABEL", "IDC_CALIBRATE"}));
            EXPECT_EQ(w->focusWidget(), Control<CIPAddressCtrl>(w, "IDC_IP_ADDRESS")->Field(0));

            Choose(w, "IDC_COMM_TYPE", "Serial");
            EXPECT_EQ(Visible(w), QStringList({"IDC_PORT_SETTINGS", "IDC_SERIAL_PORT",
                                               "IDC_PORT_LABEL", "IDC_CALIBRATE"}));
            EXPECT_EQ(w->focusWidget(), Control<QWidget>(w, "IDC_SERIAL_PORT"));
            EXPECT_TRUE(Control<QWidget>(w, "IDC_COMM_TYPE")->isEnabled());
            return IDCANCEL;
        });
    EXPECT_EQ(Run(), IDCANCEL);
}

TEST_F(PrinterConfigureDlgTest, SwitchingTypeStartsAFreshPortWithDefaults)
{
    auto* com3 = GivePort<CSerialPort>("COM3");
    // Port Settings first (its own script follows the main one), then Network.
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            Control<QPushButton>(w, "IDC_PORT_SETTINGS")->click();
            EXPECT_EQ(Settings(Dlg(d).GetEditedPrinter().GetPort())[0], 19200);

            Choose(w, "IDC_COMM_TYPE", "Network");
            EXPECT_EQ(Address(w), "0.0.0.0");
            EXPECT_EQ(Control<QLineEdit>(w, "IDC_TCP_PORT")->text(), "9100");
            EXPECT_NE(dynamic_cast<CNetworkPort*>(Dlg(d).GetEditedPrinter().GetPort()), nullptr);

            // Back to serial: the settings made before are gone with the old port.
            Choose(w, "IDC_COMM_TYPE", "Serial");
            EXPECT_EQ(Settings(Dlg(d).GetEditedPrinter().GetPort()),
                      (std::array<int, 5>{9600, 8, 0, 0, 2}));
            EXPECT_EQ(Control<QComboBox>(w, "IDC_SERIAL_PORT")->currentText(), "COM1");
            return IDOK;
        });
    runner.Expect(
        [](IModalDialog& d)
        {
            EXPECT_EQ(d.GetTemplateId(), 3001u);
            Choose(W(d), "IDC_BAUD_RATE", "19200");
            return IDOK;
        });
    EXPECT_EQ(Run(), IDOK);
    EXPECT_EQ(runner.PendingScripts(), 0);
    EXPECT_EQ(Edited().GetPort()->PortName(), "COM1");
    // The printer itself still has its own port, untouched.
    EXPECT_EQ(printer.GetPort(), com3);
    EXPECT_EQ(Settings(com3)[0], 9600);
}

TEST_F(PrinterConfigureDlgTest, NetworkAddressAndTcpPortRoundTrip)
{
    auto* net = new CNetworkPort;
    net->SetIPAddress(192, 168, 0, 50);
    net->m_tcpPort = 6101;
    printer.SetPort(net);
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            EXPECT_EQ(Control<QComboBox>(w, "IDC_COMM_TYPE")->currentText(), "Network");
            EXPECT_EQ(Address(w), "192.168.0.50");
            EXPECT_EQ(Control<QLineEdit>(w, "IDC_TCP_PORT")->text(), "6101");
            Control<CIPAddressCtrl>(w, "IDC_IP_ADDRESS")->SetAddress(10, 0, 0, 254);
            Type(w, "IDC_TCP_PORT", "9101");
            return IDOK;
        });
    EXPECT_EQ(Run(), IDOK);
    auto* edited = dynamic_cast<CNetworkPort*>(Edited().GetPort());
    ASSERT_NE(edited, nullptr);
    EXPECT_EQ(edited->PortName(), "10.0.0.254");
    EXPECT_EQ(edited->m_tcpPort, 9101u);
    EXPECT_EQ(net->PortName(), "192.168.0.50");
}

TEST_F(PrinterConfigureDlgTest, TcpPortOutsideTheRangeKeepsTheDialogOpen)
{
    printer.SetPort(new CNetworkPort);
    runner.Expect({[](IModalDialog& d)
                   {
                       Type(W(d), "IDC_TCP_PORT", "70000");
                       return IDOK;
                   },
                   [this](IModalDialog& d)
                   {
                       // One message per press, and the field is the one to fix.
                       EXPECT_EQ(
                           prompt.Texts(),
                           std::vector<CString>{"Please enter an integer between 0 and 65535."});
                       EXPECT_EQ(W(d)->focusWidget(), Control<QWidget>(W(d), "IDC_TCP_PORT"));
                       Type(W(d), "IDC_TCP_PORT", "91x");
                       return IDOK;
                   },
                   [this](IModalDialog& d)
                   {
                       EXPECT_EQ(prompt.Texts().size(), 2u);
                       EXPECT_EQ(prompt.Texts().back(), "Please enter an integer.");
                       Type(W(d), "IDC_TCP_PORT", "-1");
                       return IDOK;
                   },
                   [](IModalDialog& d)
                   {
                       Type(W(d), "IDC_TCP_PORT", " 65535 ");
                       return IDOK;
                   }});
    EXPECT_EQ(Run(), IDOK);
    EXPECT_EQ(runner.Records().back().rejectedOK, 3);
    EXPECT_EQ(prompt.Texts().size(), 3u);
    EXPECT_EQ(dynamic_cast<CNetworkPort*>(Edited().GetPort())->m_tcpPort, 65535u);
}

TEST_F(PrinterConfigureDlgTest, OkWithoutAPortAsksForOneAndStaysOpen)
{
    // COM7 is not on this machine: nothing is selected after loading.
    auto* com7 = GivePort<CSerialPort>("COM7");
    runner.Expect({[](IModalDialog& d)
                   {
                       EXPECT_EQ(Control<QComboBox>(W(d), "IDC_SERIAL_PORT")->currentIndex(), -1);
                       return IDOK;
                   },
                   [this](IModalDialog& d)
                   {
                       EXPECT_EQ(prompt.Texts(), std::vector<CString>{"Please select a port."});
                       Choose(W(d), "IDC_SERIAL_PORT", "COM10");
                       return IDOK;
                   }});
    EXPECT_EQ(Run(), IDOK);
    EXPECT_EQ(runner.Records().back().rejectedOK, 1);
    EXPECT_EQ(Edited().GetPort()->PortName(), "COM10");
    EXPECT_EQ(com7->PortName(), "COM7");
}

TEST_F(PrinterConfigureDlgTest, UsbPrinterKeepsItsTypeAndNeedsNoPortChoice)
{
    GivePort<CUSBPort>("/dev/usb/lp0");
    printer.Model("RLX 400");
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            auto* type = Control<CComboBox>(w, "IDC_COMM_TYPE");
            EXPECT_EQ(Texts(type), QStringList({"Network", "Parallel", "Serial", "USB"}));
            EXPECT_EQ(type->currentText(), "USB");
            EXPECT_EQ(type->GetItemData(type->GetCurSel()), 2);
            EXPECT_FALSE(type->isEnabled());
            EXPECT_EQ(Visible(w), QStringList({"IDC_CALIBRATE"}));
            EXPECT_EQ(Control<QLineEdit>(w, "IDC_PRINTER_MODEL")->text(), "RLX 400");
            Type(w, "IDC_PRINTER_NAME", "Shipping");
            Type(w, "IDC_PRINTER_MODEL", "RLX 410");
            Control<QCheckBox>(w, "IDC_CALIBRATE")->setChecked(true);
            return IDOK;
        });
    EXPECT_EQ(Run(), IDOK);
    EXPECT_EQ(Edited().GetPort()->PortName(), "/dev/usb/lp0");
    EXPECT_EQ(Edited().Name(), "Shipping");
    EXPECT_EQ(const_cast<CVarkoPrinter&>(Edited()).Model(), "RLX 410");
    EXPECT_TRUE(Edited().m_bCalibrate);
    EXPECT_TRUE(prompt.Records().empty());
}

TEST_F(PrinterConfigureDlgTest, HideCalibrationFlagHidesTheBoxForEveryType)
{
    printer.m_bCalibrate = true;
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            EXPECT_FALSE(Visible(w).contains("IDC_CALIBRATE"));
            for (const char* type : {"Network", "Parallel", "Serial"})
            {
                Choose(w, "IDC_COMM_TYPE", type);
                EXPECT_FALSE(Visible(w).contains("IDC_CALIBRATE")) << type;
            }
            return IDOK;
        });
    EXPECT_EQ(Run(eConfigHideCalibration), IDOK);
    // Hidden is not cleared: the stored flag comes back as it was.
    EXPECT_TRUE(Edited().m_bCalibrate);
}

TEST_F(PrinterConfigureDlgTest, TypedTextsSurviveATypeChange)
{
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            Type(w, "IDC_PRINTER_NAME", "Dock 4");
            Choose(w, "IDC_COMM_TYPE", "Network");
            // A bad TCP port of the old type is not worth a message when leaving it.
            Type(w, "IDC_TCP_PORT", "abc");
            Choose(w, "IDC_COMM_TYPE", "Parallel");
            EXPECT_EQ(Control<QLineEdit>(w, "IDC_PRINTER_NAME")->text(), "Dock 4");
            return IDOK;
        });
    EXPECT_EQ(Run(), IDOK);
    EXPECT_TRUE(prompt.Records().empty());
    EXPECT_EQ(Edited().Name(), "Dock 4");
    EXPECT_NE(dynamic_cast<CParallelPort*>(Edited().GetPort()), nullptr);
    EXPECT_EQ(Edited().GetPort()->PortName(), "LPT1");
}
