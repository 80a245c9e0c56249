// The collection's settings file, batch commands and download service, without a
// network: files are built by hand from the stored layouts, and the printers' ports
// are replaced by scripted ones where traffic matters.
#include "CArchive.h"
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CThrottleThread.h"
#include "CUSBPort.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "CVarkoPrinters.h"
#include "LibraryStrings.h"
#include "PollUntil.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"
#include "StringTable.h"
#include "SysCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

namespace
{
// Builds a settings file the way the layouts describe it, byte by byte.
struct FileBuilder
{
    Bytes b;
    FileBuilder& u32(std::uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    FileBuilder& str(const std::string& s) // lengths below 255 only
    {
        b.push_back(static_cast<std::uint8_t>(s.size()));
        b.insert(b.end(), s.begin(), s.end());
        return *this;
    }
    FileBuilder& record(const std::string& name, const std::string& model,
                        const std::string& download, const std::string& portClass,
                        std::uint32_t calibrate)
    {
        return str(name).str(model).str(download).str(portClass).u32(calibrate);
    }
};

Bytes networkExample()
{
    FileBuilder f;
    f.u32(1).record("Printer#1", "", "", "CNetworkPort", 0).str("192.168.0.50").u32(6101);
    return f.b;
}

Bytes fourKinds()
{
    FileBuilder f;
    f.u32(4);
    f.record("Dock", "RX-400", "/srv/labels/dock.prn", "CSerialPort", 1)
        .str("\\\\.\\COM3")
        .u32(19200)
        .u32(7)
        .u32(2)
        .u32(2)
        .u32(1)
        .str("COM3");
    f.record("Office", "RX-200", "", "CParallelPort", 0).str("\\\\.\\LPT1").str("LPT1");
    f.record("Desk", "RX-USB", "", "CUSBPort", 7).str("/dev/usb/lp0");
    f.record("Lobby", "", "", "CNetworkPort", 0).str("10.1.2.3").u32(9100);
    return f.b;
}

void load(CVarkoPrinters& c, const Bytes& bytes)
{
    CArchive ar(bytes);
    c.Serialize(ar, nullptr);
}

Bytes save(CVarkoPrinters& c)
{
    return c.SaveToBytes();
}

CVarkoPrinter* live(CVarkoPrinterData* p)
{
    return dynamic_cast<CVarkoPrinter*>(p);
}

std::vector<std::string> names(const CVarkoPrinters& c)
{
    std::vector<std::string> n;
    POSITION pos = c.GetFirstPrinter();
    while (pos)
        n.push_back(c.GetNextPrinter(pos)->Name().str());
    return n;
}

class CollectionFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        RegisterLibraryStrings();
        const char* base = std::getenv("VARKO_SETTINGS_ROOT");
        ASSERT_NE(base, nullptr);
        // ctest runs the cases of one binary side by side: each gets a root of its own.
        std::string root = std::string(base) + "/" +
                           ::testing::UnitTest::GetInstance()->current_test_info()->name();
        setenv("VARKO_SETTINGS_ROOT", root.c_str(), 1);
        m_dir = root + "/files";
        fs::remove_all(root);
        fs::create_directories(m_dir);
    }
    std::string m_dir;
};

TEST_F(CollectionFile, EmptyCollectionIsFourZeroBytesBothWays)
{
    CVarkoPrinters c;
    EXPECT_EQ(save(c), (Bytes{0, 0, 0, 0}));
    load(c, Bytes{0, 0, 0, 0});
    EXPECT_EQ(c.GetPrinterCount(), 0);
    EXPECT_EQ(c.GetFirstPrinter(), nullptr);
    EXPECT_FALSE(c.IsModified());
}

TEST_F(CollectionFile, NetworkExampleLoadsAndSavesByteForByte)
{
    const Bytes example = networkExample();
    // The documented start of the file.
    const Bytes start = {0x01, 0x00, 0x00, 0x00, 0x09, 'P',  'r', 'i',  'n',  't',  'e',
                         'r',  '#',  '1',  0x00, 0x00, 0x0C, 'C', 'N',  'e',  't',  'w',
                         'o',  'r',  'k',  'P',  'o',  'r',  't', 0x00, 0x00, 0x00, 0x00};
    ASSERT_TRUE(std::equal(start.begin(), start.end(), example.begin()));

    CVarkoPrinters c;
    load(c, example);
    ASSERT_EQ(c.GetPrinterCount(), 1);
    CVarkoPrinter* p = live(c.FindPrinter("Printer#1"));
    ASSERT_NE(p, nullptr);
    auto* port = dynamic_cast<CNetworkPort*>(p->GetPort());
    ASSERT_NE(port, nullptr);
    BYTE a, b, cc, d;
    port->GetIPAddress(a, b, cc, d);
    EXPECT_EQ(CString::Formatted("%u.%u.%u.%u", a, b, cc, d), "192.168.0.50");
    EXPECT_EQ(port->m_tcpPort, 6101u);
    EXPECT_NE(p->GetThread(), nullptr) << "every loaded printer runs its thread";
    EXPECT_FALSE(c.IsModified()) << "a file loaded as it is leaves nothing to save";
    EXPECT_EQ(save(c), example);
}

TEST_F(CollectionFile, HandBuiltRecordsOfAllFourPortKindsLoadToTheirFields)
{
    const Bytes file = fourKinds();
    CVarkoPrinters c;
    load(c, file);
    ASSERT_EQ(names(c), (std::vector<std::string>{"Dock", "Office", "Desk", "Lobby"}));

    CVarkoPrinter* dock = live(c.FindPrinter("Dock"));
    ASSERT_NE(dock, nullptr);
    EXPECT_EQ(dock->Model(), "RX-400");
    EXPECT_EQ(dock->DownloadFile(), "/srv/labels/dock.prn");
    EXPECT_TRUE(dock->m_bCalibrate);
    auto* serial = dynamic_cast<CSerialPort*>(dock->GetPort());
    ASSERT_NE(serial, nullptr);
    int baud, data, parity, stop, flow;
    serial->GetSettings(baud, data, parity, stop, flow);
    EXPECT_EQ(baud, 19200);
    EXPECT_EQ(data, 7);
    EXPECT_EQ(parity, 2);
    EXPECT_EQ(stop, 2);
    EXPECT_EQ(flow, 1);
    EXPECT_EQ(dock->Port(), "COM3");

    CVarkoPrinter* office = live(c.FindPrinter("Office"));
    ASSERT_NE(office, nullptr);
    EXPECT_NE(dynamic_cast<CParallelPort*>(office->GetPort()), nullptr);
    EXPECT_EQ(office->Port(), "LPT1");
    EXPECT_FALSE(office->m_bCalibrate);

    CVarkoPrinter* desk = live(c.FindPrinter("Desk"));
    ASSERT_NE(desk, nullptr);
    EXPECT_NE(dynamic_cast<CUSBPort*>(desk->GetPort()), nullptr);
    EXPECT_EQ(desk->Port(), "/dev/usb/lp0");
    EXPECT_FALSE(desk->m_bCalibrate) << "only the value 1 means on";
    EXPECT_EQ(desk->PortDisplayName(), "USB");

    CVarkoPrinter* lobby = live(c.FindPrinter("Lobby"));
    ASSERT_NE(lobby, nullptr);
    EXPECT_EQ(lobby->Port(), "10.1.2.3");

    // Saved again, the only difference is the calibrate flag 7 now written as 0.
    Bytes expected = file;
    FileBuilder flag7;
    flag7.str("CUSBPort").u32(7);
    FileBuilder flag0;
    flag0.str("CUSBPort").u32(0);
    auto at = std::search(expected.begin(), expected.end(), flag7.b.begin(), flag7.b.end());
    ASSERT_NE(at, expected.end());
    std::copy(flag0.b.begin(), flag0.b.end(), at);
    EXPECT_EQ(save(c), expected);
}

TEST_F(CollectionFile, SaveLoadSaveThroughFilesGivesIdenticalBytes)
{
    std::string path = m_dir + "/fleet.vps";
    {
        CVarkoPrinters c;
        load(c, fourKinds());
        c.SaveToFile(path.c_str());
    }
    Bytes first = ReadWholeFile(path.c_str());
    CVarkoPrinters again;
    again.LoadFromFile(path.c_str(), nullptr);
    again.SaveToFile(path.c_str());
    EXPECT_EQ(ReadWholeFile(path.c_str()), first);
    EXPECT_EQ(again.GetPrinterCount(), 4);
}

TEST_F(CollectionFile, TwoPrintersOfOneNameBothLoadAndNeitherLeaks)
{
    FileBuilder f;
    f.u32(3);
    f.record("Lobby", "", "", "CNetworkPort", 0).str("10.0.0.1").u32(9100);
    f.record("Lobby", "", "", "CNetworkPort", 0).str("10.0.0.2").u32(9100);
    f.record("Lobby (2)", "", "", "CNetworkPort", 0).str("10.0.0.3").u32(9100);
    CVarkoPrinters c;
    load(c, f.b);
    ASSERT_EQ(c.GetPrinterCount(), 3);
    EXPECT_EQ(names(c), (std::vector<std::string>{"Lobby", "Lobby (2)", "Lobby (2) (2)"}));
    EXPECT_EQ(c.FindPrinter("Lobby")->Port(), "10.0.0.1");
    EXPECT_EQ(c.FindPrinter("Lobby (2)")->Port(), "10.0.0.2");
    EXPECT_EQ(c.FindPrinter("Lobby (2) (2)")->Port(), "10.0.0.3");
    // Each printer is its own object with its own thread.
    POSITION pos = c.GetFirstPrinter();
    while (pos)
        EXPECT_NE(live(c.GetNextPrinter(pos))->GetThread(), nullptr);
    // The list is no longer what the file says: the user is asked to save it.
    EXPECT_TRUE(c.IsModified());

    std::string path = m_dir + "/twins.vps";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(f.b.data()), static_cast<std::streamsize>(f.b.size()));
    CVarkoPrinters fromFile;
    fromFile.LoadFromFile(path.c_str(), nullptr);
    EXPECT_TRUE(fromFile.IsModified());
}

TEST_F(CollectionFile, TruncatedOrCorruptFilesFailClearlyAndChangeNothing)
{
    std::string path = m_dir + "/fleet.vps";
    Bytes good = fourKinds();
    for (std::size_t cut : {std::size_t(2), std::size_t(10), good.size() / 2, good.size() - 1})
    {
        Bytes shortFile(good.begin(), good.begin() + static_cast<long>(cut));
        WriteFileAtomically(path.c_str(), shortFile);
        CVarkoPrinters c;
        c.SetModified(FALSE);
        try
        {
            c.LoadFromFile(path.c_str(), nullptr);
            ADD_FAILURE() << "a file cut at " << cut << " bytes loaded";
        }
        catch (const CArchiveException& e)
        {
            EXPECT_EQ(e.m_cause, CArchiveException::endOfFile);
            EXPECT_FALSE(e.GetReportText().IsEmpty());
        }
        EXPECT_EQ(c.GetPrinterCount(), 0) << "nothing of a damaged file is kept";
        EXPECT_FALSE(c.IsModified());
        EXPECT_EQ(ReadWholeFile(path.c_str()), shortFile) << "loading never writes";
    }

    // A count far beyond what the file holds must not allocate or make printers.
    FileBuilder huge;
    huge.u32(0xFFFFFFF0u).record("A", "", "", "CNetworkPort", 0).str("10.0.0.1").u32(9100);
    WriteFileAtomically(path.c_str(), huge.b);
    CVarkoPrinters c;
    EXPECT_THROW(c.LoadFromFile(path.c_str(), nullptr), CArchiveException);
    EXPECT_EQ(c.GetPrinterCount(), 0);
}

TEST_F(CollectionFile, AnUnknownPortClassIsADamagedFileNotAMissingPort)
{
    FileBuilder f;
    f.u32(2);
    f.record("First", "", "", "CNetworkPort", 0).str("10.0.0.1").u32(9100);
    f.record("Second", "", "", "CSerialport", 0); // other letter case: no such port
    CVarkoPrinters c;
    try
    {
        load(c, f.b);
        ADD_FAILURE() << "loaded a printer without a port";
    }
    catch (const CArchiveException& e)
    {
        EXPECT_EQ(e.m_cause, CArchiveException::badClass);
        CString text;
        e.GetErrorMessage(text);
        EXPECT_NE(text.Find("Unexpected file format"), -1) << text.str();
    }
    catch (const CVarkoPrinterException& e)
    {
        ADD_FAILURE() << "reported as a port problem, code " << e.GetErrorCode();
    }
    // The archive-level load keeps what it read before, as the document expects.
    EXPECT_EQ(names(c), (std::vector<std::string>{"First"}));
}

TEST_F(CollectionFile, AFifoOrDeviceAsTheSettingsFileIsRefusedAtOnce)
{
    const std::string fifo = m_dir + "/fleet.vps";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, std::string("/dev/null")})
    {
        auto loading = std::async(std::launch::async,
                                  [&]
                                  {
                                      CVarkoPrinters c;
                                      try
                                      {
                                          c.LoadFromFile(path.c_str(), nullptr);
                                      }
                                      catch (const CFileException& e)
                                      {
                                          return std::string(e.GetReportText(0).str());
                                      }
                                      catch (const CException&)
                                      {
                                          return std::string("another error");
                                      }
                                      return std::string("loaded");
                                  });
        if (loading.wait_for(std::chrono::seconds(5)) != std::future_status::ready)
        {
            ADD_FAILURE() << path << ": the load still waits for a writer";
            // Let the stuck reader go, so the test can end.
            int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            ::close(writer);
        }
        const std::string outcome = loading.get();
        EXPECT_NE(outcome.find("not a regular file"), std::string::npos) << path << ": " << outcome;
    }
}

TEST_F(CollectionFile, ASaveThroughALinkKeepsTheLinkAndWritesWhereItPoints)
{
    fs::create_directories(m_dir + "/shared");
    const std::string target = m_dir + "/shared/fleet.vps";
    const std::string link = m_dir + "/mine.vps";
    CVarkoPrinters c;
    load(c, networkExample());
    c.SaveToFile(target.c_str());
    fs::create_symlink("shared/fleet.vps", link);
    // A link to a file not made yet: the save makes the file, as an editor does.
    const std::string later = m_dir + "/later.vps";
    fs::create_symlink("shared/new.vps", later);

    load(c, fourKinds());
    c.SaveToFile(link.c_str());
    c.SaveToFile(later.c_str());

    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_symlink(later));
    EXPECT_EQ(ReadWholeFile(target.c_str()), save(c));
    EXPECT_EQ(ReadWholeFile((m_dir + "/shared/new.vps").c_str()), save(c));
    std::vector<std::string> left;
    for (const auto& entry : fs::recursive_directory_iterator(m_dir))
        left.push_back(entry.path().lexically_relative(m_dir).string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"later.vps", "mine.vps", "shared", "shared/fleet.vps",
                                              "shared/new.vps"}));
}

TEST_F(CollectionFile, AFailedSaveKeepsTheOldFile)
{
    std::string path = m_dir + "/fleet.vps";
    CVarkoPrinters c;
    load(c, networkExample());
    c.SaveToFile(path.c_str());
    Bytes before = ReadWholeFile(path.c_str());
    load(c, fourKinds());
    {
        // The disk fills up during the write.
        ScopedSysCall<decltype(SysCalls::write)> full(&SysCalls::write,
                                                      [](int, const void*, std::size_t) -> ssize_t
                                                      {
                                                          errno = ENOSPC;
                                                          return -1;
                                                      });
        EXPECT_THROW(c.SaveToFile(path.c_str()), CFileException);
    }
    EXPECT_EQ(ReadWholeFile(path.c_str()), before);
    for (const auto& entry : fs::directory_iterator(m_dir))
        EXPECT_EQ(entry.path().filename(), "fleet.vps") << "no temporary file is left";
}

// Three printers, the middle one switched off (its port cannot be opened).
class CollectionBatch : public CollectionFile
{
protected:
    void SetUp() override
    {
        CollectionFile::SetUp();
        FileBuilder f;
        f.u32(3);
        for (const char* n : {"A", "B", "C"})
            f.record(n, "", "", "CNetworkPort", 0)
                .str(std::string("10.0.0.") + std::to_string(n[0] - 'A' + 1))
                .u32(9100);
        load(m_c, f.b);
        for (const char* n : {"A", "B", "C"})
        {
            auto* port = new ScriptedPortOf<CNetworkPort>;
            live(m_c.FindPrinter(n))->SetPort(port);
            m_ports.push_back(port);
            m_selection.SetAt(n, m_c.FindPrinter(n));
        }
        m_ports[1]->FailOn(PortCall::Open, 1, 7);
    }
    CVarkoPrinters m_c;
    std::vector<ScriptedPortOf<CNetworkPort>*> m_ports;
    CMapStringToOb m_selection;
};

TEST_F(CollectionBatch, OdometerReportsGiveOneMessageAndReachTheOthers)
{
    ScriptedPrompt prompt;
    m_c.PrintOdometers(m_selection, eUnitsMillimeters);
    ASSERT_EQ(prompt.Texts().size(), 1u);
    EXPECT_EQ(prompt.Texts()[0], LoadStringById(IDS_ERR_PORT_UNAVAILABLE));
    EXPECT_EQ(m_ports[0]->Written(), "\nURLmp\n");
    EXPECT_EQ(m_ports[1]->Written(), "");
    EXPECT_EQ(m_ports[2]->Written(), "\nURLmp\n");
}

TEST_F(CollectionBatch, HeadHistoryReportsGoOnAfterAFailure)
{
    ScriptedPrompt prompt;
    m_c.PrintHeadHistory(m_selection, eUnitsInches);
    EXPECT_EQ(prompt.Texts().size(), 1u);
    EXPECT_EQ(m_ports[0]->Written(), "\nURHip\n");
    EXPECT_EQ(m_ports[2]->Written(), "\nURHip\n");
}

TEST_F(CollectionBatch, TestPagesReportNothing)
{
    ScriptedPrompt prompt;
    m_c.PrintTestPageRLX(m_selection);
    m_ports[1]->FailOn(PortCall::Open, 1, 7);
    m_c.PrintTestPageTPX(m_selection);
    EXPECT_TRUE(prompt.Texts().empty());
    EXPECT_EQ(m_ports[0]->Written(), "\nU\n~WC");
    EXPECT_EQ(m_ports[2]->Written(), "\nU\n~WC");
    EXPECT_FALSE(m_ports[1]->WasLeftOpen());
}

TEST_F(CollectionBatch, EmptySelectionDoesNothing)
{
    ScriptedPrompt prompt;
    CMapStringToOb none;
    m_c.PrintOdometers(none, eUnitsInches);
    m_c.DownloadToPrinters(&none);
    for (auto* p : m_ports)
        EXPECT_TRUE(p->Calls().empty());
    EXPECT_TRUE(prompt.Texts().empty());
}

TEST_F(CollectionFile, DownloadFileAndNullPrinters)
{
    CVarkoPrinters c;
    load(c, networkExample());
    CVarkoPrinterData* p = c.FindPrinter("Printer#1");
    c.SetModified(FALSE);
    c.SetDownloadFile(p, "/tmp/a.prn");
    EXPECT_TRUE(c.IsModified());
    EXPECT_EQ(p->DownloadFile(), "/tmp/a.prn");
    c.SetModified(FALSE);
    c.SetDownloadFile(p, "/TMP/A.PRN"); // same path in other letter case
    EXPECT_FALSE(c.IsModified());
    EXPECT_EQ(p->DownloadFile(), "/TMP/A.PRN");
    c.SetDownloadFile(p, "");
    EXPECT_TRUE(c.IsModified());
    EXPECT_TRUE(p->DownloadFile().IsEmpty());

    for (auto call : {0, 1, 2})
        try
        {
            if (call == 0)
                c.SetDownloadFile(nullptr, "x");
            else if (call == 1)
                c.DeletePrinter(nullptr);
            else
                c.ModifyPrinter(nullptr, eConfigHideCalibration);
            ADD_FAILURE() << "null printer accepted by call " << call;
        }
        catch (const CVarkoPrinterException& e)
        {
            EXPECT_EQ(e.GetErrorCode(), 6u);
        }
}

TEST_F(CollectionFile, MaxSimultaneousDownloadsGoesThroughTheMachineSettings)
{
    CVarkoPrinters c;
    EXPECT_EQ(c.MaxSimultaneousDownloads(), 1);
    c.MaxSimultaneousDownloads(3);
    EXPECT_EQ(c.MaxSimultaneousDownloads(), 3);
}

TEST_F(CollectionFile, DeleteStopsAndRemovesOnePrinter)
{
    CVarkoPrinters c;
    load(c, fourKinds());
    c.SetModified(FALSE);
    c.DeletePrinter(c.FindPrinter("Office"));
    EXPECT_EQ(names(c), (std::vector<std::string>{"Dock", "Desk", "Lobby"}));
    EXPECT_TRUE(c.IsModified());
}

TEST_F(CollectionFile, SingleInstanceLockIsHeldByOneCollection)
{
    {
        CVarkoPrinters first;
        EXPECT_FALSE(first.IsAlreadyRunning());
        CVarkoPrinters second;
        EXPECT_TRUE(second.IsAlreadyRunning());
    }
    CVarkoPrinters later;
    EXPECT_FALSE(later.IsAlreadyRunning()) << "the lock goes with its collection";
}

// Another user (or a link) in the lock's place must not let two programs run at once.
TEST_F(CollectionFile, ALockFolderThatIsNotSafelyOursRefusesToRun)
{
    const std::string run = std::string(std::getenv("VARKO_SETTINGS_ROOT")) + "/run";
    fs::create_directories(m_dir + "/elsewhere");
    fs::create_directory_symlink(m_dir + "/elsewhere", run);
    {
        CVarkoPrinters c;
        EXPECT_TRUE(c.IsAlreadyRunning()) << "a link in the lock's place";
    }
    fs::remove(run);
    if (::geteuid() != 0)
        GTEST_SKIP() << "making another user's folder needs root";
    ASSERT_EQ(::mkdir(run.c_str(), 0700), 0);
    ASSERT_EQ(::chown(run.c_str(), 65534, 65534), 0);
    CVarkoPrinters c;
    EXPECT_TRUE(c.IsAlreadyRunning()) << "another user's folder";
    fs::remove(run);
}
} // namespace

namespace
{
// The download service end to end through the printer threads and the throttle.
TEST_F(CollectionBatch, DownloadServesOnlyPrintersWithAFileAndClearsItAfterwards)
{
    std::string path = m_dir + "/label.prn";
    std::string content(3000, 'L');
    std::ofstream(path) << content;
    m_c.SetDownloadFile(m_c.FindPrinter("C"), path.c_str());
    m_c.CancelDownload(); // nothing runs yet: touches nobody
    for (auto* p : m_ports)
        EXPECT_TRUE(p->Calls().empty());

    m_c.DownloadToPrinters(nullptr); // the whole collection; only C has a file
    PollUntil([&] { return m_c.FindPrinter("C")->DownloadFile() == ""; });
    EXPECT_EQ(m_ports[2]->Written(), content);
    EXPECT_EQ(m_c.FindPrinter("C")->DownloadFile(), "") << "a finished download clears the file";
    EXPECT_TRUE(m_ports[0]->Calls().empty());
}

TEST_F(CollectionBatch, ALimitOfZeroStartsNoDownload)
{
    m_c.MaxSimultaneousDownloads(0);
    ASSERT_EQ(m_c.MaxSimultaneousDownloads(), 0);
    std::string path = m_dir + "/label.prn";
    std::ofstream(path) << "LABEL";
    m_c.SetDownloadFile(m_c.FindPrinter("A"), path.c_str());
    m_c.DownloadToPrinters(nullptr);
    // A job the throttle files as waiting is one it has decided not to start.
    CThrottleThread* throttle = CThrottleThread::ProcessThrottle();
    ASSERT_NE(throttle, nullptr);
    EXPECT_TRUE(PollUntil([&] { return throttle->PendingCount() == 1; }));
    EXPECT_EQ(throttle->ActiveCount(), 0u);
    EXPECT_EQ(m_ports[0]->Written(), "");
    EXPECT_EQ(m_c.FindPrinter("A")->DownloadFile(), path.c_str());
    m_c.CancelDownload();
}
} // namespace
