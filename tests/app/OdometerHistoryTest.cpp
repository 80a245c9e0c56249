// The odometer history in the window, against simulated printers: the new command in
// its menus, the readings each fill keeps (downloads move them between two fills), a
// reset through the window, the history dialog with its plot, table, forecast, head
// life and export, and a store that cannot be used.
#include "CFillController.h"
#include "CHeadLifeDlg.h"
#include "CMapStringToOb.h"
#include "COdometerHistoryDlg.h"
#include "CReadingStore.h"
#include "CVarkoPrinters.h"
#include "SimFleetTest.h"

#include <QChart>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScatterSeries>
#include <QStandardItemModel>
#include <QTableWidget>
#include <QXYSeries>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
constexpr UtcMillis kHour = 3600 * 1000;
constexpr UtcMillis kDay = 24 * kHour;

class OdometerHistory : public SimFleetTest
{
protected:
    // What the store holds of a printer, read as another program would.
    PrinterHistory Stored(const std::string& serial) const
    {
        CReadingStore store;
        store.Open(CReadingStore::OpenMode::readOnly);
        const auto printer = store.FindPrinter(serial, "", "");
        return printer ? store.History(printer->id) : PrinterHistory{};
    }
    std::size_t StoredPrinters() const
    {
        CReadingStore store;
        store.Open(CReadingStore::OpenMode::readOnly);
        return store.Printers().size();
    }
};

template <class T> T* Control(IModalDialog& dlg, const char* name)
{
    return dynamic_cast<QWidget&>(dlg).findChild<T*>(QString::fromLatin1(name));
}

std::string Slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}
} // namespace

TEST_F(OdometerHistory, TheCommandIsAddedAfterEveryOldItemForOneTwoWayPrinter)
{
    ASSERT_TRUE(Open());
    auto* menu = Frame()->findChild<QMenu*>(QStringLiteral("menuPrinter"));
    ASSERT_NE(menu, nullptr);
    std::vector<std::string> items;
    for (QAction* a : menu->actions())
        items.push_back(a->isSeparator() ? "-" : a->text().toStdString());
    EXPECT_EQ(items, (std::vector<std::string>{"&Add...", "&Modify...", "&Delete", "-",
                                               "&Auto-Detect", "-", "&Set Serial Number", "-",
                                               "&View Head History", "&Reset Head Odometer",
                                               "&Print", "-", "Odometer &History..."}));
    EXPECT_EQ(menu->actions().back()->objectName(), "ID_PRINTER_ODOMETER_HISTORY");
    EXPECT_EQ(Action("ID_PRINTER_ODOMETER_HISTORY")->statusTip().toStdString(),
              "Show every odometer reading kept for the selected printer, and when its head "
              "is due");

    for (const char* twoWay : {"Dock", "Desk"})
    {
        Select({twoWay});
        EXPECT_TRUE(IsEnabled("ID_PRINTER_ODOMETER_HISTORY")) << twoWay;
    }
    for (const char* oneWay : {"Line", "Yard"})
    {
        Select({oneWay});
        EXPECT_FALSE(IsEnabled("ID_PRINTER_ODOMETER_HISTORY")) << oneWay;
    }
    Select({"Dock", "Desk"});
    EXPECT_FALSE(IsEnabled("ID_PRINTER_ODOMETER_HISTORY"));
    View()->clearSelection();
    EXPECT_FALSE(IsEnabled("ID_PRINTER_ODOMETER_HISTORY"));
}

TEST_F(OdometerHistory, EachFillKeepsItsReadingsAndADownloadMovesThem)
{
    ASSERT_TRUE(Open());
    EXPECT_TRUE(Messages().empty());
    // The two-way printers only: the others are never read.
    EXPECT_EQ(StoredPrinters(), 2u);
    PrinterHistory dock = Stored("RX4-1");
    ASSERT_EQ(dock.readings.size(), 1u);
    EXPECT_EQ(dock.readings[0].head, 100);
    EXPECT_EQ(dock.readings[0].total, 2000);
    EXPECT_EQ(dock.readings[0].port, "COM3");
    EXPECT_EQ(dock.readings[0].name, "Dock");
    EXPECT_EQ(Stored("USB-7").readings[0].port, m_sim->Path("Desk"));

    TriggerAction("ID_VIEW_REFRESH");
    EXPECT_EQ(Stored("RX4-1").readings.size(), 1u) << "equal readings are one entry";

    // A label of 20,000 bytes moves both odometers by 20 inches.
    const std::string label = TempPath("label.prn");
    {
        std::ofstream f(label, std::ios::binary);
        f << std::string(20000, 'L');
    }
    CVarkoPrinters* printers = Doc()->GetPrinters();
    CVarkoPrinterData* printer = printers->FindPrinter("Dock");
    printers->SetDownloadFile(printer, CString(label));
    CMapStringToOb map;
    map.SetAt("Dock", printer);
    printers->DownloadToPrinters(&map);
    ASSERT_TRUE(SimulatorProcess::WaitFor(
        [&]
        {
            const SimPrinterState s = m_sim->State("Dock");
            return s.labelBytes == 20000 && s.openClients == 0;
        },
        30000));
    TriggerAction("ID_VIEW_REFRESH");
    EXPECT_EQ(Cell(RowOf("Dock"), 5), "120");
    dock = Stored("RX4-1");
    ASSERT_EQ(dock.readings.size(), 2u);
    EXPECT_EQ(dock.readings[1].head, 120);
    EXPECT_EQ(dock.readings[1].total, 2020);
    EXPECT_GE(dock.readings[1].firstSeen, dock.readings[0].lastSeen);

    // Millimetres are kept as read.
    m_dialogs.Expect(
        [](IModalDialog& dlg)
        {
            Control<QComboBox>(dlg, "IDC_DISPLAY_UNITS")->setCurrentIndex(1);
            return IDOK;
        });
    TriggerAction("ID_TOOLS_OPTIONS");
    dock = Stored("RX4-1");
    ASSERT_EQ(dock.readings.size(), 3u);
    EXPECT_EQ(dock.readings[2].unit, OdometerUnit::millimeters);
    EXPECT_EQ(dock.readings[2].head, 3058) << "120.4 in.";
    EXPECT_TRUE(dock.changes.empty()) << "the same head in other units";
}

TEST_F(OdometerHistory, AResetThroughTheWindowIsANewHeadAndANoIsNothing)
{
    ASSERT_TRUE(Open());
    Select({"Dock", "Desk"});
    // Top down: Desk, then Dock.
    m_prompt.Answer(IDNO);
    m_prompt.Answer(IDYES);
    TriggerAction("ID_PRINTER_RESET_HEAD_ODOMETER");
    EXPECT_EQ(Cell(RowOf("Dock"), 5), "0");

    const PrinterHistory dock = Stored("RX4-1");
    ASSERT_EQ(dock.changes.size(), 1u);
    EXPECT_EQ(dock.changes[0].kind, HeadChangeKind::reset);
    EXPECT_EQ(dock.changes[0].headBefore, 100);
    ASSERT_EQ(dock.readings.size(), 2u);
    EXPECT_EQ(dock.changes[0].readingId, dock.readings[1].id) << "the refilled row shows it";
    EXPECT_TRUE(Stored("USB-7").changes.empty());
}

TEST_F(OdometerHistory, SetSerialNumberCarriesThePrintersHistory)
{
    ASSERT_TRUE(Open());
    ASSERT_EQ(Stored("RX4-1").readings.size(), 1u);
    Select({"Dock"});
    m_dialogs.Expect(
        [&](IModalDialog& dlg)
        {
            Control<QLineEdit>(dlg, "IDC_SERIAL_NUMBER")->setText("RX4-NEW");
            return IDOK;
        });
    TriggerAction("ID_PRINTER_SET_SERIAL_NUMBER");
    ASSERT_TRUE(Doc()->Fill().History().WaitIdle(std::chrono::seconds(30)));
    EXPECT_EQ(Stored("RX4-NEW").readings.size(), 1u);
    EXPECT_TRUE(Stored("RX4-1").readings.empty()) << "nothing left under the old number";
    EXPECT_EQ(StoredPrinters(), 2u) << "Dock and Desk, no third";
}

TEST_F(OdometerHistory, TheDialogPlotsListsForecastsSetsTheHeadLifeAndExports)
{
    // Twenty days of an old head up to 400 in., then a new one at 10 in. a day; the
    // fill at start-up adds today's 100 in.
    const UtcMillis now = NowUtcMillis();
    {
        CReadingStore store;
        store.Open();
        std::vector<OdometerReading> readings;
        for (int day = 20; day >= 1; --day)
        {
            OdometerReading r;
            r.time = now - day * kDay;
            r.serial = "RX4-1";
            r.name = "Dock";
            r.model = "RX400";
            r.port = "COM3";
            r.head = day > 10 ? (20 - day) * 40 + 40 : (10 - day) * 10;
            r.total = 1500 + (20 - day) * 25;
            readings.push_back(r);
        }
        store.RecordFill(readings);
    }
    ASSERT_TRUE(Open());
    Select({"Dock"});

    const std::string csv = TempPath("dock.csv");
    m_files.Answer(csv);
    std::string before, after, headLifeModel;
    int rows = 0, headPoints = 0, changePoints = 0;
    std::optional<double> rate, daysLeft;
    QString topHead, window;
    m_dialogs.Expect(
        [&](IModalDialog& dlg)
        {
            auto& history = dynamic_cast<COdometerHistoryDlg&>(dlg);
            window = history.windowTitle();
            auto* table = Control<QTableWidget>(dlg, "IDC_HISTORY_TABLE");
            rows = table->rowCount();
            topHead = table->item(0, 2)->text();
            for (QAbstractSeries* s : history.Chart()->series())
            {
                if (s->objectName() == "headSeries")
                    headPoints = int(static_cast<QXYSeries*>(s)->count());
                if (s->objectName() == "changeSeries")
                    changePoints = int(static_cast<QXYSeries*>(s)->count());
            }
            before = Control<QLabel>(dlg, "IDC_HISTORY_FORECAST")->text().toStdString();
            rate = history.Forecast().inchesPerDay;
            Control<QPushButton>(dlg, "IDC_HISTORY_HEAD_LIFE")->click();
            after = Control<QLabel>(dlg, "IDC_HISTORY_FORECAST")->text().toStdString();
            daysLeft = history.Forecast().daysLeft;
            Control<QPushButton>(dlg, "IDC_HISTORY_EXPORT")->click();
            return IDOK;
        });
    m_dialogs.Expect(std::vector<CScriptedModalRunner::Step>{
        [&](IModalDialog& dlg)
        {
            headLifeModel = Control<QLabel>(dlg, "IDC_HEAD_LIFE_MODEL")->text().toStdString();
            Control<QLineEdit>(dlg, "IDC_HEAD_LIFE_VALUE")->setText("-5");
            return IDOK;
        },
        [&](IModalDialog& dlg)
        {
            Control<QLineEdit>(dlg, "IDC_HEAD_LIFE_VALUE")->setText("1,000");
            return IDOK;
        }});
    TriggerAction("ID_PRINTER_ODOMETER_HISTORY");
    ASSERT_EQ(m_dialogs.Records().size(), 2u);
    // Recorded as each ends: the head life dialog within the history dialog first.
    EXPECT_EQ(m_dialogs.Records()[0].templateId, 135u);
    EXPECT_EQ(m_dialogs.Records()[1].templateId, 134u);
    EXPECT_EQ(m_dialogs.Records()[0].rejectedOK, 1) << "-5 is no head life";
    EXPECT_EQ(Messages(),
              (std::vector<std::string>{
                  "Enter the head life as a number from 1 to 1000000000, or leave the field "
                  "empty if it is not known."}));

    EXPECT_EQ(window, "Odometer History - Dock");
    EXPECT_EQ(rows, 21);
    EXPECT_EQ(topHead, "100") << "newest first";
    EXPECT_EQ(headPoints, 21);
    EXPECT_EQ(changePoints, 1);
    ASSERT_TRUE(rate);
    EXPECT_NEAR(*rate, 10.0, 0.5);
    EXPECT_NE(before.find("Wear: 10."), std::string::npos) << before;
    EXPECT_NE(before.find("Head life of RX400: not set"), std::string::npos) << before;
    EXPECT_EQ(headLifeModel, "RX400");
    ASSERT_TRUE(daysLeft);
    EXPECT_NEAR(*daysLeft, 90, 5);
    // The range of days left around it, from the spread of the wear.
    EXPECT_NE(after.find(" days left ("), std::string::npos) << after;
    EXPECT_NE(after.find(" to "), std::string::npos) << after;
    EXPECT_NE(after.find("), due on"), std::string::npos) << after;
    {
        CReadingStore store;
        store.Open(CReadingStore::OpenMode::readOnly);
        EXPECT_EQ(store.HeadLife("RX400"), 1000.0);
    }

    ASSERT_EQ(m_files.Calls().size(), 1u);
    EXPECT_FALSE(m_files.Calls()[0].open);
    EXPECT_EQ(m_files.Calls()[0].filters.front(), "CSV Files (*.csv)");
    const std::string exported = Slurp(csv);
    EXPECT_EQ(exported.rfind("Printer Name,Serial Number,Model,Port,", 0), 0u) << exported;
    EXPECT_EQ(std::count(exported.begin(), exported.end(), '\n'), 22);
    EXPECT_NE(exported.find(",lower_value\n"), std::string::npos);
}

TEST_F(OdometerHistory, TheDialogSaysAnEarlierPrinterUnderTheKeyIsKeptApart)
{
    const UtcMillis now = NowUtcMillis();
    PrinterHistory h;
    h.printer.id = 2;
    h.printer.serial = "RX4-1";
    h.printer.model = "RX400";
    h.printer.port = "COM3";
    StoredReading r;
    r.firstSeen = r.lastSeen = now - kHour;
    r.head = 10;
    r.total = 20;
    h.readings.push_back(r);
    StoredPrinter gone;
    gone.id = 1;
    gone.model = "RX300";
    gone.firstSeen = now - 40 * kDay;
    gone.lastSeen = now - 2 * kDay;
    gone.readingCount = 17;
    gone.retiredAt = now - kHour;
    h.earlier.push_back(gone);
    COdometerHistoryDlg dlg("Dock", h, nullptr, eUnitsInches, now);
    dlg.OnInitDialog();
    const std::string text = Control<QLabel>(dlg, "IDC_HISTORY_PRINTER")->text().toStdString();
    EXPECT_NE(text.find("Serial number: RX4-1"), std::string::npos) << text;
    EXPECT_NE(text.find("An earlier printer under this key (model RX300, seen "), std::string::npos)
        << text;
    EXPECT_NE(text.find("17 readings) is kept apart"), std::string::npos) << text;
    EXPECT_EQ(Control<QTableWidget>(dlg, "IDC_HISTORY_TABLE")->rowCount(), 1);
}

TEST_F(OdometerHistory, ADamagedStoreIsToldOnceAndTheListStillFills)
{
    const std::string path = CReadingStore::DefaultPath();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const std::string garbage(4096, 'x');
    {
        std::ofstream f(path, std::ios::binary);
        f << garbage;
    }
    ASSERT_TRUE(Open());
    ASSERT_EQ(Messages().size(), 1u);
    EXPECT_NE(Messages()[0].find(path), std::string::npos) << Messages()[0];
    EXPECT_NE(Messages()[0].find("damaged"), std::string::npos) << Messages()[0];
    EXPECT_NE(Messages()[0].find("works as before"), std::string::npos) << Messages()[0];
    EXPECT_EQ(Cell(RowOf("Dock"), 3), "RX4-1");
    EXPECT_EQ(Cell(RowOf("Dock"), 5), "100");

    TriggerAction("ID_VIEW_REFRESH");
    EXPECT_EQ(Messages().size(), 1u) << "once, not every fill";

    Select({"Dock"});
    std::string shown;
    m_dialogs.Expect(
        [&](IModalDialog& dlg)
        {
            shown = Control<QLabel>(dlg, "IDC_HISTORY_FORECAST")->text().toStdString();
            EXPECT_FALSE(Control<QPushButton>(dlg, "IDC_HISTORY_EXPORT")->isEnabled());
            EXPECT_FALSE(Control<QPushButton>(dlg, "IDC_HISTORY_HEAD_LIFE")->isEnabled());
            return IDOK;
        });
    TriggerAction("ID_PRINTER_ODOMETER_HISTORY");
    EXPECT_NE(shown.find("damaged"), std::string::npos) << shown;
    EXPECT_TRUE(Slurp(path) == garbage) << "the damaged file was changed";
}
