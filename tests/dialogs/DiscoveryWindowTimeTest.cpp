// The 10-second search window as the windowed program times it: the real "Please Wait"
// window and its timer, with nobody answering (slow label: it waits the window out).
#include "CSearchNetworkDlg.h"
#include "CSearchNetworkWidget.h"
#include "DialogTestSupport.h"
#include "DiscoveryFakePrinters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

using namespace std::chrono;

static const bool s_env = RegisterDialogTestEnvironment({});

TEST(DiscoveryWindowTime, TheSearchWindowIsNeverCutShort)
{
    ASSERT_EQ(std::string(std::getenv("VARKO_DISCOVERY_BROADCAST")).rfind("127.", 0), 0u);
    DiscoveryFakePrinters::UsePrivateDiscoveryPort();
    InstallQtSearchDialogHost();
    // A timer of the default kind may be moved to a nearby whole second, up to 5 %
    // early. Starting it a quarter of a second past a whole second of the clock the
    // event loop uses makes such a timer fire early for certain.
    auto now = steady_clock::now().time_since_epoch();
    auto intoSecond = duration_cast<milliseconds>(now) % 1000;
    std::this_thread::sleep_for(milliseconds((1250 - intoSecond.count()) % 1000));

    CSearchNetworkDlg dlg(nullptr);
    double seconds = 0;
    EXPECT_EQ(RunSearchWindow(dlg, seconds), IDOK);
    EXPECT_GE(seconds, 10.0) << "the search ended early, and late answers would be missed";
    EXPECT_LT(seconds, 11.0);
}
