// The search window's timer as the dialog runs it: when it fires, the search ends and
// then the dialog, both on the dialog's own thread. A host that shortens the window
// keeps the test quick; the full 10 s are the slow discovery tests' business.
#include "CDetectPrintersThread.h"
#include "CSearchNetworkDlg.h"
#include "DiscoveryFakePrinters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

using namespace std::chrono;
using Fake = DiscoveryFakePrinters;

namespace
{
// The console host with a short search window; remembers the window it was asked for.
class ShortWindowHost : public CConsoleSearchHost
{
public:
    static inline UINT s_askedMs = 0;
    static inline int s_timersSet = 0;

    void SetTimer(UINT id, UINT periodMs) override
    {
        s_askedMs = periodMs;
        ++s_timersSet;
        CConsoleSearchHost::SetTimer(id, 400);
    }
};

int AnswersFrom(const CSearchNetworkDlg& dlg, const std::string& address)
{
    int n = 0;
    POSITION pos = dlg.GetFirstResponse();
    while (pos)
        if (const DiscoveryRecord* rec = dlg.GetNextResponse(pos);
            rec && rec->AddressText().str() == address)
            ++n;
    return n;
}

TEST(SearchDialogTimer, TheTickEndsTheSearchBeforeTheDialogAndNothingIsAddedAfterwards)
{
    ASSERT_EQ(std::string(std::getenv("VARKO_DISCOVERY_BROADCAST")).rfind("127.", 0), 0u);
    Fake::UsePrivateDiscoveryPort();
    Fake printers({{"127.0.0.61", Fake::Record("127.0.0.61", "Alpha")}});
    ASSERT_TRUE(printers.Ok());
    SetSearchDialogHostFactory([] { return std::make_unique<ShortWindowHost>(); });

    CSearchNetworkDlg dlg(nullptr);
    double seconds = 0;
    EXPECT_EQ(RunSearchWindow(dlg, seconds), IDOK);

    EXPECT_EQ(ShortWindowHost::s_timersSet, 1) << "one window per search";
    EXPECT_EQ(ShortWindowHost::s_askedMs, CSearchNetworkDlg::DETECT_TIME_MS);
    EXPECT_GE(seconds, 0.4);
    EXPECT_LT(seconds, 3.0);
    // The search was over before DoModal returned, not some time later on the thread.
    EXPECT_EQ(CDetectPrintersThread::CurrentSearchThreadId(), 0u);
    EXPECT_EQ(AnswersFrom(dlg, "127.0.0.61"), 1);

    // An answer now must not change the list being read. There is no event to wait
    // for when nothing may happen: the thread gets a moment to (wrongly) take it.
    const int before = dlg.GetResponseCount();
    Fake::SendUnasked("127.0.0.62", Fake::Record("127.0.0.62", "Late"));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(dlg.GetResponseCount(), before);
    EXPECT_EQ(AnswersFrom(dlg, "127.0.0.62"), 0);
}

TEST(SearchDialogTimer, ATickWithNoSearchRunningEndsNothing)
{
    // A cancel or the thread's end emptied the slot first: the timer finds no search.
    EXPECT_FALSE(
        CDetectPrintersThread::DetectTimerProc(nullptr, CSearchNetworkDlg::DETECT_TIMER_ID));
    EXPECT_FALSE(
        CDetectPrintersThread::DetectTimerProc(nullptr, CSearchNetworkDlg::DETECT_TIMER_ID + 1));
}
} // namespace
