// Adding and modifying printers through the real configuration dialog, scripted through
// the modal-dialog seam: the name and port checks, the dialog again after a clash, and a
// cancel after a clash that must leave the printer as it was.
#include "CArchive.h"
#include "CIPAddressCtrl.h"
#include "CNetworkPort.h"
#include "CThrottleThread.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "CVarkoPrinters.h"
#include "DialogTestSupport.h"
#include "LibraryStrings.h"
#include "RecordingWindow.h"
#include "ScriptedModalRunner.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"
#include "StringTable.h"
#include "ThreadTestSupport.h"

#include <QComboBox>
#include <QLineEdit>

#include <memory>
#include <new>
#include <string>
#include <vector>

static const bool s_env = RegisterDialogTestEnvironment({"COM1", "COM3"});

namespace
{
// One dialog's script: enter a network printer with this name and address, press OK.
CScriptedModalRunner::Step Network(const char* name, BYTE last)
{
    return [name, last](IModalDialog& d)
    {
        QWidget* w = W(d);
        Type(w, "IDC_PRINTER_NAME", name);
        Choose(w, "IDC_COMM_TYPE", "Network");
        Control<CIPAddressCtrl>(w, "IDC_IP_ADDRESS")->SetAddress(10, 0, 0, last);
        return IDOK;
    };
}

std::vector<std::string> Listing(const CVarkoPrinters& c)
{
    std::vector<std::string> out;
    POSITION pos = c.GetFirstPrinter();
    while (pos)
    {
        CVarkoPrinterData* p = c.GetNextPrinter(pos);
        out.push_back(p->Name().str() + "@" + p->Port().str());
    }
    return out;
}

class CollectionDialog : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterLibraryStrings();
        // Two printers to clash with: Lobby on 10.0.0.1, Dock on serial com3.
        CArchive ar(CArchive::store);
        ar << DWORD(2);
        ar << CString("Lobby") << CString("") << CString("") << CString("CNetworkPort") << DWORD(0)
           << CString("10.0.0.1") << DWORD(9100);
        ar << CString("Dock") << CString("") << CString("") << CString("CSerialPort") << DWORD(0)
           << CString("\\\\.\\com3") << DWORD(9600) << DWORD(8) << DWORD(0) << DWORD(0) << DWORD(2)
           << CString("com3");
        CArchive in(ar.Buffer());
        c.Serialize(in, nullptr);
        c.SetModified(FALSE);
    }
    CVarkoPrinter* Live(const char* name)
    {
        return dynamic_cast<CVarkoPrinter*>(c.FindPrinter(name));
    }

    CScriptedModalRunner runner;
    ScriptedPrompt prompt;
    CVarkoPrinters c;
};

TEST_F(CollectionDialog, AddedPrinterEntersWithItsThread)
{
    runner.Expect(Network("Hall", 7));
    c.AddPrinter(nullptr, eConfigHideCalibration);
    EXPECT_EQ(Listing(c),
              (std::vector<std::string>{"Lobby@10.0.0.1", "Dock@com3", "Hall@10.0.0.7"}));
    ASSERT_NE(Live("Hall"), nullptr);
    EXPECT_NE(Live("Hall")->GetThread(), nullptr);
    EXPECT_TRUE(c.IsModified());
    EXPECT_TRUE(prompt.Texts().empty());
}

TEST_F(CollectionDialog, NameAndPortClashesAskAgainWithTheEnteredValues)
{
    QString shownAgain;
    runner.Expect(Network("Lobby", 8)); // the name is taken
    runner.Expect(
        [&](IModalDialog& d)
        {
            shownAgain = Control<QLineEdit>(W(d), "IDC_PRINTER_NAME")->text();
            Type(W(d), "IDC_PRINTER_NAME", "Hall");
            Choose(W(d), "IDC_COMM_TYPE", "Serial");
            Choose(W(d), "IDC_SERIAL_PORT", "COM3"); // Dock's port, in other letter case
            return IDOK;
        });
    runner.Expect(Network("Hall", 8));
    c.AddPrinter(nullptr, eConfigHideCalibration);

    EXPECT_EQ(shownAgain, "Lobby");
    ASSERT_EQ(prompt.Texts().size(), 2u);
    EXPECT_EQ(prompt.Texts()[0],
              "That printer name has already been used.  Please choose another name.");
    EXPECT_EQ(prompt.Texts()[1],
              "That printer port has already been used.  Please choose another port.");
    EXPECT_EQ(Listing(c),
              (std::vector<std::string>{"Lobby@10.0.0.1", "Dock@com3", "Hall@10.0.0.8"}));
}

TEST_F(CollectionDialog, AddCancelledAfterAClashAddsNothing)
{
    runner.Expect(Network("Dock", 9));
    runner.Expect([](IModalDialog&) { return IDCANCEL; });
    c.AddPrinter(nullptr, eConfigHideCalibration);
    EXPECT_EQ(Listing(c), (std::vector<std::string>{"Lobby@10.0.0.1", "Dock@com3"}));
    EXPECT_FALSE(c.IsModified());
}

TEST_F(CollectionDialog, ModifyWithoutChangesDoesNotClashWithItself)
{
    runner.Expect([](IModalDialog&) { return IDOK; });
    c.ModifyPrinter(c.FindPrinter("Lobby"), eConfigHideCalibration);
    EXPECT_TRUE(prompt.Texts().empty());
    EXPECT_TRUE(c.IsModified());
    ASSERT_NE(Live("Lobby"), nullptr);
    EXPECT_EQ(Live("Lobby")->Port(), "10.0.0.1");
    EXPECT_NE(Live("Lobby")->GetThread(), nullptr);
}

TEST_F(CollectionDialog, ModifyCancelledLeavesEverythingAsItWas)
{
    CWinThread* thread = Live("Lobby")->GetThread();
    runner.Expect(
        [](IModalDialog& d)
        {
            Type(W(d), "IDC_PRINTER_NAME", "Changed");
            return IDCANCEL;
        });
    c.ModifyPrinter(c.FindPrinter("Lobby"), eConfigHideCalibration);
    EXPECT_FALSE(c.IsModified());
    ASSERT_NE(Live("Lobby"), nullptr);
    EXPECT_EQ(Live("Lobby")->GetThread(), thread);
}

// The clash took the entered values over (and replaced the port) before the user was
// asked again; cancelling then must give back the printer as it was before the first OK.
TEST_F(CollectionDialog, ModifyCancelledAfterAClashRestoresTheFormerPrinter)
{
    runner.Expect(Network("Dock", 42));
    runner.Expect([](IModalDialog&) { return IDCANCEL; });
    c.ModifyPrinter(c.FindPrinter("Lobby"), eConfigHideCalibration);

    ASSERT_EQ(prompt.Texts().size(), 1u);
    EXPECT_EQ(Listing(c), (std::vector<std::string>{"Dock@com3", "Lobby@10.0.0.1"}));
    CVarkoPrinter* lobby = Live("Lobby");
    ASSERT_NE(lobby, nullptr);
    EXPECT_NE(lobby->GetThread(), nullptr) << "its thread runs again";
    EXPECT_NE(dynamic_cast<CNetworkPort*>(lobby->GetPort()), nullptr);
    EXPECT_EQ(Live("Dock")->Port(), "com3") << "the other printer is untouched";
    EXPECT_NE(Live("Dock"), lobby);
    EXPECT_FALSE(c.IsModified());
}

TEST_F(CollectionDialog, ModifyToAFreeNameRenamesInPlaceOfTheOldKey)
{
    runner.Expect(Network("Foyer", 1));
    c.ModifyPrinter(c.FindPrinter("Lobby"), eConfigHideCalibration);
    EXPECT_EQ(c.FindPrinter("Lobby"), nullptr);
    ASSERT_NE(Live("Foyer"), nullptr);
    EXPECT_NE(Live("Foyer")->GetThread(), nullptr);
    EXPECT_EQ(c.GetPrinterCount(), 2);
    EXPECT_TRUE(c.IsModified());
}
// Cancelling an add stops the printer that never got a thread: that must not stop the
// process-wide throttle, which would drop every download queued for other printers.
TEST_F(CollectionDialog, CancellingAnAddKeepsTheDownloadsQueuedForOtherPrinters)
{
    ScratchDir dir;
    RecordingWindow window;
    WriteGate gate;
    std::vector<std::unique_ptr<CVarkoPrinter>> others;
    for (int i = 0; i < 2; ++i)
    {
        auto p = std::make_unique<CVarkoPrinter>(&window);
        auto* port = new ScriptedPort;
        port->OnWrite([&gate](std::size_t) { gate.Wait(); });
        p->SetPort(port);
        p->StartThread();
        p->DownloadFile(dir.MakeFile("label" + std::to_string(i), 100).c_str());
        p->StartDownload(1);
        others.push_back(std::move(p));
    }
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_BEGIN, 1));

    runner.Expect(Network("Dock", 9)); // the name is taken: the port is taken over
    runner.Expect([](IModalDialog&) { return IDCANCEL; });
    c.AddPrinter(nullptr, eConfigHideCalibration);
    EXPECT_EQ(Listing(c), (std::vector<std::string>{"Lobby@10.0.0.1", "Dock@com3"}));

    EXPECT_NE(CThrottleThread::ProcessThrottle(), nullptr);
    gate.Pass();
    EXPECT_TRUE(window.WaitFor(WM_DOWNLOAD_BEGIN, 2)) << "the queued download was dropped";
    EXPECT_TRUE(window.WaitFor(WM_DOWNLOAD_END, 2));
    for (auto& p : others)
        p->StopThreads();
}

// The printer given to ModifyPrinter must be one of this collection's: its name alone
// would find, remove and replace another printer that happens to have the same name.
TEST_F(CollectionDialog, ModifyRefusesAPrinterThatIsNotInTheCollection)
{
    CVarkoPrinters other;
    CArchive ar(CArchive::store);
    ar << DWORD(1) << CString("Lobby") << CString("") << CString("") << CString("CNetworkPort")
       << DWORD(0) << CString("10.0.0.99") << DWORD(9100);
    CArchive in(ar.Buffer());
    other.Serialize(in, nullptr);
    CVarkoPrinterData* foreign = other.FindPrinter("Lobby");
    ASSERT_NE(foreign, nullptr);

    try
    {
        c.ModifyPrinter(foreign, eConfigHideCalibration);
        ADD_FAILURE() << "a printer of another collection was taken";
    }
    catch (const CVarkoPrinterException& e)
    {
        EXPECT_EQ(e.GetErrorCode(), CVarkoPrinterException::eConfiguration);
    }
    EXPECT_TRUE(runner.Records().empty()) << "no dialog for it";
    EXPECT_EQ(Listing(c), (std::vector<std::string>{"Lobby@10.0.0.1", "Dock@com3"}));
    EXPECT_EQ(other.FindPrinter("Lobby"), foreign);
    EXPECT_FALSE(c.IsModified());
}

// Running out of memory in the middle of a modify (here: in the dialog) must not lose
// the printer from the list with its thread still running.
TEST_F(CollectionDialog, ModifyThatRunsOutOfMemoryKeepsThePrinterInTheList)
{
    CWinThread* thread = Live("Lobby")->GetThread();
    runner.Expect([](IModalDialog&) -> int { throw std::bad_alloc(); });
    EXPECT_THROW(c.ModifyPrinter(c.FindPrinter("Lobby"), eConfigHideCalibration), std::bad_alloc);
    EXPECT_EQ(Listing(c), (std::vector<std::string>{"Dock@com3", "Lobby@10.0.0.1"}));
    ASSERT_NE(Live("Lobby"), nullptr);
    EXPECT_EQ(Live("Lobby")->GetThread(), thread);
}
} // namespace
