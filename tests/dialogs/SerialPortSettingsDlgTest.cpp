#include "CComboBox.h"
#include "CSerialPort.h"
#include "CSerialPortSettingsDlg.h"
#include "DialogResources.h"
#include "DialogTestSupport.h"
#include "ScriptedModalRunner.h"
#include "ScriptedPrompt.h"

#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <array>

namespace
{
// Settings a settings file can hold but SetSettings would refuse.
class LoadedSerialPort : public CSerialPort
{
public:
    void ForceSettings(int baudRate, int flowControl)
    {
        m_baudRate = baudRate;
        m_flowControl = flowControl;
    }
};

std::array<int, 5> Settings(const CSerialPort& port)
{
    std::array<int, 5> s{};
    port.GetSettings(s[0], s[1], s[2], s[3], s[4]);
    return s;
}

struct Shown
{
    QString bps, data, parity, stop, flow;
};

Shown Selection(IModalDialog& d)
{
    return {Control<QComboBox>(W(d), "IDC_BAUD_RATE")->currentText(),
            Control<QComboBox>(W(d), "IDC_DATA_BITS")->currentText(),
            Control<QComboBox>(W(d), "IDC_PARITY")->currentText(),
            Control<QComboBox>(W(d), "IDC_STOP_BITS")->currentText(),
            Control<QComboBox>(W(d), "IDC_FLOW_CONTROL")->currentText()};
}

void ExpectShown(IModalDialog& d, const Shown& want)
{
    Shown s = Selection(d);
    EXPECT_EQ(s.bps, want.bps);
    EXPECT_EQ(s.data, want.data);
    EXPECT_EQ(s.parity, want.parity);
    EXPECT_EQ(s.stop, want.stop);
    EXPECT_EQ(s.flow, want.flow);
}

// A script step for a dialog that must open on the default speed with Xon / Xoff, the
// fallback for settings the lists do not hold (and for no port at all).
auto ShowsDefaultSpeedAndXonXoff(int answer)
{
    return [answer](IModalDialog& d)
    {
        Shown s = Selection(d);
        EXPECT_EQ(s.bps, "9600");
        EXPECT_EQ(s.flow, "Xon / Xoff");
        return answer;
    };
}

class SerialPortSettingsDlgTest : public ::testing::Test
{
protected:
    int Run(CSerialPort* port)
    {
        CSerialPortSettingsDlg dlg(port);
        return dlg.DoModal();
    }

    CScriptedModalRunner runner;
    ScriptedPrompt prompt;
};
} // namespace

TEST_F(SerialPortSettingsDlgTest, TemplateTextsListsAndTabOrder)
{
    CSerialPort port;
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            EXPECT_EQ(d.GetTemplateId(), 3001u);
            EXPECT_EQ(w->windowTitle(), "Port Settings");
            auto* tab = Control<QTabWidget>(w, "IDC_SETTINGS_TAB");
            EXPECT_EQ(tab->count(), 1);
            EXPECT_EQ(tab->tabText(0), "Port Settings");
            // Unsorted, in the template's order: the positions are what the dialog maps.
            EXPECT_EQ(
                Texts(Control<QComboBox>(w, "IDC_BAUD_RATE")),
                QStringList({"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                             "38400", "56000", "57600", "115200", "128000", "256000"}));
            EXPECT_EQ(Texts(Control<QComboBox>(w, "IDC_DATA_BITS")), QStringList({"7", "8"}));
            EXPECT_EQ(Texts(Control<QComboBox>(w, "IDC_PARITY")),
                      QStringList({"Even", "Odd", "None"}));
            EXPECT_EQ(Texts(Control<QComboBox>(w, "IDC_STOP_BITS")), QStringList({"1", "2"}));
            EXPECT_EQ(Texts(Control<QComboBox>(w, "IDC_FLOW_CONTROL")),
                      QStringList({"Xon / Xoff", "Hardware"}));
            EXPECT_EQ(Control<QPushButton>(w, "IDC_RESTORE_DEFAULTS")->text(), "&Restore Defaults");

            // Each label's mnemonic leads to its list.
            const std::pair<const char*, const char*> labels[] = {
                {"IDC_STATIC_BAUD_RATE", "IDC_BAUD_RATE"},
                {"IDC_STATIC_DATA_BITS", "IDC_DATA_BITS"},
                {"IDC_STATIC_PARITY", "IDC_PARITY"},
                {"IDC_STATIC_STOP_BITS", "IDC_STOP_BITS"},
                {"IDC_STATIC_FLOW_CONTROL", "IDC_FLOW_CONTROL"}};
            QStringList labelTexts;
            for (auto [label, list] : labels)
            {
                auto* l = Control<QLabel>(w, label);
                labelTexts << l->text();
                EXPECT_EQ(l->buddy(), Control<QComboBox>(w, list)) << label;
            }
            EXPECT_EQ(labelTexts, QStringList({"&Bits per second:", "&Data bits:", "&Parity:",
                                               "&Stop bits:", "&Flow Control"}));

            // The tab order of the template; the tab control takes focus through its bar.
            QStringList order = TabOrder(w, Control<QWidget>(w, "IDOK"), 10);
            EXPECT_EQ(order, QStringList({"IDOK", "IDCANCEL", "IDC_SETTINGS_TAB", "IDC_BAUD_RATE",
                                          "IDC_DATA_BITS", "IDC_PARITY", "IDC_STOP_BITS",
                                          "IDC_FLOW_CONTROL", "IDC_RESTORE_DEFAULTS", "IDOK"}));
            return IDCANCEL;
        });
    EXPECT_EQ(Run(&port), IDCANCEL);
}

TEST_F(SerialPortSettingsDlgTest, OpensOnThePortsSettingsAndOkHandsThemBackUnchanged)
{
    CSerialPort port;
    port.SetSettings(19200, 7, 2, 2, 2);
    runner.Expect(
        [](IModalDialog& d)
        {
            ExpectShown(d, {"19200", "7", "Even", "2", "Hardware"});
            return IDOK;
        });
    EXPECT_EQ(Run(&port), IDOK);
    EXPECT_EQ(Settings(port), (std::array<int, 5>{19200, 7, 2, 2, 2}));
}

TEST_F(SerialPortSettingsDlgTest, ChoicesAreMappedByPositionToTheSettingValues)
{
    CSerialPort port;
    runner.Expect(
        [](IModalDialog& d)
        {
            QWidget* w = W(d);
            Control<QComboBox>(w, "IDC_BAUD_RATE")->setCurrentIndex(12); // 115200
            Control<QComboBox>(w, "IDC_DATA_BITS")->setCurrentIndex(0);  // 7
            Control<QComboBox>(w, "IDC_PARITY")->setCurrentIndex(1);     // Odd
            Control<QComboBox>(w, "IDC_STOP_BITS")->setCurrentIndex(1);  // 2
            Control<QComboBox>(w, "IDC_FLOW_CONTROL")->setCurrentIndex(0);
            return IDOK;
        });
    EXPECT_EQ(Run(&port), IDOK);
    EXPECT_EQ(Settings(port), (std::array<int, 5>{115200, 7, 1, 2, 1}));

    // Every speed of the list is one the port takes, at the position shown.
    for (int pos = 0; pos < 15; ++pos)
    {
        runner.Expect(
            [pos](IModalDialog& d)
            {
                Control<QComboBox>(W(d), "IDC_BAUD_RATE")->setCurrentIndex(pos);
                return IDOK;
            });
        ASSERT_EQ(Run(&port), IDOK);
        EXPECT_EQ(Settings(port)[0], CSerialPortSettingsDlg::kBaudRates[pos]);
    }
    EXPECT_TRUE(prompt.Records().empty());
}

TEST_F(SerialPortSettingsDlgTest, ValuesOutsideTheListsOpenAsDefaultsAndOkStoresThem)
{
    LoadedSerialPort port;
    port.ForceSettings(9601, 0);
    runner.Expect(ShowsDefaultSpeedAndXonXoff(IDOK));
    EXPECT_EQ(Run(&port), IDOK);
    EXPECT_EQ(Settings(port), (std::array<int, 5>{9600, 8, 0, 0, 1}));
}

TEST_F(SerialPortSettingsDlgTest, RestoreDefaultsTouchesThePortOnlyOnOk)
{
    CSerialPort port;
    port.SetSettings(38400, 7, 1, 2, 2);
    auto restore = [](IModalDialog& d)
    {
        Control<QPushButton>(W(d), "IDC_RESTORE_DEFAULTS")->click();
        ExpectShown(d, {"9600", "8", "None", "1", "Xon / Xoff"});
        return 0;
    };
    runner.Expect({restore, [](IModalDialog&) { return IDCANCEL; }});
    EXPECT_EQ(Run(&port), IDCANCEL);
    EXPECT_EQ(Settings(port), (std::array<int, 5>{38400, 7, 1, 2, 2}));

    runner.Expect({restore, [](IModalDialog&) { return IDOK; }});
    EXPECT_EQ(Run(&port), IDOK);
    EXPECT_EQ(Settings(port), (std::array<int, 5>{9600, 8, 0, 0, 1}));
}

TEST_F(SerialPortSettingsDlgTest, NewPortShowsHardwareHandshake)
{
    CSerialPort port;
    runner.Expect(
        [](IModalDialog& d)
        {
            EXPECT_EQ(Selection(d).flow, "Hardware");
            return IDCANCEL;
        });
    EXPECT_EQ(Run(&port), IDCANCEL);
    EXPECT_EQ(Settings(port), (std::array<int, 5>{9600, 8, 0, 0, 2}));
}

TEST_F(SerialPortSettingsDlgTest, WithoutAPortShowsDefaultsAndOkJustCloses)
{
    runner.Expect(ShowsDefaultSpeedAndXonXoff(IDOK));
    EXPECT_EQ(Run(nullptr), IDOK);
}

TEST_F(SerialPortSettingsDlgTest, EscapeAndTheCloseButtonCancel)
{
    CSerialPort port;
    runner.Expect(
        [](IModalDialog& d)
        {
            Control<QComboBox>(W(d), "IDC_BAUD_RATE")->setCurrentIndex(0);
            dynamic_cast<QDialog*>(&d)->reject(); // what Escape and the title bar's X do
            return 0;
        });
    EXPECT_EQ(Run(&port), IDCANCEL);
    EXPECT_EQ(Settings(port)[0], 9600);
}

// Without a scripted runner the dialog runs its own modal loop, as in the program.
TEST(SerialPortSettingsDlgModalLoopTest, OkAndEscapeEndTheRealModalLoop)
{
    CSerialPort port;
    auto act = [](std::function<void(QWidget*)> what)
    {
        auto* timer = new QTimer;
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout,
                         [timer, what]
                         {
                             if (auto* dlg = QApplication::activeModalWidget())
                             {
                                 timer->stop();
                                 timer->deleteLater();
                                 what(dlg);
                             }
                         });
        timer->start();
    };

    act(
        [](QWidget* dlg)
        {
            Control<QComboBox>(dlg, "IDC_BAUD_RATE")->setCurrentIndex(0);
            QTest::mouseClick(Control<QPushButton>(dlg, "IDOK"), Qt::LeftButton);
        });
    CSerialPortSettingsDlg ok(&port);
    EXPECT_EQ(ok.DoModal(), IDOK);
    EXPECT_EQ(Settings(port)[0], 110);

    act(
        [](QWidget* dlg)
        {
            Control<QComboBox>(dlg, "IDC_BAUD_RATE")->setCurrentIndex(14);
            QTest::keyClick(dlg, Qt::Key_Escape);
        });
    CSerialPortSettingsDlg cancel(&port);
    EXPECT_EQ(cancel.DoModal(), IDCANCEL);
    EXPECT_EQ(Settings(port)[0], 110);
}
