// The fleet-query engine on scripted printers: answers in the order of the list, each
// printer's questions in their order, never more printers at once than the limit,
// failures kept with their printer, a cancel that asks nobody further, and printers on
// one port asked in turn.
#include "CFleetQuery.h"
#include "CSerialPort.h"
#include "CVarkoPrinter.h"
#include "LibraryStrings.h"
#include "PollUntil.h"
#include "ScriptedPort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace
{
std::atomic<int> g_openNow{0};
std::atomic<int> g_mostAtOnce{0};
std::atomic<int> g_sharedOpenNow{0};
std::atomic<int> g_sharedMostAtOnce{0};

void Raise(std::atomic<int>& most, int now)
{
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now))
    {
    }
}

// A serial printer's port that counts how many ports are open across all printers.
class CountingPort : public ScriptedPortOf<CSerialPort>
{
public:
    void Open() override
    {
        ScriptedPortOf<CSerialPort>::Open();
        Raise(g_mostAtOnce, ++g_openNow);
        if (m_shared)
            Raise(g_sharedMostAtOnce, ++g_sharedOpenNow);
    }
    void Close() override
    {
        if (IsOpen())
        {
            --g_openNow;
            if (m_shared)
                --g_sharedOpenNow;
        }
        ScriptedPortOf<CSerialPort>::Close();
    }
    // One of the printers that name the same port.
    bool m_shared = false;
};

struct Fleet
{
    std::vector<std::unique_ptr<CVarkoPrinter>> printers;
    std::vector<CountingPort*> ports;

    explicit Fleet(int count, std::chrono::milliseconds delay = std::chrono::milliseconds(0))
    {
        RegisterLibraryStrings();
        g_openNow = 0;
        g_mostAtOnce = 0;
        g_sharedOpenNow = 0;
        g_sharedMostAtOnce = 0;
        for (int i = 0; i < count; ++i)
        {
            auto p = std::make_unique<CVarkoPrinter>();
            auto* port = new CountingPort;
            port->WriteDelay(delay);
            port->QueueReply("SN" + std::to_string(i) + "\r\n");
            port->QueueReply("Head usage = " + std::to_string(i) + "\r\nTotal usage = 1," +
                             std::to_string(100 + i) + "\r\n");
            p->SetPort(port);
            ports.push_back(port);
            printers.push_back(std::move(p));
        }
    }
    std::vector<CVarkoPrinterData*> List() const
    {
        std::vector<CVarkoPrinterData*> list;
        for (const auto& p : printers)
            list.push_back(p.get());
        return list;
    }
};
} // namespace

TEST(FleetQuery, AnswersComeInTheListsOrderAndEachPrintersQuestionsInTheirs)
{
    Fleet fleet(24, std::chrono::milliseconds(5));
    const std::vector<CPrinterAnswers> answers =
        CFleetQuery::AskAll(fleet.List(), eUnitsMillimeters, 6);
    ASSERT_EQ(answers.size(), 24u);
    for (std::size_t i = 0; i < answers.size(); ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(answers[i].index, i);
        EXPECT_EQ(answers[i].printer, fleet.printers[i].get());
        EXPECT_TRUE(answers[i].asked);
        EXPECT_TRUE(answers[i].bidirectional);
        EXPECT_EQ(answers[i].serial.str(), "SN" + std::to_string(i));
        EXPECT_EQ(answers[i].head, static_cast<int>(i));
        EXPECT_EQ(answers[i].total, 1100 + static_cast<int>(i));
        EXPECT_EQ(answers[i].FirstFailure(), nullptr);
        EXPECT_EQ(fleet.ports[i]->Writes(), (std::vector<std::string>{"\nURS\n", "\nURLm\n"}));
        EXPECT_FALSE(fleet.ports[i]->WasLeftOpen());
    }
}

TEST(FleetQuery, NeverMorePrintersAtOnceThanTheLimitAndTheyDoOverlap)
{
    Fleet fleet(12, std::chrono::milliseconds(40));
    const auto start = std::chrono::steady_clock::now();
    CFleetQuery::AskAll(fleet.List(), eUnitsInches, 4);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(g_mostAtOnce.load(), 4);
    // Twelve printers of two 40 ms writes each, one after the other, would take ~960 ms.
    EXPECT_LT(took, std::chrono::milliseconds(900));
}

TEST(FleetQuery, AFailureStaysWithItsPrinterAndTheOthersAreAnswered)
{
    Fleet fleet(5);
    // Printer 2 cannot be opened at all; printer 3 fails its odometer question only.
    fleet.ports[2]->FailOn(PortCall::Open, 1, CVarkoPrinterException::ePortUnavailable);
    fleet.ports[2]->FailOn(PortCall::Open, 2, CVarkoPrinterException::ePortUnavailable);
    fleet.ports[3]->FailOn(PortCall::Read, 2, 121, true);
    const auto answers = CFleetQuery::AskAll(fleet.List(), eUnitsInches, 3);

    ASSERT_TRUE(answers[2].serialFailure.has_value());
    ASSERT_TRUE(answers[2].serialFailure->exception.has_value());
    EXPECT_EQ(answers[2].serialFailure->exception->GetErrorCode(),
              DWORD(CVarkoPrinterException::ePortUnavailable));
    EXPECT_EQ(answers[2].serialFailure->text, "That port is unavailable.");
    EXPECT_TRUE(answers[2].odometerFailure.has_value());
    EXPECT_EQ(answers[2].FirstFailure(), &*answers[2].serialFailure);
    EXPECT_EQ(answers[2].head, -1);

    EXPECT_FALSE(answers[3].serialFailure.has_value());
    ASSERT_TRUE(answers[3].odometerFailure.has_value());
    EXPECT_TRUE(answers[3].odometerFailure->exception->IsOsError());
    EXPECT_EQ(answers[3].total, -1);
    for (int i : {0, 1, 4})
        EXPECT_EQ(answers[i].FirstFailure(), nullptr) << i;
}

TEST(FleetQuery, ACancelAsksNobodyFurtherAndTheFillEnds)
{
    Fleet fleet(10, std::chrono::milliseconds(20));
    CFleetQuery query(2);
    std::atomic<int> notified{0};
    query.Start(fleet.List(), eUnitsInches, [&] { ++notified; });
    ASSERT_TRUE(PollUntil([&] { return query.Answered() != 0; }));
    query.Cancel();
    query.Wait();
    EXPECT_FALSE(query.IsBusy());
    const std::vector<CPrinterAnswers> answers = query.TakeAnswers();
    EXPECT_LT(answers.size(), 10u);
    EXPECT_GE(answers.size(), 1u);
    std::vector<bool> asked(10, false);
    for (const CPrinterAnswers& a : answers)
        asked[a.index] = true;
    for (std::size_t i = 0; i < 10; ++i)
        EXPECT_EQ(fleet.ports[i]->CountOf(PortCall::Open) > 0, asked[i]) << i;
    // One notice per answer and one for the end.
    EXPECT_EQ(notified.load(), static_cast<int>(answers.size()) + 1);
    EXPECT_TRUE(query.TakeAnswers().empty());
}

TEST(FleetQuery, AnEmptyListEndsAtOnceAndTheEngineCanBeUsedAgain)
{
    CFleetQuery query;
    int notified = 0;
    query.Start({}, eUnitsInches, [&] { ++notified; });
    EXPECT_FALSE(query.IsBusy());
    EXPECT_EQ(notified, 1);
    Fleet fleet(3, std::chrono::milliseconds(50));
    query.Start(fleet.List(), eUnitsInches);
    ASSERT_TRUE(query.IsBusy());
    // A second fill over printers the first one still holds is refused.
    EXPECT_THROW(query.Start(fleet.List(), eUnitsInches), std::logic_error);
    query.Wait();
    EXPECT_EQ(query.TakeAnswers().size(), 3u);
}

TEST(FleetQuery, EveryPortIsAskedAtOnceButPrintersOnOnePortTakeTurns)
{
    // 40 printers, four of which name one port (spelt two ways): 37 ports in all, more
    // than a desk's worth, so a silent one holds up nobody else.
    Fleet fleet(40, std::chrono::milliseconds(150));
    for (int i = 0; i < 40; ++i)
        fleet.ports[i]->SetPortName(CString::Formatted("/dev/ttyS%d", i));
    for (int i : {3, 9, 17, 30})
    {
        fleet.ports[i]->SetPortName(i % 2 ? "/dev/ttyUSB0" : "/dev/ttyusb0");
        fleet.ports[i]->m_shared = true;
    }
    CFleetQuery query;
    query.Start(fleet.List(), eUnitsInches);
    query.Wait();
    std::vector<std::size_t> sharedOrder;
    for (const CPrinterAnswers& a : query.TakeAnswers())
    {
        EXPECT_EQ(a.FirstFailure(), nullptr) << a.index;
        if (fleet.ports[a.index]->m_shared)
            sharedOrder.push_back(a.index);
    }
    EXPECT_EQ(sharedOrder, (std::vector<std::size_t>{3, 9, 17, 30}));
    EXPECT_EQ(g_sharedMostAtOnce.load(), 1) << "two conversations on one port at once";
    // Each conversation lasts 300 ms and the threads start within a few: far more than
    // the old limit of 16 overlap.
    EXPECT_GT(g_mostAtOnce.load(), 30);
}
