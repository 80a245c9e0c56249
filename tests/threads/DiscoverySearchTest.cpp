// One full 10-second search window with odd answers among the good ones (slow label).
#include "CSearchNetworkDlg.h"
#include "DiscoveryFakePrinters.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

using namespace std::chrono;
using Fake = DiscoveryFakePrinters;
using Found = std::vector<std::pair<std::string, std::string>>;

namespace
{
TEST(DiscoverySearch, SearchRunsTenSecondsAndKeepsGoodAnswersInOrder)
{
    ASSERT_EQ(std::string(std::getenv("VARKO_DISCOVERY_BROADCAST")).rfind("127.", 0), 0u);
    std::vector<BYTE> longer = Fake::Record("127.0.0.55", "Long", 600);
    std::vector<BYTE> badSignature = Fake::Record("127.0.0.56", "Bad");
    badSignature[0] = 0x2E;
    Fake printers({{"127.0.0.51", Fake::Record("127.0.0.51", "Alpha")},
                   {"127.0.0.52", Fake::Record("127.0.0.52", "Beta")},
                   {"127.0.0.51", Fake::Record("127.0.0.51", "Alpha")}, // answers twice
                   {"127.0.0.56", badSignature},
                   {"127.0.0.57", Fake::Record("127.0.0.57", "Short", 50)},
                   {"127.0.0.55", longer}});
    ASSERT_TRUE(printers.Ok());

    CSearchNetworkDlg dlg(nullptr);
    ASSERT_TRUE(dlg.StartDetectThread());
    auto start = steady_clock::now();
    EXPECT_EQ(dlg.DoModal(), IDOK);
    double seconds = duration<double>(steady_clock::now() - start).count();
    EXPECT_GE(seconds, 9.9);
    EXPECT_LT(seconds, 12.0);
    Found found;
    POSITION pos = dlg.GetFirstResponse();
    while (pos)
        if (const DiscoveryRecord* rec = dlg.GetNextResponse(pos);
            rec && rec->AddressText().Left(9) == "127.0.0.5") // ours, not a demo's
            found.emplace_back(rec->AddressText().str(), rec->PrinterName().str());
    EXPECT_EQ(found, (Found{{"127.0.0.51", "Alpha"},
                            {"127.0.0.52", "Beta"},
                            {"127.0.0.51", "Alpha"},
                            {"127.0.0.55", "Long"}}));
}
} // namespace
