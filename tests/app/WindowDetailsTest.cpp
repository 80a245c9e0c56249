// The details a Linux user of the window notices: Save As asking about the file it
// writes, one box per kind of failure naming its printers, the mouse and keys, the
// primary screen's place, and the timed refresh.
#include "AppTestBase.h"
#include "CPrinterListModel.h"
#include "CSerialNumberDlg.h"
#include "CVarkoPrinters.h"
#include "DialogTestSupport.h"
#include "SimulatorProcess.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
std::string Slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class WindowDetails : public AppTest
{
protected:
    // Serial printers P0.. on COM3..; the unplugged ones cannot be reached.
    void OpenFleet(int count, int unplugged)
    {
        std::ostringstream fleet;
        std::vector<CPrinterSettings> printers;
        for (int i = 0; i < count; ++i)
        {
            const std::string name = "P" + std::to_string(i);
            fleet << "[" << name << "]\nkind = serial\ncom = " << 3 + i << "\nserial = S" << i
                  << "\n";
            printers.push_back(SerialPrinter(name, "COM" + std::to_string(3 + i)));
        }
        m_sim = std::make_unique<SimulatorProcess>(fleet.str());
        for (int i = 0; i < unplugged; ++i)
            m_sim->Power("P" + std::to_string(i), false);
        const std::string file = TempPath("fleet.vps");
        WriteSettingsFile(file, printers);
        ASSERT_TRUE(Start({QString::fromStdString(file)}));
    }
    void TearDown() override
    {
        AppTest::TearDown();
        m_sim.reset();
    }

    std::unique_ptr<SimulatorProcess> m_sim;
};
} // namespace

TEST_F(WindowDetails, SaveAsAsksBeforeReplacingTheFileItWouldWriteAndProposesUntitledVps)
{
    ASSERT_TRUE(Start());
    const std::string copy = TempPath("copy.vps");
    std::ofstream(copy) << "keep";
    // The real file dialog, as the user sees it.
    SetFileNamePrompt(nullptr);
    QString proposed;
    bool asked = false;
    QTimer::singleShot(0,
                       [&]
                       {
                           auto* dialog =
                               qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                           ASSERT_NE(dialog, nullptr);
                           auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                           ASSERT_NE(name, nullptr);
                           proposed = name->text();
                           dialog->setDirectory(QString::fromStdString(TempPath("")));
                           name->setText("copy");
                           // The question comes up inside the dialog's accept: answer No.
                           QTimer::singleShot(0,
                                              [&]
                                              {
                                                  auto* box = qobject_cast<QMessageBox*>(
                                                      QApplication::activeModalWidget());
                                                  ASSERT_NE(box, nullptr)
                                                      << "no question was asked";
                                                  asked = box->text().contains("copy.vps");
                                                  box->button(QMessageBox::No)->click();
                                              });
                           static_cast<QDialog*>(dialog)->accept();
                           EXPECT_TRUE(dialog->isVisible()) << "No closed the dialog";
                           dialog->reject();
                       });
    TriggerAction("ID_FILE_SAVE_AS");
    SetFileNamePrompt(&m_files);
    EXPECT_EQ(proposed, "Untitled.vps");
    EXPECT_TRUE(asked);
    EXPECT_EQ(Slurp(copy), "keep") << "the file was replaced without a Yes";

    // Through the dialog seam a name typed without its extension is asked about too.
    m_files.Answer(TempPath("copy"));
    m_prompt.Answer(IDNO);
    TriggerAction("ID_FILE_SAVE_AS");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "copy.vps already exists.\nDo you want to replace it?");
    EXPECT_EQ(Slurp(copy), "keep");
}

TEST_F(WindowDetails, OneBoxAfterAFillPerMessageNamesItsPrinters)
{
    OpenFleet(14, 12);
    const std::vector<PromptRecord> boxes = m_prompt.Records();
    ASSERT_EQ(boxes.size(), 1u) << "one box for twelve printers that cannot be reached";
    const std::string text = boxes[0].text.str();
    EXPECT_EQ(text.rfind("That port is unavailable.\n\n12 printers: P0, P1", 0), 0u) << text;
    EXPECT_NE(text.find("P9 and 2 more"), std::string::npos) << text;
    EXPECT_EQ(boxes[0].details.str(), "P0\nP1\nP2\nP3\nP4\nP5\nP6\nP7\nP8\nP9\nP10\nP11\n");
    EXPECT_EQ(boxes[0].type, UINT(MB_OK));
    EXPECT_EQ(Cell(0, 3), "S13");
}

TEST_F(WindowDetails, APrintCommandKeepsOneReportPerPrinterEachNamingIt)
{
    const std::string file = TempPath("gone.vps");
    WriteSettingsFile(
        file, {UsbPrinter("Gone1", TempPath("no-lp1")), UsbPrinter("Gone2", TempPath("no-lp2"))});
    ASSERT_TRUE(Start({QString::fromStdString(file)}));
    ClearMessages();
    SelectRows({0, 1}); // Gone2, Gone1
    TriggerAction("ID_PRINT_ODOMETERS");
    std::vector<std::string> reports;
    for (const std::string& m : Messages())
        if (m.find("\n\nPrinter: ") != std::string::npos)
            reports.push_back(m.substr(m.find("\n\nPrinter: ")));
    EXPECT_EQ(reports, (std::vector<std::string>{"\n\nPrinter: Gone2", "\n\nPrinter: Gone1"}));
}

TEST_F(WindowDetails, MouseKeysPasteAndStatusBarBehaveAsTheControlsOfTheWindowsVersion)
{
    const std::string file = TempPath("fleet.vps");
    WriteSettingsFile(file, {ParallelPrinter("Lab", "LPT1"), ParallelPrinter("Bench", "LPT2")});
    ASSERT_TRUE(Start({QString::fromStdString(file)}));

    // Only the left button's double-click opens Modify.
    SelectRows({0});
    const QPoint row = View()->visualRect(View()->GetListModel()->index(0, 0)).center();
    QTest::mouseDClick(View()->viewport(), Qt::RightButton, {}, row);
    QTest::mouseDClick(View()->viewport(), Qt::MiddleButton, {}, row);
    WaitForFill();
    EXPECT_TRUE(m_dialogs.Records().empty());
    m_dialogs.Expect([](IModalDialog&) { return IDCANCEL; });
    QTest::mouseDClick(View()->viewport(), Qt::LeftButton, {}, row);
    WaitForFill();
    EXPECT_EQ(m_dialogs.Records().size(), 1u);

    // The menu key opens the row menu beside the current row.
    View()->selectionModel()->setCurrentIndex(View()->GetListModel()->index(1, 0),
                                              QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    const QRect current = View()->visualRect(View()->GetListModel()->index(1, 0));
    QPoint shownAt;
    QTimer::singleShot(0,
                       [&]
                       {
                           auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                           ASSERT_NE(menu, nullptr);
                           shownAt = menu->pos();
                           menu->close();
                       });
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(-1, -1),
                          View()->mapToGlobal(QPoint(-1, -1)), Qt::NoModifier);
    QApplication::sendEvent(View(), &key);
    EXPECT_LE((shownAt - View()->viewport()->mapToGlobal(current.bottomLeft())).manhattanLength(),
              2);

    // While the pointer is on Options... the status bar says "Ready".
    QStatusTipEvent tip(Action("ID_TOOLS_OPTIONS")->statusTip());
    QApplication::sendEvent(Frame(), &tip);
    auto* idle = Frame()->statusBar()->findChild<QLabel*>("AFX_IDS_IDLEMESSAGE");
    EXPECT_TRUE(Frame()->statusBar()->currentMessage().isEmpty());
    EXPECT_TRUE(idle->isVisible());
    EXPECT_EQ(idle->text(), "Ready");

    // Ctrl+Q quits, asking first as File > Exit does.
    Frame()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
    Doc()->GetPrinters()->SetModified(TRUE);
    m_prompt.Answer(IDCANCEL);
    QTest::keyClick(View(), Qt::Key_Q, Qt::ControlModifier);
    ASSERT_EQ(m_prompt.Records().size(), 1u);
    EXPECT_EQ(m_prompt.Records()[0].type, UINT(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_TRUE(Frame()->isVisible()) << "Cancel kept the window";
    m_prompt.Answer(IDNO);
    QTest::keyClick(View(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(Frame()->isVisible());
    m_app->ExitInstance();
    m_exited = true;
}

TEST(SerialNumberDialog, AnOverlongPasteIsCutToTheLimitAsTheEditControlDoes)
{
    CSerialNumberDlg dlg(CString("AB"));
    dlg.OnInitDialog();
    auto* edit = dlg.findChild<QLineEdit*>("IDC_SERIAL_NUMBER");
    ASSERT_NE(edit, nullptr);
    QApplication::clipboard()->setText(QString(40, 'x'));
    edit->setCursorPosition(1);
    edit->paste();
    EXPECT_EQ(edit->text(), "A" + QString(30, 'x') + "B");
    // Full: a paste adds nothing, the text stays.
    edit->paste();
    EXPECT_EQ(edit->text().size(), 32);
    // A paste over a selection keeps what fits in its place.
    edit->setSelection(1, 10);
    edit->paste();
    EXPECT_EQ(edit->text(), "A" + QString(30, 'x') + "B");
}

TEST(WindowPlacement, TheStoredRectangleMustMeetThePrimaryScreenWhereverItStands)
{
    // A primary monitor to the right of another, as X11 allows.
    const QRect primary(1920, 0, 1280, 1024);
    struct Case
    {
        std::int32_t left, top, right, bottom;
        bool meets;
    } cases[] = {
        {2000, 100, 2800, 700, true},   // on the primary screen
        {100, 100, 900, 700, false},    // on the other monitor only
        {1800, 100, 2000, 700, true},   // across the edge
        {1000, 100, 1920, 700, false},  // ends where the primary begins
        {3200, 100, 3600, 700, false},  // beyond its right edge
        {2000, 1024, 2800, 1300, false} // below it
    };
    for (const Case& c : cases)
    {
        WINDOWPLACEMENT wp{};
        wp.length = sizeof wp;
        wp.rcNormalPosition[0] = c.left;
        wp.rcNormalPosition[1] = c.top;
        wp.rcNormalPosition[2] = c.right;
        wp.rcNormalPosition[3] = c.bottom;
        EXPECT_EQ(CMainFrame::PlacementMeetsScreen(wp, primary), c.meets)
            << c.left << "," << c.top << "," << c.right << "," << c.bottom;
    }
    WINDOWPLACEMENT other{};
    other.length = 40;
    other.rcNormalPosition[2] = other.rcNormalPosition[3] = 100;
    EXPECT_FALSE(CMainFrame::PlacementMeetsScreen(other, QRect(0, 0, 800, 600)));
}

TEST_F(WindowDetails, TheListRefreshesItselfEveryNMinutesButNeverDuringADialog)
{
    CMainFrame::SetRefreshMinuteMs(150);
    OpenFleet(1, 0);
    EXPECT_FALSE(Frame()->IsRefreshTimerActive()) << "off by default";
    m_dialogs.Expect(
        [](IModalDialog& dlg)
        {
            auto* w = dynamic_cast<QWidget*>(&dlg);
            w->findChild<QCheckBox*>("IDC_REFRESH_LIST")->setChecked(true);
            w->findChild<QSpinBox*>("IDC_REFRESH_MINUTES")->setValue(2);
            return IDOK;
        });
    TriggerAction("ID_TOOLS_OPTIONS");
    ASSERT_TRUE(Frame()->IsRefreshTimerActive());
    auto asked = [this] { return m_sim->State("P0").Counter("serial_queries"); };
    const auto before = asked();
    ASSERT_TRUE(ServeEventsUntil([&] { return asked() >= before + 2; }, 5000))
        << "no refresh came by itself";

    // A dialog is up: no refresh starts while it is.
    QDialog dialog(Frame());
    dialog.setModal(true);
    std::uint64_t during = 0;
    QTimer::singleShot(0,
                       [&]
                       {
                           during = asked();
                           QTimer::singleShot(1000, &dialog, &QDialog::accept);
                       });
    WaitForFill();
    dialog.exec();
    EXPECT_EQ(asked(), during) << "a refresh ran behind the dialog";
    const auto after = asked();
    ASSERT_TRUE(ServeEventsUntil([&] { return asked() > after; }, 10000))
        << "the refresh did not come back after the dialog";
    CMainFrame::SetRefreshMinuteMs(60000);

    // Kept per user with the other settings.
    Doc()->GetPrinters()->SetModified(FALSE);
    ASSERT_TRUE(Exit());
    const std::vector<BYTE> stored = ReadUserBinary("Refresh Minutes");
    ASSERT_EQ(stored.size(), 4u);
    EXPECT_EQ(stored[0], 2);
}
