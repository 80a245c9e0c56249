// Automatic detection merged into the collection, against printers that answer on
// loopback (each search waits out the real 10-second window, hence the slow label).
#include "CArchive.h"
#include "CNetworkPort.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinters.h"
#include "DiscoveryFakePrinters.h"
#include "LibraryStrings.h"
#include "ScriptedPrompt.h"
#include "StringTable.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using Fake = DiscoveryFakePrinters;

namespace
{
std::vector<std::uint8_t> fileWith(const std::vector<std::pair<std::string, std::string>>& printers)
{
    CArchive ar(CArchive::store);
    ar << static_cast<DWORD>(printers.size());
    for (const auto& [name, address] : printers)
        ar << CString(name) << CString("") << CString("") << CString("CNetworkPort") << DWORD(0)
           << CString(address) << DWORD(9100);
    return ar.Buffer();
}

std::vector<std::pair<std::string, std::string>> listOf(const CVarkoPrinters& c)
{
    std::vector<std::pair<std::string, std::string>> out;
    POSITION pos = c.GetFirstPrinter();
    while (pos)
    {
        CVarkoPrinterData* p = c.GetNextPrinter(pos);
        if (p->Port().Left(9) == "127.0.0.6") // ours, not a simulator's running meanwhile
            out.emplace_back(p->Name().str(), p->Port().str());
    }
    return out;
}

TEST(CollectionDetect, AnswersAreReconciledByAddressWithTheirNames)
{
    RegisterLibraryStrings();
    ASSERT_EQ(std::string(std::getenv("VARKO_DISCOVERY_BROADCAST")).rfind("127.", 0), 0u);
    setenv("VARKO_USB_LIBRARY", "libNoSuchUsbLibrary-odomira.so", 1);

    Fake printers({{"127.0.0.61", Fake::Record("127.0.0.61", "Lobby")},
                   {"127.0.0.62", Fake::Record("127.0.0.62", "")},
                   {"127.0.0.63", Fake::Record("127.0.0.63", "Dock")},
                   {"127.0.0.64", Fake::Record("127.0.0.64", "Gone")},
                   {"127.0.0.65", Fake::Record("127.0.0.65", "Keep")},
                   {"127.0.0.63", Fake::Record("127.0.0.63", "Dock")}});
    ASSERT_TRUE(printers.Ok());
    ASSERT_TRUE(printers.ListenTcp("127.0.0.63"));
    ASSERT_TRUE(printers.ListenTcp("127.0.0.65"));
    // 127.0.0.64 accepts no connection: its port cannot be opened.

    CVarkoPrinters c;
    CArchive ar(fileWith({{"Printer#3", "127.0.0.61"}, {"Keep", "127.0.0.62"}}));
    c.Serialize(ar, nullptr);
    c.SetModified(FALSE);

    ScriptedPrompt prompt;
    c.AutoDetectPrinters(nullptr);

    // Known address, new name: renamed. Known address, empty name: unchanged. New
    // addresses are added; a name another printer holds is made unique; the printer
    // that answered twice is added once; the one that cannot be reached is reported
    // once and not added.
    EXPECT_EQ(listOf(c),
              (std::vector<std::pair<std::string, std::string>>{{"Keep", "127.0.0.62"},
                                                                {"Lobby", "127.0.0.61"},
                                                                {"Dock", "127.0.0.63"},
                                                                {"Keep (2)", "127.0.0.65"}}));
    EXPECT_TRUE(c.IsModified());
    ASSERT_EQ(prompt.Texts().size(), 1u);
    POSITION pos = c.GetFirstPrinter();
    while (pos)
        EXPECT_NE(dynamic_cast<CVarkoPrinter*>(c.GetNextPrinter(pos))->GetThread(), nullptr);
}
} // namespace
