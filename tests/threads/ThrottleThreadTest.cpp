// The download throttle, driven the way the collection drives it: live printers with
// scripted ports hand their downloads over with StartDownload and withdraw them with
// CancelDownload. Each port holds its first write until the test lets it pass, so the
// test decides when a transfer ends.
#include "CPrinterThread.h"
#include "CThrottleThread.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "DebugOutput.h"
#include "PollUntil.h"
#include "RecordingWindow.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"
#include "SysCalls.h"
#include "ThreadTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>

using namespace std::chrono_literals;

// An allocator that hands one chosen block, once freed, straight back to the next
// allocation of its size made on the thread that asks for it, as allocators often do:
// it lets a test put a new thread object at the address of one that has ended.
namespace
{
std::atomic<void*> g_keepAddress{nullptr};
std::atomic<void*> g_kept{nullptr};
std::atomic<std::size_t> g_keptSize{0};
std::atomic<bool> g_grabArmed{false};
thread_local bool t_grabs = false;
} // namespace

void* operator new(std::size_t n)
{
    if (t_grabs && g_grabArmed && n == g_keptSize)
    {
        void* p = g_kept.load();
        if (p && g_kept.compare_exchange_strong(p, nullptr))
        {
            g_grabArmed = false;
            return p;
        }
    }
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    void* keep = p;
    if (p && g_keepAddress.compare_exchange_strong(keep, nullptr))
    {
        g_kept = p;
        return;
    }
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    operator delete(p);
}

namespace
{
// Long enough for a wrongly dispatched job to show its begin notice.
constexpr auto kQuiet = 150ms;

class Throttle : public ::testing::Test
{
protected:
    struct Printer
    {
        std::unique_ptr<CVarkoPrinter> live;
        ScriptedPort* port;
        std::shared_ptr<WriteGate> gate;
    };

    void SetUp() override
    {
        ASSERT_EQ(CThrottleThread::ProcessThrottle(), nullptr);
        for (int i = 0; i < 4; ++i)
        {
            Printer p;
            p.live = std::make_unique<CVarkoPrinter>(&window);
            p.port = new ScriptedPort;
            p.gate = std::make_shared<WriteGate>();
            p.port->OnWrite([gate = p.gate](std::size_t) { gate->Wait(); });
            p.live->SetPort(p.port);
            p.live->StartThread();
            printers.push_back(std::move(p));
        }
    }
    void TearDown() override
    {
        for (auto& p : printers)
            p.gate->Pass();
        for (auto& p : printers)
            p.live->StopThreads();
        EXPECT_EQ(CThrottleThread::ProcessThrottle(), nullptr);
    }

    CVarkoPrinter& P(int i) { return *printers[i].live; }
    void Download(int i, int limit)
    {
        P(i).DownloadFile(dir.MakeFile("label" + std::to_string(i), 300).c_str());
        P(i).StartDownload(limit);
    }
    // Printers 0, 1 and 2 ask for a download in that order, all under the same limit.
    void DownloadFirstThree(int limit)
    {
        for (int i = 0; i < 3; ++i)
            Download(i, limit);
    }
    void Release(int i) { printers[i].gate->Pass(); }
    WPARAM Record(int i)
    {
        return reinterpret_cast<WPARAM>(static_cast<CVarkoPrinterData*>(&P(i)));
    }
    bool Began(int i, std::chrono::milliseconds wait = 5s)
    {
        WPARAM r = Record(i);
        return window.WaitFor([r](const PostedMessage& m)
                              { return m.message == WM_DOWNLOAD_BEGIN && m.wParam == r; },
                              wait);
    }
    bool Ended(int i, LPARAM result, std::chrono::milliseconds wait = 5s)
    {
        WPARAM r = Record(i);
        return window.WaitFor(
            [r, result](const PostedMessage& m)
            { return m.message == WM_DOWNLOAD_END && m.wParam == r && m.lParam == result; },
            wait);
    }
    std::vector<WPARAM> BeginOrder()
    {
        std::vector<WPARAM> order;
        for (auto& m : window.Messages(WM_DOWNLOAD_BEGIN))
            order.push_back(m.wParam);
        return order;
    }

    ScratchDir dir;
    RecordingWindow window;
    ScriptedPrompt prompt;
    std::vector<Printer> printers;
};

std::mutex g_traceLock;
std::vector<std::string> g_trace;
void CaptureTrace(const char* text)
{
    std::lock_guard g(g_traceLock);
    g_trace.emplace_back(text);
}
} // namespace

TEST_F(Throttle, LimitOneRunsQueuedDownloadsOneAfterTheOtherInQueueOrder)
{
    DownloadFirstThree(1);
    ASSERT_TRUE(Began(0));
    EXPECT_FALSE(Began(1, kQuiet));
    EXPECT_FALSE(Began(2, 0ms));
    Release(0);
    ASSERT_TRUE(Began(1));
    EXPECT_FALSE(Began(2, kQuiet));
    Release(1);
    ASSERT_TRUE(Began(2));
    Release(2);
    ASSERT_TRUE(Ended(2, eDownloadSucceeded));
    EXPECT_EQ(BeginOrder(), (std::vector<WPARAM>{Record(0), Record(1), Record(2)}));
}

TEST_F(Throttle, LimitTwoRunsTwoAtOnceAndStartsTheThirdWhenEitherEnds)
{
    DownloadFirstThree(2);
    ASSERT_TRUE(Began(0));
    ASSERT_TRUE(Began(1));
    EXPECT_FALSE(Began(2, kQuiet));
    Release(1);
    ASSERT_TRUE(Ended(1, eDownloadSucceeded));
    ASSERT_TRUE(Began(2));
    EXPECT_EQ(window.Count(WM_DOWNLOAD_END), 1u) << "the first is still held";
}

TEST_F(Throttle, LimitOfZeroOrLessStartsNothingUntilTheQueueIsCancelled)
{
    for (int limit : {0, -1})
    {
        DownloadFirstThree(limit);
        EXPECT_FALSE(Began(0, kQuiet));
        CThrottleThread* throttle = CThrottleThread::ProcessThrottle();
        ASSERT_NE(throttle, nullptr);
        EXPECT_EQ(throttle->PendingCount(), 3u);
        P(0).CancelDownload();
        EXPECT_EQ(throttle->PendingCount(), 0u);
        EXPECT_EQ(throttle->ActiveCount(), 0u);
    }
    EXPECT_EQ(window.Count(WM_DOWNLOAD_BEGIN), 0u);
}

TEST_F(Throttle, RaisedLimitStartsWaitingDownloadsAtOnce)
{
    DownloadFirstThree(1);
    ASSERT_TRUE(Began(0));
    EXPECT_FALSE(Began(1, kQuiet));
    Download(3, 3);
    ASSERT_TRUE(Began(1));
    ASSERT_TRUE(Began(2));
    EXPECT_FALSE(Began(3, kQuiet)) << "three run, so the fourth waits";
    Release(2);
    ASSERT_TRUE(Began(3));
}

TEST_F(Throttle, CancelEmptiesBothListsAtOnceAndStopsTheRunningTransfers)
{
    DownloadFirstThree(2);
    ASSERT_TRUE(Began(0));
    ASSERT_TRUE(Began(1));
    CThrottleThread* throttle = CThrottleThread::ProcessThrottle();
    // The throttle posts the start before it files the job as active, so a job may
    // already have begun a moment before it is counted; and the third request may still
    // be on its way through the throttle's queue.
    PollUntil([&] { return throttle->ActiveCount() >= 2 && throttle->PendingCount() >= 1; },
              std::chrono::seconds(2));
    ASSERT_EQ(throttle->ActiveCount(), 2u);
    ASSERT_EQ(throttle->PendingCount(), 1u);
    // As the collection does: every printer with a download file.
    for (int i = 0; i < 3; ++i)
        P(i).CancelDownload();
    EXPECT_EQ(throttle->ActiveCount(), 0u);
    EXPECT_EQ(throttle->PendingCount(), 0u);

    // New downloads may start before the cancelled ones have wound down.
    Download(3, 2);
    ASSERT_TRUE(Began(3));
    EXPECT_FALSE(Began(2, kQuiet)) << "the queued download was withdrawn";

    Release(0);
    Release(1);
    ASSERT_TRUE(Ended(0, eDownloadCanceled));
    ASSERT_TRUE(Ended(1, eDownloadCanceled));
    Release(3);
    ASSERT_TRUE(Ended(3, eDownloadSucceeded));
    EXPECT_FALSE(P(0).DownloadFile().IsEmpty());
}

TEST_F(Throttle, StoppingAnyPrinterStopsTheThrottleAndDropsItsQueue)
{
    Download(0, 1);
    Download(1, 1);
    ASSERT_TRUE(Began(0));
    P(3).StopThreads();
    EXPECT_EQ(CThrottleThread::ProcessThrottle(), nullptr);
    Release(0);
    // The running job goes on to its end; its notice reaches no throttle.
    ASSERT_TRUE(Ended(0, eDownloadSucceeded));
    EXPECT_FALSE(Began(1, kQuiet));

    Download(1, 1);
    EXPECT_NE(CThrottleThread::ProcessThrottle(), nullptr) << "a later download starts afresh";
    ASSERT_TRUE(Began(1));
}

TEST_F(Throttle, PrinterQueuedTwiceRunsTwoJobsInTurn)
{
    Download(0, 2);
    P(0).StartDownload(2);
    ASSERT_TRUE(Began(0));
    // A second job that wrongly overlapped would begin within this quiet time.
    std::this_thread::sleep_for(kQuiet);
    EXPECT_EQ(window.Count(WM_DOWNLOAD_BEGIN), 1u) << "jobs of one thread never overlap";
    Release(0);
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_END, 2));
    // The first job cleared the name, so the second has no file to send.
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END),
              (std::vector<LPARAM>{eDownloadSucceeded, eDownloadFailed}));
}

TEST_F(Throttle, StartDownloadLeavesItsTraceAndReportsARefusedThrottle)
{
    DebugOutputSink previous = SetDebugOutputSink(&CaptureTrace);
    {
        ScopedSysCall<decltype(SysCalls::pthread_create)> refuse(
            &SysCalls::pthread_create,
            [](pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; });
        try
        {
            Download(0, 1);
            ADD_FAILURE() << "a refused throttle must be reported";
        }
        catch (const CVarkoPrinterException& e)
        {
            EXPECT_EQ(e.GetErrorCode(), CVarkoPrinterException::eThreadCreate);
        }
        EXPECT_EQ(CThrottleThread::ProcessThrottle(), nullptr);
    }
    Download(0, 1);
    SetDebugOutputSink(previous);
    ASSERT_TRUE(Began(0));
    std::lock_guard g(g_traceLock);
    EXPECT_EQ(g_trace,
              (std::vector<std::string>{"Enter StartDownload\n", "Enter StartDownload\n"}));
}

TEST_F(Throttle, APrinterThatNeverHadAThreadLeavesTheThrottleAlone)
{
    Download(0, 1);
    Download(1, 1);
    ASSERT_TRUE(Began(0));
    {
        // A cancelled add, or a detected printer that could not be attached: it had a
        // port for a while, never a thread.
        CVarkoPrinter never(&window);
        never.SetPort(new ScriptedPort);
        never.StopThreads();
    }
    EXPECT_NE(CThrottleThread::ProcessThrottle(), nullptr);
    Release(0);
    ASSERT_TRUE(Began(1)) << "the queued download was kept";
}

// A printer is deleted while another's download runs, which stops the throttle; two
// more downloads then start a new throttle at the very address of the old one. The end
// notice of the running download was meant for the old throttle and must not free a
// slot of the new one.
TEST_F(Throttle, AnEndNoticeForAThrottleThatIsGoneReachesNoOtherThrottle)
{
    // Printer 0's first job is held at its first piece and then fails on the second
    // (its file stays set); its second job is held at its first piece.
    WriteGate firstJob, secondJob;
    struct PassOnExit
    {
        WriteGate& a;
        WriteGate& b;
        ~PassOnExit()
        {
            a.Pass();
            b.Pass();
        }
    } passOnExit{firstJob, secondJob};
    auto writes = std::make_shared<std::atomic<int>>(0);
    printers[0].port->OnWrite(
        [&firstJob, &secondJob, writes](std::size_t)
        {
            int n = ++*writes;
            if (n == 1)
                firstJob.Wait();
            else if (n == 2) // the failing piece never gets here
                secondJob.Wait();
        });
    printers[0].port->FailOn(PortCall::Write, 2, CVarkoPrinterException::ePortUnavailable);
    P(0).DownloadFile(dir.MakeFile("long0", 3000).c_str());
    P(0).StartDownload(1);
    ASSERT_TRUE(Began(0));

    CThrottleThread* old = CThrottleThread::ProcessThrottle();
    g_keptSize = sizeof(CThrottleThread);
    g_keepAddress = old;
    P(3).StopThreads();
    ASSERT_EQ(CThrottleThread::ProcessThrottle(), nullptr);
    ASSERT_NE(g_kept.load(), nullptr);

    t_grabs = true;
    g_grabArmed = true;
    P(0).StartDownload(1);
    t_grabs = false;
    ASSERT_EQ(CThrottleThread::ProcessThrottle(), old) << "the new throttle took the old address";
    Download(1, 1);

    firstJob.Pass();
    ASSERT_TRUE(Ended(0, eDownloadFailed));
    // Printer 0's second job runs; it holds the one slot.
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_BEGIN, 2));
    ASSERT_EQ(BeginOrder(), (std::vector<WPARAM>{Record(0), Record(0)}));
    EXPECT_FALSE(Began(1, kQuiet)) << "two downloads ran at once with a limit of 1";
    secondJob.Pass();
    ASSERT_TRUE(Began(1));
}
