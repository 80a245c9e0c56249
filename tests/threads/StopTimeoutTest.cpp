// A job whose port holds it in a wait that no cancel reaches (a driver call that does
// not return): the stop gives up after its 15 s. The job must still find its port, and
// must not touch the printer record that the owner destroys next.
#include "CPrinterThread.h"
#include "CVarkoPrinter.h"
#include "PollUntil.h"
#include "RecordingWindow.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"
#include "ThreadTestSupport.h"
#include "WaitHandles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace std::chrono_literals;

namespace
{
struct PortFate
{
    std::atomic<bool> destroyed{false};
    std::atomic<bool> closedFirst{false};
};

class WatchedPort : public ScriptedPort
{
public:
    explicit WatchedPort(std::shared_ptr<PortFate> fate) : m_fate(std::move(fate)) {}
    ~WatchedPort() override
    {
        m_fate->closedFirst = !WasLeftOpen();
        m_fate->destroyed = true;
    }

private:
    std::shared_ptr<PortFate> m_fate;
};
} // namespace

TEST(StopTimeout, AJobThatOutlivesTheStopKeepsItsPortAndLeavesTheRecordAlone)
{
    ScratchDir dir;
    RecordingWindow window;
    ScriptedPrompt prompt;
    auto fate = std::make_shared<PortFate>();
    WriteGate gate;
    auto printer = std::make_unique<CVarkoPrinter>(&window);
    auto* port = new WatchedPort(fate);
    port->OnWrite([&gate](std::size_t) { gate.Wait(); });
    printer->SetPort(port);
    printer->DownloadFile(dir.MakeFile("label.prn", 3000).c_str());
    printer->StartThread();
    HANDLE thread = printer->GetThread()->m_hThread;
    PostThreadMessage(printer->GetThread()->m_nThreadID, WM_JOB_START, 0, 0);
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_BEGIN, 1));
    PollUntil([&] { return port->CountOf(PortCall::Write) != 0; });
    ASSERT_EQ(port->CountOf(PortCall::Write), 1);

    auto t0 = std::chrono::steady_clock::now();
    printer->StopThreads();
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 14s) << "the job should have been held";
    EXPECT_EQ(printer->GetPort(), nullptr);
    EXPECT_FALSE(fate->destroyed) << "the job is still using the port";

    // The owner destroys the printer, as the collection does after a stop.
    printer.reset();
    gate.Pass();
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(fate->destroyed) << "freed once the job was over";
    EXPECT_TRUE(fate->closedFirst);
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadCanceled}));
    EXPECT_TRUE(prompt.Texts().empty());
}
