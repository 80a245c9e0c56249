// The list's fill without a window, on scripted printers: answers, the end and the
// history; a command that waits for the printers and runs once, with nothing reported
// of the fill it stopped; a blocking wait that holds boxes and commands until it ends.
#include "CFillController.h"
#include "CReadingStore.h"
#include "CSerialPort.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinters.h"
#include "DialogTestSupport.h"
#include "LibraryStrings.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>

using namespace std::chrono_literals;

namespace
{
class FillControllerTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "fill-controller-tests";
        static char* argv[] = {name, nullptr};
        if (!QCoreApplication::instance())
            new QCoreApplication(argc, argv);
    }

    void SetUp() override
    {
        RegisterLibraryStrings();
        m_store = std::string(std::getenv("VARKO_SETTINGS_ROOT")) + "/" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite";
        std::filesystem::remove(m_store);
        m_fill = std::make_unique<CFillController>(m_store);
    }

    // A serial printer that answers after `delay`; `failing` ones cannot be opened.
    CVarkoPrinterData* AddPrinter(int i, std::chrono::milliseconds delay, bool failing = false)
    {
        auto printer = std::make_unique<CVarkoPrinter>();
        auto* port = new ScriptedPortOf<CSerialPort>;
        port->WriteDelay(delay);
        if (failing)
            port->FailOn(PortCall::Open, 1, 2, false);
        port->QueueReply("SN" + std::to_string(i) + "\r\n");
        port->QueueReply("Head usage = " + std::to_string(i) + "\r\nTotal usage = 1," +
                         std::to_string(100 + i) + "\r\n");
        printer->SetPort(port);
        m_printers.push_back(std::move(printer));
        return m_printers.back().get();
    }
    std::vector<CVarkoPrinterData*> All() const
    {
        std::vector<CVarkoPrinterData*> all;
        for (const auto& p : m_printers)
            all.push_back(p.get());
        return all;
    }
    void ServeUntilFree()
    {
        ASSERT_TRUE(ServeEventsUntil([this] { return !m_fill->IsBusy(); }, 30000));
    }

    ScriptedPrompt m_prompt;
    CVarkoPrinters m_collection;
    std::vector<std::unique_ptr<CVarkoPrinter>> m_printers;
    std::string m_store;
    std::unique_ptr<CFillController> m_fill;
};
} // namespace

TEST_F(FillControllerTest, AnswersArriveThenTheEndAndEveryReadingIsWritten)
{
    for (int i = 0; i < 3; ++i)
        AddPrinter(i, 20ms);
    std::size_t answered = 0;
    int ended = 0;
    QObject::connect(m_fill.get(), &CFillController::answered,
                     [&](const std::vector<CPrinterAnswers>& a) { answered += a.size(); });
    QObject::connect(m_fill.get(), &CFillController::ended,
                     [&](const std::vector<CVarkoPrinterData*>& notAsked)
                     {
                         EXPECT_EQ(answered, 3u) << "every answer comes before the end";
                         EXPECT_TRUE(notAsked.empty());
                         ++ended;
                     });
    m_fill->Start(m_collection, All(), eUnitsInches);
    EXPECT_TRUE(m_fill->IsFilling());
    ServeUntilFree();
    EXPECT_EQ(ended, 1);

    ASSERT_TRUE(m_fill->History().WaitIdle(10s));
    CReadingStore store(m_store);
    store.Open(CReadingStore::OpenMode::readOnly);
    ASSERT_EQ(store.Printers().size(), 3u);
    const auto sn1 = store.FindPrinter("SN1", "", "");
    ASSERT_TRUE(sn1);
    EXPECT_EQ(store.History(sn1->id).readings[0].total, 1101);
}

TEST_F(FillControllerTest, ACommandWaitsForThePrintersAndRunsOnceWithoutTheStoppedFillsBoxes)
{
    // More printers than are asked at once, so some are never reached; one fails.
    AddPrinter(0, 0ms, true);
    for (int i = 1; i < CFleetQuery::DEFAULT_CONCURRENCY + 8; ++i)
        AddPrinter(i, 150ms);
    std::vector<CVarkoPrinterData*> notAsked;
    QObject::connect(m_fill.get(), &CFillController::ended,
                     [&](const std::vector<CVarkoPrinterData*>& n) { notAsked = n; });
    m_fill->Start(m_collection, All(), eUnitsInches);

    int ran = 0;
    bool freeWhenRun = false;
    m_fill->RunWhenFree(
        [&]
        {
            ++ran;
            freeWhenRun = !m_fill->IsFilling();
        });
    EXPECT_EQ(ran, 0) << "it ran while the printers were being asked";
    EXPECT_TRUE(m_fill->IsStopping());
    ServeUntilFree();
    EXPECT_EQ(ran, 1);
    EXPECT_TRUE(freeWhenRun);
    EXPECT_FALSE(notAsked.empty());
    EXPECT_TRUE(m_prompt.Records().empty()) << "the stopped fill reported its failure";

    // Free: a command runs at once.
    m_fill->RunWhenFree([&] { ++ran; });
    EXPECT_EQ(ran, 2);
}

TEST_F(FillControllerTest, ABlockingWaitHoldsBoxesAndCommandsUntilItHasEnded)
{
    AddPrinter(0, 0ms, true);
    AddPrinter(1, 200ms);
    m_fill->Start(m_collection, All(), eUnitsInches);
    int ran = 0;
    m_fill->RunWhenFree([&] { ++ran; });
    int waitsEnded = 0;
    QObject::connect(m_fill.get(), &CFillController::waitsEnded, [&] { ++waitsEnded; });
    {
        CFillController::CWait wait(*m_fill, false);
        EXPECT_FALSE(m_fill->IsFilling()) << "the wait returned before the printers were free";
        EXPECT_TRUE(m_fill->IsStopping()) << "commands could start inside the wait";
        {
            CFillController::CWait nested(*m_fill, true);
        }
        m_fill->Show([&] { AfxMessageBox(CString("held"), MB_OK); });
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
        EXPECT_EQ(ran, 0) << "the waiting command ran inside the wait";
        EXPECT_TRUE(m_prompt.Records().empty()) << "a box came up inside the wait";
        EXPECT_EQ(waitsEnded, 0);
    }
    QEventLoop loop;
    QTimer::singleShot(50, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(ran, 1);
    ASSERT_EQ(m_prompt.Records().size(), 1u) << "a stopped fill reports nothing";
    EXPECT_EQ(m_prompt.Records()[0].text, CString("held"));
    EXPECT_EQ(waitsEnded, 1);
    EXPECT_FALSE(m_fill->IsBusy());
}
