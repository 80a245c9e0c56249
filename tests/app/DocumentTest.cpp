// The printer document: New, Open, Save and Save As, the save-changes question, the
// instance check, and files that cannot be read or written.
#include "AppTestBase.h"
#include "CArchive.h"
#include "CVarkoPrinters.h"
#include "LockHolder.h"
#include "Resource.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace
{
std::vector<std::uint8_t> Bytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

// Adds a printer the way the library's dialog would, without showing it.
void AddPrinter(COdomiraDoc* doc, const CPrinterSettings& s)
{
    ASSERT_EQ(doc->GetPrinters()->AddPrinter(doc->GetFirstView(), s), 0u);
}
} // namespace

TEST_F(AppTest, SaveNeedsPrintersWhileSaveAsWritesTheEmptyFile)
{
    ASSERT_TRUE(Start());
    EXPECT_FALSE(IsEnabled("ID_FILE_SAVE"));
    // Ctrl+S reaches a disabled command and nothing happens.
    EXPECT_FALSE(Frame()->ExecuteCommand(ID_FILE_SAVE));
    EXPECT_TRUE(m_files.Calls().empty());

    const std::string path = TempPath("empty");
    m_files.Answer(path);
    TriggerAction("ID_FILE_SAVE_AS");
    ASSERT_EQ(m_files.Calls().size(), 1u);
    EXPECT_FALSE(m_files.Calls()[0].open);
    EXPECT_EQ(m_files.Calls()[0].filters,
              (QStringList{"Varko Printer Settings Files (*.vps)", "All Files (*)"}));
    EXPECT_EQ(m_files.Calls()[0].proposed, "Untitled.vps")
        << "the title and the filter's extension";
    // A name typed without an extension gets the document's.
    EXPECT_EQ(Bytes(path + ".vps"), (std::vector<std::uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(Frame()->windowTitle(), "empty.vps - Odomira");
}

TEST_F(AppTest, SaveWritesTheListToItsFileAndSaveAsAsksEveryTime)
{
    const std::string path = TempPath("fleet.vps");
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1")});
    ASSERT_TRUE(Start({QString::fromStdString(path)}));
    AddPrinter(Doc(), NetworkPrinter("Dock", "127.0.0.1", 1));
    ASSERT_TRUE(IsEnabled("ID_FILE_SAVE"));
    EXPECT_TRUE(Frame()->ExecuteCommand(ID_FILE_SAVE));
    EXPECT_TRUE(m_files.Calls().empty()) << "a list with a file is saved without asking";
    CVarkoPrinters check;
    check.LoadFromFile(CString(path), nullptr);
    EXPECT_EQ(check.GetPrinterCount(), 2);
    EXPECT_FALSE(Doc()->GetPrinters()->IsModified());

    m_files.Cancel();
    TriggerAction("ID_FILE_SAVE_AS");
    ASSERT_EQ(m_files.Calls().size(), 1u);
    EXPECT_EQ(m_files.Calls()[0].proposed.toStdString(), Doc()->GetPathName().str());
}

TEST_F(AppTest, TheQuestionComesAfterAnAddAndNotAfterASave)
{
    ASSERT_TRUE(Start());
    AddPrinter(Doc(), ParallelPrinter("Lab", "LPT1"));
    // Cancel keeps the window open.
    m_prompt.Answer(IDCANCEL);
    EXPECT_FALSE(Exit());
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "Save changes to Untitled?");
    EXPECT_EQ(m_prompt.Records()[0].type & MB_TYPEMASK, UINT(MB_YESNOCANCEL));

    // Yes saves (asking for a name) and the window closes.
    ClearMessages();
    m_prompt.Answer(IDYES);
    m_files.Answer(TempPath("saved.vps"));
    EXPECT_TRUE(Exit());
    EXPECT_EQ(Messages().size(), 1u);
    CVarkoPrinters check;
    check.LoadFromFile(CString(TempPath("saved.vps")), nullptr);
    EXPECT_EQ(check.GetPrinterCount(), 1);

    m_app.reset();
    ASSERT_TRUE(Start({QString::fromStdString(TempPath("saved.vps"))}));
    AddPrinter(Doc(), ParallelPrinter("Bench", "LPT2"));
    ASSERT_TRUE(Frame()->ExecuteCommand(ID_FILE_SAVE));
    ClearMessages();
    EXPECT_TRUE(Exit());
    EXPECT_TRUE(Messages().empty()) << "no question right after a successful save";
}

TEST_F(AppTest, OpeningOverAModifiedListAsksTwiceAndCancelKeepsTheList)
{
    const std::string path = TempPath("other.vps");
    WriteSettingsFile(path, {ParallelPrinter("Other", "LPT2")});
    ASSERT_TRUE(Start());
    AddPrinter(Doc(), ParallelPrinter("Mine", "LPT1"));
    Frame()->GetActiveView()->FillList();

    // The file dialog comes first; then the New step asks, and after its Cancel the
    // open step asks the same again.
    m_files.Answer(path);
    m_prompt.Answer(IDCANCEL);
    m_prompt.Answer(IDCANCEL);
    TriggerAction("ID_FILE_OPEN");
    ASSERT_EQ(m_files.Calls().size(), 1u);
    EXPECT_TRUE(m_files.Calls()[0].open);
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{"Save changes to Untitled?", "Save changes to Untitled?"}));
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Cell(0, 0), "Mine");
    EXPECT_TRUE(Doc()->GetPrinters()->IsModified());

    // Cancel, then No: the list is dropped and the file opens.
    ClearMessages();
    m_files.Answer(path);
    m_prompt.Answer(IDCANCEL);
    m_prompt.Answer(IDNO);
    TriggerAction("ID_FILE_OPEN");
    EXPECT_EQ(Messages().size(), 2u);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Cell(0, 0), "Other");
    EXPECT_EQ(Frame()->windowTitle(), "other.vps - Odomira");
}

TEST_F(AppTest, OpeningTheOpenFileReadsItAgain)
{
    const std::string path = TempPath("fleet.vps");
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1")});
    ASSERT_TRUE(Start({QString::fromStdString(path)}));
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1"), ParallelPrinter("Bench", "LPT2")});
    m_files.Answer(path);
    TriggerAction("ID_FILE_OPEN");
    EXPECT_EQ(Rows().size(), 2u);
}

TEST_F(AppTest, NewStartsAnEmptyUntitledListWithAFreshCollection)
{
    const std::string path = TempPath("fleet.vps");
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1")});
    ASSERT_TRUE(Start({QString::fromStdString(path)}));
    ASSERT_TRUE(Frame()->ExecuteCommand(ID_FILE_NEW));
    EXPECT_EQ(Doc()->GetPrinters()->GetPrinterCount(), 0);
    EXPECT_TRUE(Doc()->HoldsInstanceLock());
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Frame()->windowTitle(), "Untitled - Odomira");
    EXPECT_TRUE(Doc()->GetPathName().IsEmpty());
}

TEST_F(AppTest, ADamagedOrForeignFileIsReportedAndNeverWritten)
{
    ASSERT_TRUE(Start());
    struct Case
    {
        const char* name;
        std::vector<std::uint8_t> bytes;
    };
    const Case cases[] = {
        {"truncated.vps", {1, 0, 0, 0, 3, 'A'}},
        {"huge-count.vps", {0xff, 0xff, 0xff, 0x7f}},
        {"foreign.vps", {'%', 'P', 'D', 'F', '-', '1', '.', '4', '\n', 0, 1, 2}},
        {"empty-file.vps", {}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        const std::string path = TempPath(c.name);
        {
            std::ofstream f(path, std::ios::binary);
            f.write(reinterpret_cast<const char*>(c.bytes.data()),
                    static_cast<std::streamsize>(c.bytes.size()));
        }
        ClearMessages();
        m_files.Answer(path);
        TriggerAction("ID_FILE_OPEN");
        ASSERT_EQ(Messages().size(), 1u);
        EXPECT_NE(Messages()[0].find(c.name), std::string::npos);
        EXPECT_TRUE(Rows().empty());
        EXPECT_EQ(Frame()->windowTitle(), "Untitled - Odomira");
        EXPECT_EQ(Bytes(path), c.bytes);
    }
    ClearMessages();
    m_files.Answer(TempPath("no-such-file.vps"));
    TriggerAction("ID_FILE_OPEN");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find("no-such-file.vps"), std::string::npos);
    EXPECT_FALSE(fs::exists(TempPath("no-such-file.vps")));
}

TEST_F(AppTest, AFailedSaveSaysWhyAndKeepsTheOldFile)
{
    const std::string folder = TempPath("locked");
    fs::create_directories(folder);
    const std::string path = folder + "/fleet.vps";
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1")});
    const std::vector<std::uint8_t> before = Bytes(path);
    ASSERT_TRUE(Start({QString::fromStdString(path)}));
    AddPrinter(Doc(), ParallelPrinter("Bench", "LPT2"));

    // The save is pointed at a folder where no file can be made: a directory of the
    // same name stands where the temporary file would go. That fails also for root.
    const std::string blocked = folder + "/blocked.vps";
    fs::create_directories(blocked);
    m_files.Answer(blocked);
    TriggerAction("ID_FILE_SAVE_AS");
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find("Could not save"), std::string::npos);
    EXPECT_NE(Messages()[0].find("blocked.vps"), std::string::npos);
    EXPECT_EQ(Bytes(path), before);
    EXPECT_TRUE(fs::is_directory(blocked));
    // Still modified, and still bound to its own file.
    EXPECT_TRUE(Doc()->GetPrinters()->IsModified());
    EXPECT_EQ(Frame()->windowTitle(), "fleet.vps - Odomira");
}

// The program keeps running after start-up met another program's lock (the start
// fails, but the window object is still there to be used), which is the state of a
// program whose New or Open meets a lock another program took meanwhile.
TEST_F(AppTest, OpenFailsWhileAnotherProgramHoldsThePrinters)
{
    const std::string path = TempPath("fleet.vps");
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1")});
    LockHolder other;
    ASSERT_TRUE(other.Start()) << other.Error();
    ASSERT_FALSE(Start());
    ClearMessages();

    m_files.Answer(path);
    TriggerAction("ID_FILE_OPEN");
    ASSERT_EQ(Messages().size(), 2u) << "once for the New step, once for the Open";
    EXPECT_EQ(Messages()[0].rfind("This application cannot be run", 0), 0u);
    EXPECT_EQ(Messages()[1], Messages()[0]);
    EXPECT_TRUE(Rows().empty()) << "the file is not opened while another program holds it";
    EXPECT_EQ(Frame()->windowTitle(), "Untitled - Odomira");
}

TEST_F(AppTest, AFailedNewLeavesNoRowOnADeletedPrinter)
{
    LockHolder other;
    ASSERT_TRUE(other.Start()) << other.Error();
    ASSERT_FALSE(Start());
    AddPrinter(Doc(), ParallelPrinter("Lab", "LPT1"));
    AddPrinter(Doc(), ParallelPrinter("Bench", "LPT2"));
    Doc()->GetPrinters()->SetModified(FALSE);
    View()->FillList();
    ASSERT_EQ(Rows().size(), 2u);
    SelectRows({0, 1});
    ClearMessages();

    // The New replaces the collection, whose printers go, and then meets the lock.
    Frame()->ExecuteCommand(ID_FILE_NEW);
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_TRUE(Rows().empty());
    EXPECT_FALSE(IsEnabled("ID_PRINTER_DELETE"));
    EXPECT_FALSE(IsEnabled("ID_EDIT_SELECT_ALL"));
}
