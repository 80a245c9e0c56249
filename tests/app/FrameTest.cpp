// The main window: menus, toolbar, keys and status bar as built from the command table,
// the enabling rule on every route, help, and the three small dialogs.
#include "AppTestBase.h"
#include "CAboutDlg.h"
#include "CModuleVersion.h"
#include "COptionsDlg.h"
#include "CSerialNumberDlg.h"
#include "DialogTestSupport.h"
#include "QtText.h"
#include "Resource.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTest>
#include <QToolBar>
#include <QUrl>

#include <filesystem>
#include <fstream>

namespace
{
// Each entry: the item's text, or "-" for a separator, or "Title>" followed by the
// submenu's entries and "<" at its end.
std::vector<std::string> MenuLayout(const QMenu* menu)
{
    std::vector<std::string> out;
    for (QAction* a : menu->actions())
    {
        if (a->isSeparator())
            out.push_back("-");
        else if (a->menu())
        {
            out.push_back(a->text().toStdString() + ">");
            for (const std::string& s : MenuLayout(a->menu()))
                out.push_back(s);
            out.push_back("<");
        }
        else
            out.push_back(a->text().toStdString() + " = " + a->objectName().toStdString());
    }
    return out;
}

} // namespace

TEST_F(AppTest, TheMenuBarHoldsEveryItemInItsPlace)
{
    ASSERT_TRUE(Start());
    std::vector<std::string> titles;
    for (QAction* a : Frame()->menuBar()->actions())
        titles.push_back(a->text().toStdString());
    EXPECT_EQ(titles,
              (std::vector<std::string>{"&File", "&Edit", "&View", "&Printer", "&Tools", "&Help"}));
    auto layout = [&](const char* name)
    { return MenuLayout(Frame()->findChild<QMenu*>(QString::fromLatin1(name))); };
    EXPECT_EQ(layout("menuFile"),
              (std::vector<std::string>{"&Open Printer Settings File...\tCtrl+O = ID_FILE_OPEN",
                                        "&Save Printer Settings File\tCtrl+S = ID_FILE_SAVE_AS",
                                        "-", "E&xit = ID_APP_EXIT"}));
    EXPECT_EQ(layout("menuEdit"),
              (std::vector<std::string>{"Select All\tCtrl+A = ID_EDIT_SELECT_ALL"}));
    EXPECT_EQ(layout("menuView"), (std::vector<std::string>{"&Toolbar = ID_VIEW_TOOLBAR",
                                                            "&Status Bar = ID_VIEW_STATUS_BAR", "-",
                                                            "&Refresh\tF5 = ID_VIEW_REFRESH"}));
    // The odometer history's item comes after every item the menu has always had.
    EXPECT_EQ(layout("menuPrinter"),
              (std::vector<std::string>{
                  "&Add... = ID_PRINTER_ADD", "&Modify... = ID_PRINTER_MODIFY",
                  "&Delete = ID_PRINTER_DELETE", "-", "&Auto-Detect = ID_PRINTER_AUTODETECT", "-",
                  "&Set Serial Number = ID_PRINTER_SET_SERIAL_NUMBER", "-",
                  "&View Head History = ID_PRINTER_VIEW_HEAD_HISTORY",
                  "&Reset Head Odometer = ID_PRINTER_RESET_HEAD_ODOMETER", "&Print>",
                  "RLX &Test Page = ID_PRINT_TEST_PAGE_RLX", "&Odometers = ID_PRINT_ODOMETERS",
                  "&Head History = ID_PRINT_HEAD_HISTORY", "<", "-",
                  "Odometer &History... = ID_PRINTER_ODOMETER_HISTORY"}));
    EXPECT_EQ(layout("menuTools"), (std::vector<std::string>{"&Options... = ID_TOOLS_OPTIONS"}));
    EXPECT_EQ(layout("menuHelp"), (std::vector<std::string>{"&Contents\tF1 = ID_HELP_CONTENTS", "-",
                                                            "&About Odomira... = ID_APP_ABOUT"}));
}

TEST_F(AppTest, TheToolbarHasItsButtonsAndSeparatorsWithTooltipsAndPrompts)
{
    ASSERT_TRUE(Start());
    auto* bar = Frame()->findChild<QToolBar*>("AFX_IDW_TOOLBAR");
    ASSERT_NE(bar, nullptr);
    std::vector<std::string> buttons;
    for (QAction* a : bar->actions())
        buttons.push_back(a->isSeparator() ? "-" : a->objectName().toStdString());
    EXPECT_EQ(buttons, (std::vector<std::string>{
                           "ID_PRINTER_ADD", "ID_PRINTER_MODIFY", "ID_PRINTER_DELETE",
                           "ID_PRINTER_AUTODETECT", "-", "ID_PRINTER_RESET_HEAD_ODOMETER",
                           "ID_PRINTER_SET_SERIAL_NUMBER", "-", "ID_PRINT_TEST_PAGE_RLX",
                           "ID_PRINT_ODOMETERS", "ID_PRINT_HEAD_HISTORY", "-", "ID_APP_ABOUT"}));
    EXPECT_EQ(bar->iconSize(), QSize(16, 16));
    EXPECT_EQ(Frame()->toolBarArea(bar), Qt::TopToolBarArea);
    for (QAction* a : bar->actions())
    {
        if (!a->isSeparator())
        {
            EXPECT_FALSE(a->icon().isNull()) << a->objectName().toStdString();
        }
    }
    EXPECT_EQ(Action("ID_PRINTER_ADD")->toolTip(), "Add Printer");
    EXPECT_EQ(Action("ID_PRINTER_ADD")->statusTip(), "Add printer to list");
    EXPECT_EQ(Action("ID_PRINTER_SET_SERIAL_NUMBER")->statusTip(),
              "Set Serial Number for the selected printer.");
    EXPECT_EQ(Action("ID_VIEW_REFRESH")->toolTip(), "Refresh");
    EXPECT_TRUE(Action("ID_TOOLS_OPTIONS")->statusTip().isEmpty());
}

TEST_F(AppTest, TheStatusBarSaysReadyShowsPromptsAndHasTheKeyIndicators)
{
    ASSERT_TRUE(Start());
    QStatusBar* bar = Frame()->statusBar();
    auto* idle = bar->findChild<QLabel*>("AFX_IDS_IDLEMESSAGE");
    ASSERT_NE(idle, nullptr);
    EXPECT_EQ(idle->text(), "Ready");
    QStatusTipEvent tip(Action("ID_PRINTER_DELETE")->statusTip());
    QApplication::sendEvent(Frame(), &tip);
    EXPECT_EQ(bar->currentMessage(), "Delete Printer(s) from list");
    QStatusTipEvent none{QString()};
    QApplication::sendEvent(Frame(), &none);
    EXPECT_TRUE(bar->currentMessage().isEmpty());

    std::vector<std::string> panes;
    for (const char* name : {"ID_INDICATOR_CAPS", "ID_INDICATOR_NUM", "ID_INDICATOR_SCRL"})
        if (bar->findChild<QLabel*>(name))
            panes.push_back(name);
    EXPECT_EQ(panes.size(), 3u);
    // Offscreen there is no keyboard to ask: the indicators stay blank.
    EXPECT_TRUE(Frame()->IndicatorText(ID_INDICATOR_CAPS).isEmpty());
}

TEST_F(AppTest, EveryAcceleratorExistsAndTheOnesWithoutHandlersDoNothing)
{
    ASSERT_TRUE(Start());
    std::vector<std::string> keys;
    for (QShortcut* s : Frame()->findChildren<QShortcut*>())
        keys.push_back(s->key().toString().toStdString());
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"Alt+Backspace", "Ctrl+A", "Ctrl+C", "Ctrl+Ins",
                                              "Ctrl+N", "Ctrl+O", "Ctrl+Q", "Ctrl+S", "Ctrl+V",
                                              "Ctrl+X", "Ctrl+Z", "Esc", "F1", "F5", "F6",
                                              "Shift+Del", "Shift+F6", "Shift+Ins"}));
    for (UINT id :
         {ID_EDIT_COPY, ID_EDIT_PASTE, ID_EDIT_CUT, ID_EDIT_UNDO, ID_NEXT_PANE, ID_PREV_PANE})
    {
        EXPECT_FALSE(Frame()->IsCommandEnabled(id)) << id;
        EXPECT_FALSE(Frame()->ExecuteCommand(id)) << id;
    }
    EXPECT_TRUE(Frame()->IsCommandEnabled(ID_VIEW_REFRESH));
    EXPECT_TRUE(Frame()->IsCommandEnabled(ID_FILE_NEW));
}

TEST_F(AppTest, KeysReachTheirCommandsAndADisabledOneIsNotRun)
{
    const std::string path = TempPath("fleet.vps");
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1"), ParallelPrinter("Bench", "LPT2")});
    ASSERT_TRUE(Start({QString::fromStdString(path)}));
    Frame()->activateWindow();
    View()->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));

    QTest::keyClick(View(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(View()->GetSelectedCount(), 2);
    // Ctrl+S saves the list to its file without a dialog.
    QTest::keyClick(View(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(m_files.Calls().empty());
    // Ctrl+O asks for a file.
    m_files.Cancel();
    QTest::keyClick(View(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(m_files.Calls().size(), 1u);

    // With an empty list, Ctrl+S reaches a disabled Save: no dialog comes up.
    ASSERT_TRUE(Frame()->ExecuteCommand(ID_FILE_NEW));
    QTest::keyClick(View(), Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(m_files.Calls().size(), 1u);
    // Delete and Enter alone are bound to nothing.
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1")});
    m_files.Answer(path);
    QTest::keyClick(View(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(Rows().size(), 1u);
    SelectRows({0});
    QTest::keyClick(View(), Qt::Key_Delete);
    QTest::keyClick(View(), Qt::Key_Return);
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_TRUE(m_dialogs.Records().empty());
}

TEST_F(AppTest, TheBarsToggleWithCheckMarksAndCommandsWorkWithoutTheToolbar)
{
    const std::string path = TempPath("fleet.vps");
    WriteSettingsFile(path, {ParallelPrinter("Lab", "LPT1")});
    ASSERT_TRUE(Start({QString::fromStdString(path)}));
    auto* bar = Frame()->findChild<QToolBar*>("AFX_IDW_TOOLBAR");
    Frame()->UpdateCommandUI();
    EXPECT_TRUE(Action("ID_VIEW_TOOLBAR")->isChecked());
    TriggerAction("ID_VIEW_TOOLBAR");
    EXPECT_TRUE(bar->isHidden());
    EXPECT_FALSE(Action("ID_VIEW_TOOLBAR")->isChecked());
    TriggerAction("ID_VIEW_STATUS_BAR");
    EXPECT_TRUE(Frame()->statusBar()->isHidden());
    EXPECT_FALSE(Action("ID_VIEW_STATUS_BAR")->isChecked());

    // A toolbar button's command still runs from its menu item.
    SelectRows({0});
    TriggerAction("ID_PRINTER_DELETE");
    EXPECT_TRUE(Rows().empty());

    TriggerAction("ID_VIEW_TOOLBAR");
    EXPECT_FALSE(bar->isHidden());
    EXPECT_TRUE(Action("ID_VIEW_TOOLBAR")->isChecked());
}

TEST_F(AppTest, HelpOpensTheManualOrSaysWhereItLookedOrThatNoBrowserOpenedIt)
{
    ASSERT_TRUE(Start());
    const std::string manual = TempPath("manual");
    std::filesystem::create_directories(manual);
    ::setenv("ODOMIRA_MANUAL_DIR", manual.c_str(), 1);
    // The desktop's opener is a script on a private PATH.
    const std::string bin = TempPath("bin");
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", bin.c_str(), 1);
    auto opener = [&](const std::string& body)
    {
        std::filesystem::create_directories(bin);
        std::ofstream(bin + "/xdg-open") << "#!/bin/sh\n" << body << "\n";
        std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
    };
    auto help = [&](bool expectBox)
    {
        ClearMessages();
        TriggerAction("ID_HELP_CONTENTS");
        if (expectBox)
            ServeEventsUntil([&] { return !Messages().empty(); }, 5000);
        return Messages().empty() ? std::string() : Messages()[0];
    };

    std::string box = help(true);
    EXPECT_NE(box.find("could not be found"), std::string::npos) << box;
    EXPECT_NE(box.find(manual + "/index.html"), std::string::npos) << box;

    std::ofstream(manual + "/index.html") << "<html></html>";
    box = help(true);
    EXPECT_NE(box.find("could not be opened"), std::string::npos) << "no opener: " << box;
    opener("exit 3"); // an opener that finds no browser
    box = help(true);
    EXPECT_NE(box.find("could not be opened"), std::string::npos) << box;
    EXPECT_NE(box.find(manual + "/index.html"), std::string::npos) << box;

    // One that opens it, through F1: nothing to say.
    const std::string opened = TempPath("opened");
    opener("echo \"$1\" > " + opened);
    ClearMessages();
    Frame()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Frame()));
    QTest::keyClick(Frame(), Qt::Key_F1);
    EXPECT_TRUE(ServeEventsUntil(
        [&] { return std::filesystem::exists(opened) && std::filesystem::file_size(opened) > 0; },
        5000));
    ServeEventsUntil([] { return false; }, 300);
    ::setenv("PATH", path.c_str(), 1);
    ::unsetenv("ODOMIRA_MANUAL_DIR");
    std::string url;
    std::getline(std::ifstream(opened), url);
    EXPECT_EQ(url, QUrl::fromLocalFile(QString::fromStdString(manual + "/index.html"))
                       .toString()
                       .toStdString());
    EXPECT_TRUE(Messages().empty());
}

TEST(MainFrameManual, TheInstalledManualComesFirstAndNeedsNoDocumentationFolder)
{
    // Minimal systems drop /usr/share/doc; the package only links the manual from there.
    ::unsetenv("ODOMIRA_MANUAL_DIR");
    const QStringList locations = CMainFrame::ManualLocations();
    const QDir programDir(QCoreApplication::applicationDirPath());
    ASSERT_FALSE(locations.isEmpty());
    EXPECT_EQ(
        locations.front().toStdString(),
        QDir::cleanPath(programDir.filePath("../share/odomira/manual/index.html")).toStdString());
    for (const QString& location : locations)
        EXPECT_FALSE(location.contains("/share/doc/")) << location.toStdString();
}

TEST_F(AppTest, OptionsSelectsTheStoredUnitsIgnoringCaseAndStoresTheExactText)
{
    WriteUnits(HKEY_LOCAL_MACHINE, "millimeters");
    ASSERT_TRUE(Start());
    // The list compares exactly: this text means inches.
    EXPECT_EQ(Heading(COdomiraView::COLUMN_TOTAL_USAGE), "Total Usage (in.)");
    QString shown;
    QStringList items;
    m_dialogs.Expect(
        [&](IModalDialog& dlg)
        {
            auto& options = dynamic_cast<COptionsDlg&>(dlg);
            auto* combo = options.findChild<QComboBox*>("IDC_DISPLAY_UNITS");
            shown = combo->currentText();
            for (int i = 0; i < combo->count(); ++i)
                items << combo->itemText(i);
            return IDOK;
        });
    TriggerAction("ID_TOOLS_OPTIONS");
    EXPECT_EQ(items, (QStringList{"Inches", "Millimeters"}));
    EXPECT_EQ(shown, "Millimeters");
    EXPECT_EQ(GetApplicationSettings().m_displayUnits, "Millimeters");
    EXPECT_EQ(Heading(COdomiraView::COLUMN_TOTAL_USAGE), "Total Usage (mm.)");
    EXPECT_EQ(Heading(COdomiraView::COLUMN_HEAD_USAGE), "Head Usage (mm.)");

    // Cancel changes nothing.
    m_dialogs.Expect(
        [&](IModalDialog& dlg)
        {
            dynamic_cast<COptionsDlg&>(dlg)
                .findChild<QComboBox*>("IDC_DISPLAY_UNITS")
                ->setCurrentIndex(0);
            return IDCANCEL;
        });
    TriggerAction("ID_TOOLS_OPTIONS");
    EXPECT_EQ(GetApplicationSettings().m_displayUnits, "Millimeters");
    ASSERT_TRUE(Exit());
    std::string stored;
    ASSERT_TRUE(ReadUnits(HKEY_LOCAL_MACHINE, stored));
    EXPECT_EQ(stored, "Millimeters");
}

TEST_F(AppTest, UnknownUnitsTextsShowInchesAndOptionsFallsBackToTheFirstItem)
{
    WriteUnits(HKEY_LOCAL_MACHINE, "furlongs");
    ASSERT_TRUE(Start());
    EXPECT_EQ(Heading(COdomiraView::COLUMN_HEAD_USAGE), "Head Usage (in.)");
    QString shown;
    m_dialogs.Expect(
        [&](IModalDialog& dlg)
        {
            shown = dynamic_cast<COptionsDlg&>(dlg)
                        .findChild<QComboBox*>("IDC_DISPLAY_UNITS")
                        ->currentText();
            return IDOK;
        });
    TriggerAction("ID_TOOLS_OPTIONS");
    EXPECT_EQ(shown, "Inches");
    EXPECT_EQ(GetApplicationSettings().m_displayUnits, "Inches");
}

TEST(SerialNumberDialog, TheEditRefusesA33rdCharacterButKeepsALongerCurrentNumber)
{
    CSerialNumberDlg dlg("ABC");
    dlg.InitModal();
    auto* edit = dlg.findChild<QLineEdit*>("IDC_SERIAL_NUMBER");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(edit->text(), "ABC");
    edit->selectAll();
    QTest::keyClicks(edit, QString(40, QLatin1Char('7')));
    EXPECT_EQ(edit->text(), QString(32, QLatin1Char('7')));
    dlg.OnOK();
    EXPECT_EQ(dlg.GetModalResult(), IDOK);
    EXPECT_EQ(dlg.m_serialNumber.str(), std::string(32, '7'));

    // A printer that reports 40 characters shows them whole; OK asks for a shorter one.
    ScriptedPrompt prompt;
    CSerialNumberDlg longer(CString(std::string(40, 'L')));
    longer.InitModal();
    auto* edit2 = longer.findChild<QLineEdit*>("IDC_SERIAL_NUMBER");
    EXPECT_EQ(edit2->text().size(), 40);
    edit2->end(false);
    QTest::keyClick(edit2, Qt::Key_X);
    EXPECT_EQ(edit2->text().size(), 40) << "no character can be added";
    longer.OnOK();
    EXPECT_EQ(longer.GetModalResult(), -1);
    ASSERT_EQ(prompt.Texts().size(), 1u);
    edit2->setText(QStringLiteral("SHORT"));
    longer.OnOK();
    EXPECT_EQ(longer.GetModalResult(), IDOK);
    EXPECT_EQ(longer.m_serialNumber, "SHORT");
}

TEST(AboutDialog, ShowsTheVersionTheProgramFileCarries)
{
    CAboutDlg dlg;
    dlg.InitModal();
    auto* version = dlg.findChild<QLabel*>("IDC_VERSION");
    ASSERT_NE(version, nullptr);
    // This test program carries the note too, being built with the same library.
    CModuleVersion expected;
    ASSERT_TRUE(expected.LoadVersionInfo(FromQString(QCoreApplication::applicationFilePath())));
    EXPECT_EQ(version->text().toStdString(), expected.ShortVersionText().str());
    EXPECT_FALSE(version->text().isEmpty());
    EXPECT_EQ(dlg.windowTitle(), "About Odomira");
}

TEST(ModuleVersion, ReadsTheNoteAndFindsNothingInOtherFiles)
{
    CModuleVersion version;
    ASSERT_TRUE(version.LoadVersionInfo(FromQString(QCoreApplication::applicationFilePath())));
    EXPECT_EQ(version.dwSignature, CModuleVersion::SIGNATURE);
    EXPECT_EQ(version.m_translation.charset, 1252);
    EXPECT_EQ(version.m_translation.langID, 0x0409);
    version.dwFileVersionMS = (2u << 16) | 0;
    EXPECT_EQ(version.ShortVersionText(), "2.00");
    version.dwFileVersionMS = (3u << 16) | 7;
    EXPECT_EQ(version.ShortVersionText(), "3.07");
    // --version numbers the release as the package does.
    const struct
    {
        DWORD ms, ls;
        const char* release;
    } kReleases[] = {{(1u << 16) | 0, 0, "1.0.0"},
                     {(3u << 16) | 7, (12u << 16) | 0, "3.7.12"},
                     {(2u << 16) | 1, (0u << 16) | 4, "2.1.0.4"}};
    for (const auto& r : kReleases)
    {
        version.dwFileVersionMS = r.ms;
        version.dwFileVersionLS = r.ls;
        EXPECT_EQ(version.ReleaseVersionText(), r.release);
    }

    // Another program, a text file, a missing file: no version.
    for (const char* path : {"/bin/true", "/etc/hostname", "/no/such/file"})
        EXPECT_FALSE(version.LoadVersionInfo(path)) << path;
    EXPECT_EQ(version.dwFileVersionMS, 0u);
}
