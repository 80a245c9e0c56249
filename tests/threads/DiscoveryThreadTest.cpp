// The network search as the collection runs it: the real discovery thread, its socket
// and the search dialog's logic under the console host, against printers that answer
// on loopback. The broadcast goes to 127.255.255.255 (set for every test).
#include "CDetectPrintersThread.h"
#include "CSearchNetworkDlg.h"
#include "CVarkoPrinters.h"
#include "DiscoveryFakePrinters.h"
#include "LibraryStrings.h"
#include "PollUntil.h"
#include "ScriptedPrompt.h"
#include "StringTable.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono;
using Fake = DiscoveryFakePrinters;

namespace
{
// Plays the user: cancels once the dialog holds `after` answers, or at once for 0.
class CancellingHost : public CConsoleSearchHost
{
public:
    CancellingHost(CSearchNetworkDlg*& dlg, int after) : m_dlg(dlg), m_after(after) {}
    int RunModal(CSearchNetworkDlg& dlg) override
    {
        std::atomic<bool> done{false};
        std::thread user(
            [&]
            {
                PollUntil([&] { return done || m_dlg->GetResponseCount() >= m_after; });
                RequestCancel();
            });
        int r = CConsoleSearchHost::RunModal(dlg);
        done = true;
        user.join();
        return r;
    }

private:
    CSearchNetworkDlg*& m_dlg;
    int m_after;
};

class DiscoveryThread : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* b = std::getenv("VARKO_DISCOVERY_BROADCAST");
        ASSERT_TRUE(b && std::string(b).rfind("127.", 0) == 0)
            << "discovery tests must broadcast on loopback only";
        Fake::UsePrivateDiscoveryPort();
    }
    void TearDown() override { SetSearchDialogHostFactory(nullptr); }

    struct Result
    {
        int modal;
        std::vector<std::pair<std::string, std::string>> found;
        double seconds;
    };
    Result Search(CSearchNetworkDlg*& current)
    {
        Result r{};
        CSearchNetworkDlg dlg(nullptr);
        current = &dlg;
        EXPECT_TRUE(dlg.StartDetectThread());
        auto start = steady_clock::now();
        r.modal = dlg.DoModal();
        r.seconds = duration<double>(steady_clock::now() - start).count();
        POSITION pos = dlg.GetFirstResponse();
        while (pos)
            if (const DiscoveryRecord* rec = dlg.GetNextResponse(pos))
                r.found.emplace_back(rec->AddressText().str(), rec->PrinterName().str());
        return r;
    }
};

using Found = std::vector<std::pair<std::string, std::string>>;

TEST_F(DiscoveryThread, CancelAfterAnswersEndsAtOnceAndLateAnswersAreDropped)
{
    Fake printers({{"127.0.0.41", Fake::Record("127.0.0.41", "Alpha")}});
    ASSERT_TRUE(printers.Ok());
    CSearchNetworkDlg* current = nullptr;
    SetSearchDialogHostFactory([&] { return std::make_unique<CancellingHost>(current, 1); });

    CSearchNetworkDlg dlg(nullptr);
    current = &dlg;
    ASSERT_TRUE(dlg.StartDetectThread());
    auto start = steady_clock::now();
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_LT(duration<double>(steady_clock::now() - start).count(), 5.0);
    EXPECT_EQ(printers.RequestsHeard(), 1) << "one request per search";
    ASSERT_EQ(dlg.GetResponseCount(), 1);

    // The search is over: an answer now must not change the list being read.
    PollUntil([] { return CDetectPrintersThread::CurrentSearchThreadId() == 0u; });
    EXPECT_EQ(CDetectPrintersThread::CurrentSearchThreadId(), 0u);
    Fake::SendUnasked("127.0.0.42", Fake::Record("127.0.0.42", "Late"));
    // Nothing can tell that an answer was rightly ignored: the pause is the time a
    // receiver that wrongly still listened would need to take it in.
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(dlg.GetResponseCount(), 1);
}

TEST_F(DiscoveryThread, AFailedSendEndsTheSearchAtOnceWithNothing)
{
    std::string saved = std::getenv("VARKO_DISCOVERY_BROADCAST");
    setenv("VARKO_DISCOVERY_BROADCAST", "not-an-address", 1);
    CSearchNetworkDlg* current = nullptr;
    Result r = Search(current);
    setenv("VARKO_DISCOVERY_BROADCAST", saved.c_str(), 1);
    EXPECT_EQ(r.modal, IDOK);
    EXPECT_TRUE(r.found.empty());
    EXPECT_LT(r.seconds, 2.0);
}

TEST_F(DiscoveryThread, DestroyingTheDialogStopsTheThreadPromptly)
{
    auto start = steady_clock::now();
    {
        CSearchNetworkDlg dlg(nullptr);
        ASSERT_TRUE(dlg.StartDetectThread());
    }
    EXPECT_LT(duration<double>(steady_clock::now() - start).count(), 2.0);
    // The port is free again for the next search's thread (it rebinds without trouble).
    CSearchNetworkDlg again(nullptr);
    EXPECT_TRUE(again.StartDetectThread());
}

TEST_F(DiscoveryThread, TimerOtherThanTheSearchTimerIsIgnored)
{
    // Nothing is searching: the callback must neither crash nor post anywhere.
    CDetectPrintersThread::DetectTimerProc(nullptr, 455);
    CDetectPrintersThread::DetectTimerProc(nullptr, CSearchNetworkDlg::DETECT_TIMER_ID);
    EXPECT_EQ(CDetectPrintersThread::CurrentSearchThreadId(), 0u);
}

} // namespace

// Two searches of one user on one computer share the discovery port, and the system
// hands each answer to one of the two sockets: both would miss printers without a word.
// The second one is refused and says so.
TEST_F(DiscoveryThread, ASecondSearchOfTheSameUserIsRefusedClearly)
{
    RegisterLibraryStrings();
    auto first = std::make_unique<CSearchNetworkDlg>(nullptr);
    ASSERT_TRUE(first->StartDetectThread());
    {
        CSearchNetworkDlg second(nullptr);
        EXPECT_FALSE(second.StartDetectThread());
        EXPECT_TRUE(second.IsAnotherSearchRunning());
    }
    // Another program of the same user (odomira-cli detect beside the window).
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        CSearchNetworkDlg other(nullptr);
        bool started = other.StartDetectThread();
        ::_exit(!started && other.IsAnotherSearchRunning() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other program searched";

    // Detection through the collection tells the user instead of searching.
    setenv("VARKO_USB_LIBRARY", "libNoSuchUsbLibrary-odomira.so", 1);
    ScriptedPrompt prompt;
    {
        CVarkoPrinters printers;
        auto start = steady_clock::now();
        printers.AutoDetectPrinters(nullptr);
        EXPECT_LT(duration<double>(steady_clock::now() - start).count(), 3.0);
        EXPECT_EQ(printers.GetPrinterCount(), 0);
    }
    ASSERT_EQ(prompt.Texts().size(), 1u);
    EXPECT_EQ(prompt.Texts()[0], LoadStringById(IDS_SEARCH_RUNNING));

    // Once the first search is over, the next one runs.
    first.reset();
    CSearchNetworkDlg later(nullptr);
    EXPECT_TRUE(later.StartDetectThread());
}
