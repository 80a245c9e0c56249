// Filling the list while the printers answer: the rows are there at once, the window
// keeps serving its events, the fill can be stopped, a command waits for the printers a
// fill still holds, and failures are reported once every row is filled.
#include "AppTestBase.h"
#include "CFillController.h"
#include "CPrinterListModel.h"
#include "CVarkoPrinters.h"
#include "Resource.h"
#include "SimulatorProcess.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <sstream>

namespace
{
// Printers that answer each question after `delayMs`.
std::string SlowFleet(int count, int delayMs, int firstCom)
{
    std::ostringstream fleet;
    for (int i = 0; i < count; ++i)
        fleet << "[P" << i << "]\nkind = serial\ncom = " << firstCom + i << "\nserial = S" << i
              << "\nhead = " << i << "\ntotal = 100\nfault = slow " << delayMs << "\n";
    return fleet.str();
}

std::vector<CPrinterSettings> SerialSettings(int count, int firstCom)
{
    std::vector<CPrinterSettings> printers;
    for (int i = 0; i < count; ++i)
        printers.push_back(
            SerialPrinter("P" + std::to_string(i), "COM" + std::to_string(firstCom + i)));
    return printers;
}

class FillSim : public AppTest
{
protected:
    QString StatusText() const
    {
        return Frame()->statusBar()->findChild<QLabel*>("AFX_IDS_IDLEMESSAGE")->text();
    }
    QToolButton* StopButton() const
    {
        return Frame()->statusBar()->findChild<QToolButton*>("fillStopButton");
    }
};
} // namespace

TEST_F(FillSim, RowsShowAtOnceAndFillWhileTheWindowKeepsServingItsEvents)
{
    SimulatorProcess sim(SlowFleet(4, 400, 3));
    const std::string file = TempPath("fleet.vps");
    WriteSettingsFile(file, SerialSettings(4, 3));

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Start({QString::fromStdString(file)}, false));
    // Start-up returned well before the printers, one after the other, could have
    // answered (4 x 2 x 400 ms).
    EXPECT_LT(clock.elapsed(), 2000);
    ASSERT_TRUE(View()->IsFilling());
    ASSERT_EQ(Rows().size(), 4u);
    EXPECT_EQ(Cell(0, 0), "P3");
    EXPECT_EQ(Cell(0, 2), "COM6");
    EXPECT_EQ(Cell(0, 3), "");
    EXPECT_EQ(StatusText(), "Asking printers: 0 of 4");
    EXPECT_TRUE(StopButton()->isVisible());
    // Every command waits for the printers; the window's own still run.
    EXPECT_TRUE(IsEnabled("ID_VIEW_REFRESH"));

    // The event loop keeps turning: a 10 ms timer fires many times meanwhile.
    int ticks = 0;
    qint64 longestGap = 0;
    qint64 last = clock.elapsed();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout,
                     [&]
                     {
                         ++ticks;
                         longestGap = std::max(longestGap, clock.elapsed() - last);
                         last = clock.elapsed();
                     });
    timer.start(10);
    WaitForFill();
    timer.stop();
    EXPECT_GT(ticks, 30);
    EXPECT_LT(longestGap, 500) << "the window was blocked";
    EXPECT_EQ(Rows()[0], "P3 |  | COM6 | S3 | 100 | 3");
    EXPECT_EQ(Rows()[3], "P0 |  | COM3 | S0 | 100 | 0");
    EXPECT_EQ(StatusText(), "Ready");
    EXPECT_FALSE(StopButton()->isVisible());
    EXPECT_TRUE(Messages().empty());
}

TEST_F(FillSim, EscStopsTheFillAndRowsNotAskedSaySo)
{
    // More printers than ports are asked at once, so some wait their turn. A desk's
    // worth of ports is asked all at once, so the bound is lowered for this window.
    CFillController::SetPortsAtOnce(16);
    struct Restore
    {
        ~Restore() { CFillController::SetPortsAtOnce(CFleetQuery::DEFAULT_CONCURRENCY); }
    } restore;
    SimulatorProcess sim(SlowFleet(20, 500, 3));
    const std::string file = TempPath("fleet.vps");
    WriteSettingsFile(file, SerialSettings(20, 3));
    ASSERT_TRUE(Start({QString::fromStdString(file)}, false));
    Frame()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
    QTest::keyClick(Frame(), Qt::Key_Escape);
    EXPECT_FALSE(StopButton()->isEnabled()) << "a stopped fill cannot be stopped again";
    WaitForFill();

    int notAsked = 0;
    int answered = 0;
    for (int row = 0; row < 20; ++row)
    {
        const std::string serial = Cell(row, 3);
        if (serial == "Not asked")
        {
            ++notAsked;
            EXPECT_EQ(Cell(row, 4), "Not asked");
            EXPECT_EQ(Cell(row, 5), "Not asked");
            EXPECT_EQ(sim.State(Cell(row, 0)).Counter("serial_queries"), 0u) << Cell(row, 0);
        }
        else
        {
            ++answered;
            EXPECT_EQ(serial, "S" + Cell(row, 0).substr(1));
        }
    }
    EXPECT_GT(notAsked, 0);
    EXPECT_GT(answered, 0) << "the printers already being asked answered to the end";
    EXPECT_EQ(StatusText(), "Ready");

    // Refresh asks everybody again.
    TriggerAction("ID_VIEW_REFRESH");
    for (int row = 0; row < 20; ++row)
        EXPECT_NE(Cell(row, 3), "Not asked");
}

TEST_F(FillSim, ACommandDuringAFillWaitsForThePrintersItHoldsAndThenRuns)
{
    SimulatorProcess sim(SlowFleet(3, 700, 3));
    const std::string file = TempPath("fleet.vps");
    WriteSettingsFile(file, SerialSettings(3, 3));
    ASSERT_TRUE(Start({QString::fromStdString(file)}, false));
    ASSERT_TRUE(View()->IsFilling());
    SelectRows({0, 2});
    // Delete stops the fill, waits for the printers being asked, then deletes: the
    // records it deletes are no longer used by any fill thread.
    TriggerAction("ID_PRINTER_DELETE");
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Cell(0, 0), "P1");
    EXPECT_EQ(Cell(0, 3), "S1");
    EXPECT_EQ(Doc()->GetPrinters()->GetPrinterCount(), 1);
    EXPECT_TRUE(Messages().empty()) << "a stopped fill says nothing before the command";

    // Closing the window during a fill waits the same way and then closes.
    Frame()->ExecuteCommand(ID_VIEW_REFRESH);
    ASSERT_TRUE(View()->IsFilling());
    Doc()->GetPrinters()->SetModified(FALSE);
    EXPECT_TRUE(Exit());
}

TEST_F(FillSim, FailuresAreReportedOnceEveryRowIsFilled)
{
    SimulatorProcess sim(SlowFleet(4, 300, 3));
    sim.Power("P1", false);
    sim.Power("P3", false);
    const std::string file = TempPath("fleet.vps");
    WriteSettingsFile(file, SerialSettings(4, 3));

    // The rows as they stood when each box came up.
    struct Snapshot : ScriptedPrompt
    {
        AppTest* test = nullptr;
        std::function<std::vector<std::string>()> rows;
        std::vector<std::vector<std::string>> seen;
        int MessageBox(const CString& text, const CString& caption, UINT type) override
        {
            seen.push_back(rows());
            return ScriptedPrompt::MessageBox(text, caption, type);
        }
    } prompt;
    prompt.rows = [this] { return Rows(); };
    ASSERT_TRUE(Start({QString::fromStdString(file)}));
    // The two printers failed alike: one box names both.
    ASSERT_EQ(prompt.Texts().size(), 1u);
    EXPECT_EQ(prompt.Texts()[0].str().substr(prompt.Texts()[0].str().find("\n\n")),
              "\n\nPrinters: P1, P3");
    for (const auto& rows : prompt.seen)
    {
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows[0], "P3 |  | COM6 | Error! | Error! | Error!");
        EXPECT_EQ(rows[1], "P2 |  | COM5 | S2 | 100 | 2");
        EXPECT_EQ(rows[2], "P1 |  | COM4 | Error! | Error! | Error!");
        EXPECT_EQ(rows[3], "P0 |  | COM3 | S0 | 100 | 0");
    }
}
