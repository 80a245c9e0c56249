// What a user does while the list fills must act on what they chose, when they chose
// it: a close during a save, a click during a command's wait, a store another program
// holds. The window's thread neither spins nor waits on the store meanwhile.
#include "AppTestBase.h"
#include "CReadingStore.h"
#include "CVarkoPrinters.h"
#include "DialogTestSupport.h"
#include "SimulatorProcess.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <sqlite3.h>

#include <ctime>
#include <filesystem>
#include <sstream>

namespace
{
double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// A message box as a real one behaves: its own event loop runs while it is up, so
// timers and posted work of the window run inside it.
// The window over serial printers P0.. on COM3.. that answer each question after
// `delayMs`; `powerOff` ones are unplugged.
class FillSafety : public AppTest
{
protected:
    void StartOn(int count, int delayMs, std::initializer_list<const char*> powerOff = {})
    {
        std::ostringstream fleet;
        std::vector<CPrinterSettings> printers;
        for (int i = 0; i < count; ++i)
        {
            const std::string name = "P" + std::to_string(i);
            fleet << "[" << name << "]\nkind = serial\ncom = " << 3 + i << "\nserial = S" << i
                  << "\nhead = " << i << "\ntotal = 100\nfault = slow " << delayMs << "\n";
            printers.push_back(SerialPrinter(name, "COM" + std::to_string(3 + i)));
        }
        m_sim = std::make_unique<SimulatorProcess>(fleet.str());
        for (const char* name : powerOff)
            m_sim->Power(name, false);
        const std::string file = TempPath("fleet.vps");
        WriteSettingsFile(file, printers);
        ASSERT_TRUE(Start({QString::fromStdString(file)}, false));
        ASSERT_TRUE(View()->IsFilling());
    }
    void TearDown() override
    {
        AppTest::TearDown();
        m_sim.reset();
    }
    std::unique_ptr<SimulatorProcess> m_sim;
};

struct ModalPrompt : ScriptedPrompt
{
    int MessageBox(const CString& text, const CString& caption, UINT type) override
    {
        const int answer = ScriptedPrompt::MessageBox(text, caption, type);
        QEventLoop loop;
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        return answer;
    }
};
} // namespace

TEST_F(FillSafety, ACloseDuringASaveWaitsForTheSaveAndHappensOnce)
{
    ModalPrompt prompt;
    StartOn(2, 600, {"P1"});

    const std::string copy = TempPath("copy.vps");
    std::filesystem::remove(copy);
    QTimer::singleShot(100, Frame(), [this] { Frame()->close(); });
    EXPECT_TRUE(Doc()->DoSave(CString(copy), false));
    EXPECT_GT(std::filesystem::file_size(copy), 4u) << "the list was saved without its printers";
    ASSERT_TRUE(ServeEventsUntil([this] { return !Frame() || !Frame()->isVisible(); }, 30000))
        << "the close asked during the save was lost";
    EXPECT_EQ(Doc()->GetPrinters(), nullptr);
    // The box about the unplugged printer came once, after the save, before the close.
    EXPECT_EQ(prompt.Records().size(), 1u);
    m_exited = true;
    m_app->ExitInstance();
}

TEST_F(FillSafety, ACommandActsOnTheRowsSelectedWhenItWasGiven)
{
    StartOn(3, 1500);
    // Top down: P2, P1, P0. The user deletes P2, then clicks P0 while Delete waits
    // for the printers the fill still holds.
    SelectRows({0});
    QTimer::singleShot(100, Frame(), [this] { SelectRows({2}); });
    TriggerAction("ID_PRINTER_DELETE");
    ASSERT_TRUE(ServeEventsUntil([this] { return !View()->IsFilling(); }, 30000));
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(Cell(0, 0), "P1");
    EXPECT_EQ(Cell(1, 0), "P0") << "the row clicked during the wait was deleted";
}

TEST_F(FillSafety, TheWindowsThreadRestsWhileACommandWaitsForTheFill)
{
    StartOn(2, 1500);
    SelectRows({0});
    QElapsedTimer wall;
    wall.start();
    const double cpuBefore = ThreadCpuSeconds();
    TriggerAction("ID_PRINT_TEST_PAGE_RLX");
    ASSERT_TRUE(
        ServeEventsUntil([&] { return m_sim->State("P1").Counter("test_pages_rlx") == 1; }, 30000));
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    const double seconds = static_cast<double>(wall.elapsed()) / 1000.0;
    EXPECT_GT(seconds, 1.0) << "the command did not wait for the printers";
    EXPECT_LT(cpu, 0.25 * seconds) << cpu << " s of CPU in " << seconds << " s of waiting";
}

TEST_F(FillSafety, AStoreAnotherProgramHoldsNeitherFreezesTheWindowNorLosesTheReadings)
{
    const std::string path = CReadingStore::DefaultPath();
    {
        CReadingStore store(path);
        store.Open();
    }
    // Another program's write transaction, held for longer than a write waits.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    EventLoopGaps gaps(10);
    StartOn(2, 50);
    const UtcMillis firstFill = NowUtcMillis();
    // Long enough for the store's own wait to give up.
    ServeEventsUntil([] { return false; }, CReadingStore::BUSY_TIMEOUT_MS + 1500);
    EXPECT_LT(gaps.Longest(), 1000) << "the window waited for the store";

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    TriggerAction("ID_VIEW_REFRESH");
    CReadingStore store(path);
    store.Open(CReadingStore::OpenMode::readOnly);
    const auto printer = store.FindPrinter("S1", "", "");
    ASSERT_TRUE(printer.has_value()) << "nothing was written once the store was free";
    const PrinterHistory history = store.History(printer->id);
    ASSERT_FALSE(history.readings.empty());
    EXPECT_LE(history.readings.front().firstSeen, firstFill + 3000)
        << "the first fill's readings were dropped";
}
