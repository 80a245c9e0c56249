// The download job of a printer thread, driven through the live printer's own thread
// with a scripted port: what reaches the port, the notices the window gets, the boxes
// the user sees, and the end notice to the dispatching throttle.
#include "CPrinterThread.h"
#include "CSerialPort.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "PollUntil.h"
#include "RecordingWindow.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"
#include "SysCalls.h"
#include "ThreadTestSupport.h"
#include "WaitHandles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
class DownloadJob : public ::testing::Test
{
protected:
    void SetUp() override
    {
        printer = std::make_unique<CVarkoPrinter>(&window);
        port = new ScriptedPort;
        printer->SetPort(port);
        finished = InboxThread::Start(inbox);
        ASSERT_NE(finished, nullptr);
    }
    void TearDown() override
    {
        printer->StopThreads();
        CBaseThread::StopAndWait(finished, 5000);
    }

    // Starts the printer's thread and runs one job; wParam is the stand-in throttle
    // unless asked otherwise.
    void RunJob(bool withThrottle = true)
    {
        if (!printer->GetThread())
            printer->StartThread();
        std::size_t ends = window.Count(WM_DOWNLOAD_END);
        WPARAM dispatcher = withThrottle ? finished->m_nThreadID : 0;
        ASSERT_TRUE(
            PostThreadMessage(printer->GetThread()->m_nThreadID, WM_JOB_START, dispatcher, 0));
        ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_END, ends + 1)) << "the job never ended";
    }
    WPARAM Record() const
    {
        return reinterpret_cast<WPARAM>(static_cast<CVarkoPrinterData*>(printer.get()));
    }

    ScratchDir dir;
    RecordingWindow window;
    ScriptedPrompt prompt;
    ThreadInbox inbox;
    InboxThread* finished = nullptr;
    std::unique_ptr<CVarkoPrinter> printer;
    ScriptedPort* port = nullptr; // owned by the printer
};

std::vector<LPARAM> Multiples(LPARAM step, int count)
{
    std::vector<LPARAM> v;
    for (int k = 1; k <= count; ++k)
        v.push_back(step * k);
    return v;
}
} // namespace

TEST(ProgressStep, IsATwentiethKeptBetweenOneAndTenKibibytes)
{
    EXPECT_EQ(CPrinterThread::ProgressStep(0), 1024u);
    EXPECT_EQ(CPrinterThread::ProgressStep(20479), 1024u);
    EXPECT_EQ(CPrinterThread::ProgressStep(100000), 5000u);
    EXPECT_EQ(CPrinterThread::ProgressStep(204800), 10240u);
    EXPECT_EQ(CPrinterThread::ProgressStep(1000000), 10240u);
    EXPECT_EQ(CPrinterThread::ProgressStep(std::uint64_t(6) << 32), 10240u);
}

TEST_F(DownloadJob, EmptyFileOpensAndClosesThePortAndSucceeds)
{
    printer->DownloadFile(dir.MakeFile("empty.lbl", 0).c_str());
    RunJob();
    auto messages = window.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].message, WM_DOWNLOAD_BEGIN);
    EXPECT_EQ(messages[0].wParam, Record());
    EXPECT_EQ(messages[0].lParam, 0);
    EXPECT_EQ(messages[1].message, WM_DOWNLOAD_END);
    EXPECT_EQ(messages[1].lParam, eDownloadSucceeded);
    EXPECT_EQ(port->Calls(), (std::vector<PortCall>{PortCall::Open, PortCall::Close}));
    EXPECT_TRUE(printer->DownloadFile().IsEmpty()) << "a complete download clears the name";
    EXPECT_TRUE(prompt.Records().empty());
    ASSERT_TRUE(inbox.WaitFor(WM_JOB_FINISHED, 1));
    auto done = inbox.Of(WM_JOB_FINISHED);
    EXPECT_EQ(done[0].wParam, printer->GetThread()->m_nThreadID);
    EXPECT_EQ(done[0].lParam, eDownloadSucceeded);
}

struct ProgressCase
{
    std::size_t size;
    std::vector<LPARAM> notices;
};

// gtest would print the bytes of the case, pointers included, into the test's listed name.
void PrintTo(const ProgressCase& c, std::ostream* os)
{
    *os << c.size << " bytes";
}

class DownloadProgress : public DownloadJob, public ::testing::WithParamInterface<ProgressCase>
{
};

TEST_P(DownloadProgress, SendsTheWholeFileInKibibytePiecesWithRateLimitedNotices)
{
    const ProgressCase& c = GetParam();
    std::string content;
    printer->DownloadFile(dir.MakeFile("label.lbl", c.size, &content).c_str());
    RunJob();
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_BEGIN), (std::vector<LPARAM>{LPARAM(c.size)}));
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_PROGRESS), c.notices);
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadSucceeded}));
    ASSERT_TRUE(port->Written() == content) << "bytes differ from the file";
    auto writes = port->Writes();
    EXPECT_EQ(writes.size(), (c.size + 1023) / 1024);
    for (const auto& w : writes)
        ASSERT_LE(w.size(), 1024u);
    EXPECT_FALSE(port->WasLeftOpen());
    EXPECT_TRUE(printer->DownloadFile().IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DownloadProgress,
    ::testing::Values(
        // 1024 is not more than the step of 1024, so only the second piece is noticed.
        ProgressCase{2048, {2048}},
        // Step 5000: every fifth piece; the last 2720 bytes stay under the step.
        ProgressCase{100000, Multiples(5120, 19)},
        // Step 10240: every eleventh piece.
        ProgressCase{1000000, Multiples(11264, 88)}),
    // Named by size, so the test names stay the same from build to build.
    [](const ::testing::TestParamInfo<ProgressCase>& info)
    { return "Bytes" + std::to_string(info.param.size); });

TEST_F(DownloadJob, PartlyTakenPieceIsOfferedAgainFromWhereThePrinterStopped)
{
    std::string content;
    printer->DownloadFile(dir.MakeFile("label.lbl", 2048, &content).c_str());
    port->AcceptAtMost(600);
    auto t0 = std::chrono::steady_clock::now();
    RunJob();
    auto elapsed = std::chrono::steady_clock::now() - t0;
    auto writes = port->Writes();
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[0], content.substr(0, 600));
    // The position went back by the 424 bytes the printer left: the next piece starts
    // at byte 600.
    EXPECT_EQ(writes[1], content.substr(600, 600));
    EXPECT_EQ(writes[3], content.substr(1800));
    EXPECT_TRUE(port->Written() == content);
    EXPECT_GE(elapsed, 30ms) << "three partial pieces, 10 ms pause each";
    // sent grows by what was taken: 600, 1200 (> 1024, noticed), 1800, 2048.
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_PROGRESS), (std::vector<LPARAM>{1200}));
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadSucceeded}));
}

TEST_F(DownloadJob, CancelDuringTheTransferStopsAfterThatPieceAndKeepsTheName)
{
    CString path = dir.MakeFile("label.lbl", 100000).c_str();
    printer->DownloadFile(path);
    printer->StartThread();
    auto* thread = dynamic_cast<CPrinterThread*>(printer->GetThread());
    port->OnWrite(
        [thread](std::size_t total)
        {
            if (total == 4096)
                thread->CancelJob();
        });
    RunJob();
    EXPECT_EQ(port->Writes().size(), 4u) << "cancel is seen right after the piece it came in";
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadCanceled}));
    EXPECT_EQ(printer->DownloadFile().str(), path.str());
    EXPECT_FALSE(port->WasLeftOpen());
    ASSERT_TRUE(inbox.WaitFor(WM_JOB_FINISHED, 1));
    EXPECT_EQ(inbox.Of(WM_JOB_FINISHED)[0].lParam, eDownloadCanceled);
    EXPECT_TRUE(prompt.Records().empty());

    // The cancel belonged to that job: the next one runs to its end.
    port->OnWrite(nullptr);
    RunJob();
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END),
              (std::vector<LPARAM>{eDownloadCanceled, eDownloadSucceeded}));
}

TEST_F(DownloadJob, CancelAfterTheLastByteStillCountsAsCancelled)
{
    CString path = dir.MakeFile("label.lbl", 3000).c_str();
    printer->DownloadFile(path);
    printer->StartThread();
    auto* thread = dynamic_cast<CPrinterThread*>(printer->GetThread());
    port->OnWrite(
        [thread](std::size_t total)
        {
            if (total == 3000)
                thread->CancelJob();
        });
    RunJob();
    EXPECT_EQ(port->Written().size(), 3000u);
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadCanceled}));
    EXPECT_EQ(printer->DownloadFile().str(), path.str());
}

TEST_F(DownloadJob, CancelBetweenJobsHasNoEffect)
{
    printer->DownloadFile(dir.MakeFile("label.lbl", 1500).c_str());
    printer->StartThread();
    dynamic_cast<CPrinterThread*>(printer->GetThread())->CancelJob();
    RunJob();
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadSucceeded}));
}

TEST_F(DownloadJob, MissingFileReportsTheFileErrorAndNeverBegins)
{
    printer->DownloadFile(dir.Path("no-such.lbl").c_str());
    RunJob();
    EXPECT_EQ(window.Count(WM_DOWNLOAD_BEGIN), 0u);
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadFailed}));
    auto boxes = prompt.Records();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].text.Find("no-such.lbl"), -1) << boxes[0].text.GetString();
    EXPECT_EQ(boxes[0].type & MB_TYPEMASK, MB_OK);
    EXPECT_EQ(boxes[1].text.str(), "File Error");
    EXPECT_EQ(boxes[1].type, MB_ICONINFORMATION);
    EXPECT_TRUE(port->Calls().empty() || port->Calls() == std::vector<PortCall>{PortCall::Close});
    EXPECT_FALSE(printer->DownloadFile().IsEmpty());
    ASSERT_TRUE(inbox.WaitFor(WM_JOB_FINISHED, 1));
    EXPECT_EQ(inbox.Of(WM_JOB_FINISHED)[0].lParam, eDownloadFailed);
}

TEST_F(DownloadJob, PortThatCannotOpenReportsAConnectionErrorAfterTheBegin)
{
    printer->DownloadFile(dir.MakeFile("label.lbl", 5000).c_str());
    port->FailOn(PortCall::Open, 1, CVarkoPrinterException::ePortUnavailable);
    RunJob();
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_BEGIN), (std::vector<LPARAM>{5000}));
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadFailed}));
    auto boxes = prompt.Records();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(
        boxes[0].text.str(),
        CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable).GetReportText().str());
    EXPECT_EQ(boxes[1].text.str(), "Printer Connection Error");
    EXPECT_EQ(boxes[1].type, MB_ICONINFORMATION);
    EXPECT_EQ(port->CountOf(PortCall::Write), 0);
    EXPECT_FALSE(port->WasLeftOpen());
}

TEST_F(DownloadJob, WriteFailureMidTransferClosesEverythingAndFails)
{
    printer->DownloadFile(dir.MakeFile("label.lbl", 10000).c_str());
    port->FailOn(PortCall::Write, 3, 10054, true);
    RunJob();
    EXPECT_EQ(port->Written().size(), 2048u);
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadFailed}));
    auto texts = prompt.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1].str(), "Printer Connection Error");
    EXPECT_FALSE(port->WasLeftOpen());
    EXPECT_FALSE(printer->DownloadFile().IsEmpty());
}

TEST_F(DownloadJob, FileThatShrinksDuringTheTransferEndsTheJobAsAFileError)
{
    // The file is read a block at a time: what was read before it shrank still goes
    // out, then the bytes it still has, then the job fails.
    constexpr std::size_t block = CPrinterThread::READ_BLOCK_SIZE;
    constexpr std::size_t shrunk = block + 1500;
    std::string content;
    std::string path = dir.MakeFile("label.lbl", 4 * block, &content);
    printer->DownloadFile(path.c_str());
    port->OnWrite(
        [path](std::size_t total)
        {
            if (total == 1024)
            {
                ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(shrunk)), 0);
            }
        });
    RunJob();
    EXPECT_TRUE(port->Written() == content.substr(0, shrunk));
    auto writes = port->Writes();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(writes.back().size(), 1500u % 1024) << "the bytes left after the last whole piece";
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadFailed}));
    auto texts = prompt.Texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1].str(), "File Error");
    EXPECT_FALSE(printer->DownloadFile().IsEmpty());
}

TEST_F(DownloadJob, JobWithoutADispatcherSendsNoEndNoticeToAnyThread)
{
    printer->DownloadFile(dir.MakeFile("a.lbl", 100).c_str());
    RunJob(false);
    printer->DownloadFile(dir.MakeFile("b.lbl", 100).c_str());
    RunJob(true);
    ASSERT_TRUE(inbox.WaitFor(WM_JOB_FINISHED, 1));
    // No event marks a notice that was rightly never sent: the pause gives a wrong one
    // the time to arrive.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(inbox.Of(WM_JOB_FINISHED).size(), 1u) << "only the dispatched job reports";
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END),
              (std::vector<LPARAM>{eDownloadSucceeded, eDownloadSucceeded}));
}

TEST_F(DownloadJob, GoneNotificationWindowOrGoneThrottleDoNotHurtTheJob)
{
    auto owner = std::make_unique<RecordingWindow>();
    CVarkoPrinter orphan(owner.get());
    auto* orphanPort = new ScriptedPort;
    orphan.SetPort(orphanPort);
    orphan.DownloadFile(dir.MakeFile("label.lbl", 3000).c_str());
    orphan.StartThread();
    owner.reset(); // the window closes while the printer lives on

    // The dispatcher has ended before the job reports to it.
    ThreadInbox goneInbox;
    InboxThread* gone = InboxThread::Start(goneInbox);
    ASSERT_NE(gone, nullptr);
    WPARAM goneDispatcher = gone->m_nThreadID;
    ASSERT_TRUE(CBaseThread::StopAndWait(gone, 5000));

    PostThreadMessage(orphan.GetThread()->m_nThreadID, WM_JOB_START, goneDispatcher, 0);
    PollUntil([&] { return orphanPort->CountOf(PortCall::Close) != 0; });
    EXPECT_EQ(orphanPort->Written().size(), 3000u);
    orphan.StopThreads();
    // Read only once the thread has ended: the job writes the record without a lock.
    EXPECT_TRUE(orphan.DownloadFile().IsEmpty()) << "the job ran to its successful end";
    EXPECT_EQ(orphan.GetPort(), nullptr);
}

TEST_F(DownloadJob, StartAndStopFollowTheOwnerProtocol)
{
    CVarkoPrinter portless(&window);
    try
    {
        portless.StartThread();
        FAIL() << "a printer without a port has no thread";
    }
    catch (const CVarkoPrinterException& e)
    {
        EXPECT_EQ(e.GetErrorCode(), CVarkoPrinterException::ePortUnavailable);
    }
    EXPECT_EQ(portless.GetThread(), nullptr);

    {
        ScopedSysCall<decltype(SysCalls::pthread_create)> refuse(
            &SysCalls::pthread_create,
            [](pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; });
        // The thread starts when the first download needs it, and that is where a
        // refusal is reported.
        printer->StartThread();
        try
        {
            printer->StartDownload(1);
            FAIL() << "a refused thread must be reported";
        }
        catch (const CVarkoPrinterException& e)
        {
            EXPECT_EQ(e.GetErrorCode(), CVarkoPrinterException::eThreadCreate);
        }
        EXPECT_EQ(printer->GetThread(), nullptr);
    }

    printer->StartThread();
    auto* thread = dynamic_cast<CPrinterThread*>(printer->GetThread());
    ASSERT_NE(thread, nullptr);
    EXPECT_EQ(thread->GetPrinter(), printer.get());
    EXPECT_EQ(thread->GetMainWndHandle(), window.GetSafeHwnd());
    printer->StartThread();
    EXPECT_EQ(printer->GetThread(), thread) << "a running thread is kept, not doubled";

    // A stop during a long, slow transfer cancels it and returns within a piece.
    printer->DownloadFile(dir.MakeFile("big.lbl", 1 << 20).c_str());
    port->WriteDelay(5ms);
    HANDLE handle = thread->m_hThread;
    PostThreadMessage(thread->m_nThreadID, WM_JOB_START, 0, 0);
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_BEGIN, 1));
    auto t0 = std::chrono::steady_clock::now();
    printer->StopThreads();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 2s);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
    EXPECT_EQ(printer->GetThread(), nullptr);
    EXPECT_EQ(printer->GetPort(), nullptr);
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadCanceled}));
}

TEST_F(DownloadJob, WindowAssignedDirectlyAsTheFrameworkDoesGetsTheNotices)
{
    RecordingWindow other;
    CVarkoPrinter unowned(nullptr);
    auto* unownedPort = new ScriptedPort;
    unowned.SetPort(unownedPort);
    unowned.DownloadFile(dir.MakeFile("label.lbl", 10).c_str());
    auto* thread = static_cast<CPrinterThread*>(
        AfxBeginThread(RUNTIME_CLASS(CPrinterThread), 0, 0, CREATE_SUSPENDED));
    ASSERT_NE(thread, nullptr);
    thread->m_pMainWnd = &other;
    thread->SetPrinter(&unowned);
    thread->ResumeThread();
    PostThreadMessage(thread->m_nThreadID, WM_JOB_START, 0, 0);
    ASSERT_TRUE(other.WaitFor(WM_DOWNLOAD_END, 1));
    EXPECT_EQ(other.LParams(WM_DOWNLOAD_BEGIN), (std::vector<LPARAM>{10}));
    ASSERT_TRUE(CBaseThread::StopAndWait(thread, 5000));
}

// A query and a download on one printer share its one port object: the query's close
// would end the transfer under the job. A query during a download is refused.
TEST_F(DownloadJob, AQueryDuringADownloadIsRefusedAndTheTransferGoesOn)
{
    auto* serial = new ScriptedPortOf<CSerialPort>;
    printer->SetPort(serial);
    port = nullptr;
    auto gate = std::make_shared<WriteGate>();
    serial->OnWrite(
        [gate](std::size_t total)
        {
            if (total == 1024)
                gate->Wait();
        });
    std::string content;
    printer->DownloadFile(dir.MakeFile("label.lbl", 3000, &content).c_str());
    printer->StartThread();
    PostThreadMessage(printer->GetThread()->m_nThreadID, WM_JOB_START, 0, 0);
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_BEGIN, 1));
    PollUntil([&] { return serial->CountOf(PortCall::Write) != 0; });

    auto codeOf = [](auto&& f) -> DWORD
    {
        try
        {
            f();
        }
        catch (const CVarkoPrinterException& e)
        {
            EXPECT_TRUE(e.IsOsError());
            return e.GetErrorCode();
        }
        return 0;
    };
    EXPECT_EQ(codeOf([&] { printer->SerialNumber(); }), ERROR_BUSY);
    int head = 0, total = 0;
    EXPECT_EQ(codeOf([&] { printer->Odometers(head, total, eUnitsInches); }), ERROR_BUSY);
    EXPECT_EQ(serial->CountOf(PortCall::Open), 1) << "the query never touched the port";

    gate->Pass();
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_END, 1));
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadSucceeded}));
    EXPECT_TRUE(serial->Written() == content);

    // Once the download is over, the query goes through.
    serial->QueueReply("SN77\r\n");
    EXPECT_EQ(printer->SerialNumber().str(), "SN77");
}

// The other way round: a job that finds a query using the port waits for it.
TEST_F(DownloadJob, AJobWaitsForAQueryThatHasThePort)
{
    auto* serial = new ScriptedPortOf<CSerialPort>;
    printer->SetPort(serial);
    port = nullptr;
    auto gate = std::make_shared<WriteGate>();
    auto first = std::make_shared<std::atomic<bool>>(true);
    serial->OnWrite(
        [gate, first](std::size_t)
        {
            if (first->exchange(false))
                gate->Wait();
        });
    serial->QueueReply("SN9\r\n");
    printer->DownloadFile(dir.MakeFile("label.lbl", 100).c_str());
    printer->StartThread();

    CString serialNumber;
    std::thread query([&] { serialNumber = printer->SerialNumber(); });
    PollUntil([&] { return serial->CountOf(PortCall::Write) != 0; });
    PostThreadMessage(printer->GetThread()->m_nThreadID, WM_JOB_START, 0, 0);
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_BEGIN, 1));
    // The job waits without a sign: the pause is the time it would need to open the
    // port wrongly.
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(serial->CountOf(PortCall::Open), 1) << "the job opened the port under the query";
    gate->Pass();
    query.join();
    EXPECT_EQ(serialNumber.str(), "SN9");
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_END, 1));
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadSucceeded}));
    EXPECT_EQ(serial->Calls(), (std::vector<PortCall>{
                                   PortCall::Open, PortCall::Write, PortCall::Read, PortCall::Close,
                                   PortCall::Open, PortCall::Write, PortCall::Close}));
}
