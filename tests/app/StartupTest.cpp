// Start-up, the window's placement, the command line and the instance check, through
// the real application and main window.
#include "AppTestBase.h"
#include "CRecentFileList.h"
#include "LockHolder.h"
#include "Resource.h"

#include <QScreen>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace
{
WINDOWPLACEMENT Placement(std::uint32_t showCmd, int left, int top, int right, int bottom)
{
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    wp.showCmd = showCmd;
    wp.rcNormalPosition[0] = left;
    wp.rcNormalPosition[1] = top;
    wp.rcNormalPosition[2] = right;
    wp.rcNormalPosition[3] = bottom;
    return wp;
}

WINDOWPLACEMENT StoredPlacement()
{
    WINDOWPLACEMENT wp{};
    const std::vector<BYTE> bytes = ReadUserBinary("Window Position");
    if (bytes.size() == sizeof wp)
        std::memcpy(&wp, bytes.data(), sizeof wp);
    return wp;
}
} // namespace

TEST_F(AppTest, FirstStartOpensMaximizedWithInchesAndAnUntitledEmptyList)
{
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Frame()->windowState() & Qt::WindowMaximized);
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_EQ(Heading(COdomiraView::COLUMN_TOTAL_USAGE), "Total Usage (in.)");
    EXPECT_EQ(Heading(COdomiraView::COLUMN_HEAD_USAGE), "Head Usage (in.)");
    EXPECT_EQ(Frame()->windowTitle(), "Untitled - Odomira");
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(Messages().empty());

    ASSERT_TRUE(Exit());
    std::vector<std::int32_t> view(11);
    const std::vector<BYTE> bytes = ReadUserBinary("View Settings");
    ASSERT_EQ(bytes.size(), 44u);
    std::memcpy(view.data(), bytes.data(), 44);
    EXPECT_EQ(view, (std::vector<std::int32_t>{175, 300, 275, 150, 0, 0, 0, 0, 300, 50, 450}));
    // The maximized window's normal rectangle is kept, so it comes back maximized.
    EXPECT_EQ(StoredPlacement().showCmd, SW_SHOWMAXIMIZED);
}

TEST_F(AppTest, ANormalPlacementComesBackWhereItWas)
{
    ASSERT_TRUE(Start());
    Frame()->showNormal();
    Frame()->setGeometry(100, 120, 640, 480);
    ASSERT_TRUE(Exit());
    const WINDOWPLACEMENT stored = StoredPlacement();
    EXPECT_EQ(stored.length, 44u);
    EXPECT_EQ(stored.showCmd, SW_SHOWNORMAL);
    EXPECT_EQ(std::vector<int>(stored.rcNormalPosition, stored.rcNormalPosition + 4),
              (std::vector<int>{100, 120, 740, 600}));

    m_app.reset();
    ASSERT_TRUE(Start());
    EXPECT_FALSE(Frame()->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized));
    EXPECT_EQ(Frame()->geometry(), QRect(100, 120, 640, 480));
}

TEST_F(AppTest, AWindowClosedMinimizedComesBackNormal)
{
    ASSERT_TRUE(Start());
    Frame()->showNormal();
    Frame()->setGeometry(50, 60, 500, 400);
    Frame()->showMinimized();
    ASSERT_TRUE(Exit());
    EXPECT_EQ(StoredPlacement().showCmd, SW_SHOWMINIMIZED);

    m_app.reset();
    ASSERT_TRUE(Start());
    EXPECT_FALSE(Frame()->windowState() & (Qt::WindowMaximized | Qt::WindowMinimized));
    EXPECT_EQ(Frame()->geometry(), QRect(50, 60, 500, 400));
}

TEST_F(AppTest, APlacementOffTheScreenOrDamagedOpensMaximizedAndOnScreen)
{
    const QSize screen = QGuiApplication::primaryScreen()->size();
    const WINDOWPLACEMENT cases[] = {
        Placement(SW_SHOWNORMAL, screen.width(), 0, screen.width() + 400, 300), // right of it
        Placement(SW_SHOWNORMAL, -500, -400, 0, 0),                             // touches only
        Placement(SW_SHOWNORMAL, 300, 300, 100, 100),                           // inside out
        Placement(0x7fffffff, 10, 10, 300, 300), // a show command nobody writes: shown normal
    };
    int index = 0;
    for (WINDOWPLACEMENT wp : cases)
    {
        SCOPED_TRACE(index++);
        WriteUserBinary("Window Position", &wp, sizeof wp);
        ASSERT_TRUE(Start());
        const bool expectMaximized = index != 4;
        EXPECT_EQ(bool(Frame()->windowState() & Qt::WindowMaximized), expectMaximized);
        EXPECT_TRUE(Frame()->geometry().intersects(QRect(QPoint(0, 0), screen)));
        EXPECT_FALSE(Frame()->windowState() & Qt::WindowMinimized);
        ASSERT_TRUE(Exit());
        m_app.reset();
    }

    // A length this program never writes, and a rectangle larger than any screen.
    WINDOWPLACEMENT wrongLength = Placement(SW_SHOWNORMAL, 0, 0, 400, 300);
    wrongLength.length = 12;
    WriteUserBinary("Window Position", &wrongLength, sizeof wrongLength);
    ASSERT_TRUE(Start());
    EXPECT_TRUE(Frame()->windowState() & Qt::WindowMaximized);
    ASSERT_TRUE(Exit());
    m_app.reset();
    WINDOWPLACEMENT huge = Placement(SW_SHOWNORMAL, 0, 0, 2000000000, 2000000000);
    WriteUserBinary("Window Position", &huge, sizeof huge);
    ASSERT_TRUE(Start());
    EXPECT_LE(Frame()->width(), QGuiApplication::primaryScreen()->virtualGeometry().width());
    EXPECT_LE(Frame()->height(), QGuiApplication::primaryScreen()->virtualGeometry().height());
}

TEST_F(AppTest, AHiddenWindowLeavesTheStoredPlacementAlone)
{
    WINDOWPLACEMENT wp = Placement(SW_SHOWNORMAL, 20, 30, 420, 330);
    WriteUserBinary("Window Position", &wp, sizeof wp);
    ASSERT_TRUE(Start());
    Frame()->setGeometry(200, 200, 300, 300);
    Frame()->hide();
    ASSERT_TRUE(Exit());
    const WINDOWPLACEMENT stored = StoredPlacement();
    EXPECT_EQ(std::vector<int>(stored.rcNormalPosition, stored.rcNormalPosition + 4),
              (std::vector<int>{20, 30, 420, 330}));
}

TEST_F(AppTest, AFileOnTheCommandLineIsOpenedDirectly)
{
    const std::string path = TempPath("fleet.vps");
    WriteSettingsFile(path,
                      {NetworkPrinter("Dock", "127.0.0.1", 1), ParallelPrinter("Lab", "LPT1")});
    ASSERT_TRUE(Start({QString::fromStdString(path)}));
    EXPECT_EQ(Frame()->windowTitle(), "fleet.vps - Odomira");
    EXPECT_EQ(Doc()->GetPathName().str(), std::filesystem::weakly_canonical(path).string());
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(Cell(0, 0), "Lab");
    EXPECT_EQ(Cell(1, 0), "Dock");
    EXPECT_FALSE(Doc()->IsModified());
    // Opened, so it is the most recent file.
    ASSERT_FALSE(m_app->GetRecentFiles().Files().empty());
    EXPECT_EQ(m_app->GetRecentFiles().Files().front().str(), Doc()->GetPathName().str());
}

TEST_F(AppTest, ADamagedFileOnTheCommandLineIsReportedLeftAloneAndTheProgramRuns)
{
    const std::string path = TempPath("damaged.vps");
    {
        // Two printers announced, a few bytes of the first one present.
        std::ofstream f(path, std::ios::binary);
        const char bytes[] = {2, 0, 0, 0, 5, 'S', 'h', 'o'};
        f.write(bytes, sizeof bytes);
    }
    const auto before = std::filesystem::last_write_time(path);
    ASSERT_TRUE(Start({QString::fromStdString(path)}));
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find("Could not open"), std::string::npos);
    EXPECT_NE(Messages()[0].find("damaged.vps"), std::string::npos);
    EXPECT_TRUE(Rows().empty());
    EXPECT_EQ(Frame()->windowTitle(), "Untitled - Odomira");
    ASSERT_TRUE(Exit());
    EXPECT_EQ(std::filesystem::file_size(path), 8u);
    EXPECT_EQ(std::filesystem::last_write_time(path), before);
}

TEST_F(AppTest, AnotherProgramHoldingThePrintersStopsStartUp)
{
    LockHolder other;
    ASSERT_TRUE(other.Start()) << other.Error();
    EXPECT_FALSE(Start());
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_EQ(Messages()[0], "This application cannot be run at the same time as Tessaro "
                             "application.  Please close the other application and restart "
                             "this application.");
    EXPECT_EQ(m_prompt.Records()[0].type, UINT(MB_OK | MB_ICONEXCLAMATION));
}

TEST_F(AppTest, WithAFileTheInstanceMessageComesTwiceAndTheFileIsNotOpened)
{
    const std::string path = TempPath("fleet.vps");
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1")});
    LockHolder other;
    ASSERT_TRUE(other.Start()) << other.Error();
    EXPECT_FALSE(Start({QString::fromStdString(path)}));
    ASSERT_EQ(Messages().size(), 2u);
    EXPECT_EQ(Messages()[0], Messages()[1]);
    EXPECT_TRUE(Rows().empty());
}
