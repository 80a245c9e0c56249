// A machine where the printer's port has gone: only COM10 and COM11 exist, and no
// parallel port at all.
#include "CComboBox.h"
#include "CIPAddressCtrl.h"
#include "CParallelPort.h"
#include "CPrinterConfigureDlg.h"
#include "CSerialPort.h"
#include "CVarkoPrinter.h"
#include "DialogTestSupport.h"
#include "ScriptedModalRunner.h"
#include "ScriptedPrompt.h"

#include <QLineEdit>
#include <QTest>

#include <array>
#include <string>

static const bool s_env = RegisterDialogTestEnvironment({"COM10", "COM11"});

TEST(PortPrefixTest, APortThatHasGoneSelectsTheFirstNameItBegins)
{
    CScriptedModalRunner runner;
    ScriptedPrompt prompt;
    CVarkoPrinter printer;
    auto* com1 = new CSerialPort;
    com1->SetPortName("COM1");
    printer.SetPort(com1);
    runner.Expect(
        [](IModalDialog& d)
        {
            EXPECT_EQ(Control<QComboBox>(W(d), "IDC_SERIAL_PORT")->currentText(), "COM10");
            return IDOK;
        });
    CPrinterConfigureDlg dlg(printer, eConfigHideCalibration);
    EXPECT_EQ(dlg.DoModal(), IDOK);
    // OK moves the printer to the port that was shown.
    EXPECT_EQ(dlg.GetEditedPrinter().GetPort()->PortName(), "COM10");
    EXPECT_TRUE(prompt.Records().empty());
}

TEST(PortPrefixTest, WithoutParallelPortsOkAsksForAPort)
{
    CScriptedModalRunner runner;
    ScriptedPrompt prompt;
    CVarkoPrinter printer;
    auto* lpt1 = new CParallelPort;
    lpt1->SetPortName("LPT1");
    printer.SetPort(lpt1);
    runner.Expect({[](IModalDialog& d)
                   {
                       auto* list = Control<QComboBox>(W(d), "IDC_PARALLEL_PORT");
                       EXPECT_EQ(list->count(), 0);
                       EXPECT_EQ(list->currentIndex(), -1);
                       return IDOK;
                   },
                   [](IModalDialog&) { return IDOK; }});
    CPrinterConfigureDlg dlg(printer, eConfigHideCalibration);
    // Both presses are refused; the user then closes the dialog.
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(runner.Records().back().rejectedOK, 2);
    EXPECT_EQ(prompt.Texts(),
              (std::vector<CString>{"Please select a port.", "Please select a port."}));
    EXPECT_EQ(lpt1->PortName(), "LPT1");
}

TEST(PortPrefixTest, FindStringIsACaseInsensitivePrefixSearchThatWraps)
{
    CComboBox list(true);
    for (const char* s : {"COM3", "com10", "COM1", "LPT1"})
        list.AddString(s);
    EXPECT_EQ(list.GetLBText(0), "COM1");
    EXPECT_EQ(list.GetLBText(1), "com10");
    EXPECT_EQ(list.GetLBText(3), "LPT1");
    EXPECT_EQ(list.GetCurSel(), -1);
    EXPECT_EQ(list.FindString(-1, "Com1"), 0);
    EXPECT_EQ(list.FindString(0, "COM1"), 1);
    EXPECT_EQ(list.FindString(1, "COM1"), 0); // wraps round
    EXPECT_EQ(list.FindString(-1, "COM4"), CComboBox::CB_ERR);
    EXPECT_EQ(list.SetCurSel(7), CComboBox::CB_ERR);
    EXPECT_EQ(list.GetCurSel(), -1);
}

TEST(PortPrefixTest, AddressControlTakesTypedDottedTextAcrossItsFields)
{
    CIPAddressCtrl ip;
    ip.show();
    BYTE a = 9, b = 9, c = 9, d = 9;
    EXPECT_TRUE(ip.IsBlank());
    EXPECT_EQ(ip.GetAddress(a, b, c, d), 0);
    EXPECT_EQ(a + b + c + d, 0);

    // Typed as a person would, each key going to the field that has the caret: the
    // dots and the full first field move it on.
    ip.SetFieldFocus(0);
    for (char ch : std::string("192168.1.20"))
        QTest::keyClick(ip.focusWidget(), ch);
    EXPECT_EQ(ip.Field(0)->text(), "192");
    EXPECT_EQ(ip.Field(1)->text(), "168");
    EXPECT_EQ(ip.Field(2)->text(), "1");
    EXPECT_EQ(ip.Field(3)->text(), "20");
    EXPECT_EQ(ip.GetAddress(a, b, c, d), 4);
    EXPECT_EQ((std::array<int, 4>{a, b, c, d}), (std::array<int, 4>{192, 168, 1, 20}));

    // A field holds a byte: more becomes 255.
    ip.Field(2)->clear();
    QTest::keyClicks(ip.Field(2), "300");
    EXPECT_EQ(ip.Field(2)->text(), "255");
    EXPECT_EQ(ip.GetAddress(a, b, c, d), 4);
    EXPECT_EQ(c, 255);
}
