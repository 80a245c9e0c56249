// Detection against the printer simulator: USB printers through the USB discovery
// library, network printers through a real search on loopback (10-second window).
#include "CArchive.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinters.h"
#include "DiscoveryFakePrinters.h"
#include "LibraryStrings.h"
#include "ScriptedPrompt.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace
{
std::vector<std::pair<std::string, std::string>> Listing(const CVarkoPrinters& c)
{
    std::vector<std::pair<std::string, std::string>> out;
    POSITION pos = c.GetFirstPrinter();
    while (pos)
    {
        CVarkoPrinterData* p = c.GetNextPrinter(pos);
        out.emplace_back(p->Name().str(), p->Port().str());
    }
    return out;
}

class CollectionSim : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterLibraryStrings();
        const char* b = std::getenv("VARKO_DISCOVERY_BROADCAST");
        ASSERT_TRUE(b && std::string(b).rfind("127.", 0) == 0);
        m_broadcast = b;
    }
    void TearDown() override
    {
        setenv("VARKO_DISCOVERY_BROADCAST", m_broadcast.c_str(), 1);
        unsetenv("VARKO_USB_LIBRARY");
    }
    // USB only: the network search ends at once because its request cannot be sent.
    void DetectUsbOnly(CVarkoPrinters& c)
    {
        setenv("VARKO_DISCOVERY_BROADCAST", "not-an-address", 1);
        c.AutoDetectPrinters(nullptr);
        setenv("VARKO_DISCOVERY_BROADCAST", m_broadcast.c_str(), 1);
    }
    std::string m_broadcast;
};

TEST_F(CollectionSim, UsbLibraryListsTheSimulatedPrintersAndTheyAreAddedOnce)
{
    SimulatorProcess sim("[Desk]\nkind = usb\nlink = lp0\n[Bench]\nkind = usb\nlink = lp1\n"
                         "[Line]\nkind = serial\n");
    CVarkoPrinters c;
    ScriptedPrompt prompt;
    DetectUsbOnly(c);

    ASSERT_EQ(c.GetPrinterCount(), 2) << "the serial printer is no USB device";
    std::set<std::string> ports;
    POSITION pos = c.GetFirstPrinter();
    while (pos)
    {
        auto* p = dynamic_cast<CVarkoPrinter*>(c.GetNextPrinter(pos));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(p->PortDisplayName(), "USB");
        EXPECT_NE(p->GetThread(), nullptr);
        ports.insert(p->Port().str());
    }
    EXPECT_EQ(ports, (std::set<std::string>{sim.Path("Desk"), sim.Path("Bench")}));
    EXPECT_TRUE(prompt.Texts().empty());
    EXPECT_TRUE(c.IsModified());

    // Found again: reconciled by port, nothing new.
    c.SetModified(FALSE);
    DetectUsbOnly(c);
    EXPECT_EQ(c.GetPrinterCount(), 2);
    EXPECT_FALSE(c.IsModified());
}

TEST_F(CollectionSim, MissingUsbLibraryOrEntryPointFindsNothingAndSaysNothing)
{
    SimulatorProcess sim("[Desk]\nkind = usb\n");
    ScriptedPrompt prompt;
    for (const char* library : {"libNoSuchUsbLibrary-odomira.so", "libc.so.6"})
    {
        setenv("VARKO_USB_LIBRARY", library, 1);
        CVarkoPrinters c;
        DetectUsbOnly(c);
        EXPECT_EQ(c.GetPrinterCount(), 0) << library;
    }
    EXPECT_TRUE(prompt.Texts().empty());
}

TEST_F(CollectionSim, NetworkAnswersRenameKnownAddressesAndAddNewOnes)
{
    SimulatorProcess::Options o;
    o.discovery = true;
    o.extraArgs = {"--discovery-port",
                   std::to_string(DiscoveryFakePrinters::UsePrivateDiscoveryPort())};
    SimulatorProcess sim("[Lobby]\nkind = network\naddress = 127.0.0.81\n"
                         "[Dock]\nkind = network\naddress = 127.0.0.82\ndiscovery = dup\n"
                         "[Odd]\nkind = network\naddress = 127.0.0.83\ndiscovery = badsig\n"
                         "[Keep]\nkind = network\naddress = 127.0.0.84\n",
                         o);
    setenv("VARKO_USB_LIBRARY", "libNoSuchUsbLibrary-odomira.so", 1);
    CArchive ar(CArchive::store);
    ar << DWORD(2);
    for (auto [name, address] : {std::pair{"Printer#3", "127.0.0.81"}, {"Other", "127.0.0.84"}})
        ar << CString(name) << CString("") << CString("") << CString("CNetworkPort") << DWORD(0)
           << CString(address) << DWORD(9100);
    CArchive in(ar.Buffer());
    CVarkoPrinters c;
    c.Serialize(in, nullptr);

    ScriptedPrompt prompt;
    c.AutoDetectPrinters(nullptr);

    std::set<std::pair<std::string, std::string>> ours;
    for (const auto& p : Listing(c))
        if (p.second.rfind("127.0.0.8", 0) == 0) // not a demo's printer answering meanwhile
            ours.insert(p);
    // "Printer#3" answers as Lobby; Keep's name is free, so "Other" becomes Keep; Dock
    // answered twice and is added once; the answer with a bad signature is dropped.
    EXPECT_EQ(ours, (std::set<std::pair<std::string, std::string>>{
                        {"Lobby", "127.0.0.81"}, {"Keep", "127.0.0.84"}, {"Dock", "127.0.0.82"}}));
    EXPECT_TRUE(prompt.Texts().empty());
}
} // namespace

namespace
{
// Three simulated network printers, the middle one switched off.
TEST(CollectionSimBatch, OneReportForTheSwitchedOffPrinterAndTheOthersAreServed)
{
    RegisterLibraryStrings();
    SimulatorProcess sim("[A]\nkind = network\naddress = 127.0.0.91\n"
                         "[B]\nkind = network\naddress = 127.0.0.92\npower = off\n"
                         "[C]\nkind = network\naddress = 127.0.0.93\n");
    CArchive ar(CArchive::store);
    ar << DWORD(3);
    for (auto [name, address] :
         {std::pair{"A", "127.0.0.91"}, {"B", "127.0.0.92"}, {"C", "127.0.0.93"}})
        ar << CString(name) << CString("") << CString("") << CString("CNetworkPort") << DWORD(0)
           << CString(address) << DWORD(9100);
    CArchive in(ar.Buffer());
    CVarkoPrinters c;
    c.Serialize(in, nullptr);
    CMapStringToOb selection;
    for (const char* n : {"A", "B", "C"})
        selection.SetAt(n, c.FindPrinter(n));

    ScriptedPrompt prompt;
    c.PrintOdometers(selection, eUnitsMillimeters);
    EXPECT_EQ(prompt.Texts().size(), 1u);
    c.PrintTestPageRLX(selection);
    EXPECT_EQ(prompt.Texts().size(), 1u) << "test pages report nothing";

    ASSERT_TRUE(SimulatorProcess::WaitFor(
        [&]
        {
            return sim.State("A").Counter("test_pages_rlx") == 1 &&
                   sim.State("C").Counter("test_pages_rlx") == 1;
        },
        5000));
    for (const char* n : {"A", "C"})
    {
        EXPECT_EQ(sim.State(n).Counter("odometer_reports"), 1u) << n;
        EXPECT_EQ(sim.CommandBytes(n), (std::vector<std::string>{"\nURLmp\n", "\nU\n"})) << n;
    }
    EXPECT_TRUE(sim.CommandBytes("B").empty());
}
} // namespace
