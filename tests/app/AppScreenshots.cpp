// Writes pictures of the main window, its menus, toolbar, context menus and dialogs
// into the folder given on the command line (docs/screenshots in the source tree), over
// the simulated demo fleet. Not a test: scripts/screenshots runs it under Xvfb.
#include "AppTestBase.h"
#include "CAboutDlg.h"
#include "CHeadLifeDlg.h"
#include "COdometerHistoryDlg.h"
#include "COptionsDlg.h"
#include "CPrinterNamePrompt.h"
#include "CReadingStore.h"
#include "CSerialNumberDlg.h"
#include "CommandTable.h"
#include "QtUserPrompt.h"
#include "Resource.h"
#include "SimulatorProcess.h"

#include "CPrinterListModel.h"
#include <QAbstractButton>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QTimer>
#include <QToolBar>
#include <cmath>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
QDir g_out;
int g_failures = 0;

void Save(const QPixmap& picture, const char* name)
{
    const QString path = g_out.filePath(QString::fromLatin1(name));
    const bool ok = picture.save(path);
    g_failures += ok ? 0 : 1;
    std::printf("%s %s\n", ok ? "wrote" : "could not write", path.toLocal8Bit().constData());
}

void Settle()
{
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// The window with an open popup (and its open submenu) painted where they stand.
QPixmap WithPopups(QWidget* window, std::initializer_list<QWidget*> popups)
{
    QPixmap picture = window->grab();
    QRect area(QPoint(0, 0), picture.size());
    for (QWidget* popup : popups)
        area |= QRect(window->mapFromGlobal(popup->pos()), popup->size());
    QPixmap canvas(area.size());
    canvas.fill(QColor(0x30, 0x30, 0x30));
    QPainter painter(&canvas);
    painter.drawPixmap(-area.topLeft(), picture);
    for (QWidget* popup : popups)
        painter.drawPixmap(window->mapFromGlobal(popup->pos()) - area.topLeft(), popup->grab());
    return canvas;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class Shots : public AppTest
{
public:
    void TestBody() override {}
    int Run(const std::string& sourceDir);
};

// Four months of made-up readings of the demo's serial printer, as fills every few hours
// on working days would have kept them: its second head was replaced nine weeks ago,
// and the new one ends just short of what the simulator reports today.
void SeedHistory(CReadingStore& store, UtcMillis now)
{
    constexpr UtcMillis hour = 3600 * 1000;
    constexpr UtcMillis day = 24 * hour;
    // Whole hours of the clock, as a fill run by cron would be.
    const UtcMillis start = (now - 120 * day) / day * day + 2 * hour;
    const UtcMillis change = now - 63 * day;
    // What each fill finds printed since the one before.
    std::vector<std::pair<UtcMillis, double>> printed;
    double sinceChange = 0, all = 0;
    for (UtcMillis t = start; t < now - 2 * hour; t += 4 * hour)
    {
        const long long dayIndex = (t - start) / day;
        const long long hourOfDay = t % day / hour;
        double inches = 0;
        if (dayIndex % 7 < 5 && hourOfDay >= 8 && hourOfDay <= 16)
            inches = 25 + double((t / hour) % 7) * 5;
        printed.emplace_back(t, inches);
        all += inches;
        if (t >= change)
            sinceChange += inches;
    }
    // Printing moves both odometers alike; at a pace that brings the new head to the
    // simulator's 10,200 in. and the total to its 486,100 in. (its odometers carry on
    // from the last reading).
    const double pace = 10200 / sinceChange;
    double head = 19000, total = 486100 - all * pace, newHead = 0;
    std::vector<OdometerReading> readings;
    for (const auto& [t, inches] : printed)
    {
        total += inches * pace;
        (t < change ? head : newHead) += inches * pace;
        OdometerReading r;
        r.time = t;
        r.serial = "RX4-100234";
        r.name = "Shipping Dock";
        r.model = "RX400";
        r.port = "COM1";
        r.head = std::llround(t < change ? head : newHead);
        r.total = std::llround(total);
        readings.push_back(r);
    }
    store.RecordFill(readings);
    store.SetHeadLife("RX400", 32000);
}

int Shots::Run(const std::string& sourceDir)
{
    SetUp();
    {
        CReadingStore store;
        store.Open();
        SeedHistory(store, NowUtcMillis());
    }
    SimulatorProcess sim(ReadFile(sourceDir + "/tools/printer-sim/demo-fleet.txt"));
    std::vector<CPrinterSettings> fleet;
    for (const SimDevice& d : sim.Devices())
    {
        CPrinterSettings s;
        s.name = CString(d.name);
        if (d.kind == "serial")
            s = SerialPrinter(d.name, d.portName);
        else if (d.kind == "parallel")
            s = ParallelPrinter(d.name, d.portName);
        else if (d.kind == "usb")
            s = UsbPrinter(d.name, d.path);
        else
            s = NetworkPrinter(d.name, d.address, static_cast<DWORD>(d.tcpPort));
        if (d.kind != "usb")
            s.model = CString(sim.State(d.name).model);
        fleet.push_back(s);
    }
    const std::string file = TempPath("demo.vps");
    WriteSettingsFile(file, fleet);
    if (!Start({QString::fromStdString(file)}))
        return 1;
    Frame()->showNormal();
    Frame()->resize(980, 400);
    Frame()->move(40, 40);
    Settle();
    View()->selectionModel()->select(View()->GetListModel()->index(3, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Frame()->UpdateCommandUI();
    Settle();
    Save(Frame()->grab(), "main-window.png");
    Save(Frame()->findChild<QToolBar*>("AFX_IDW_TOOLBAR")->grab(), "toolbar.png");

    for (const char* name :
         {"menuFile", "menuEdit", "menuView", "menuPrinter", "menuTools", "menuHelp"})
    {
        auto* menu = Frame()->findChild<QMenu*>(QString::fromLatin1(name));
        const QRect item = Frame()->menuBar()->actionGeometry(menu->menuAction());
        Frame()->menuBar()->setActiveAction(menu->menuAction());
        menu->popup(Frame()->menuBar()->mapToGlobal(item.bottomLeft()));
        Settle();
        QWidget* sub = nullptr;
        if (std::string(name) == "menuPrinter")
        {
            auto* print = Frame()->findChild<QMenu*>("menuPrint");
            menu->setActiveAction(print->menuAction());
            const QRect at = menu->actionGeometry(print->menuAction());
            print->popup(menu->mapToGlobal(at.topRight()));
            Settle();
            sub = print;
        }
        const std::string file = "menu-" + std::string(name + 4) + ".png";
        std::string lower = file;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        Save(sub ? WithPopups(Frame(), {menu, sub}) : WithPopups(Frame(), {menu}), lower.c_str());
        if (sub)
            sub->close();
        menu->close();
        Settle();
    }

    for (UINT resource : {IDR_CONTEXT_ON_ITEM, IDR_CONTEXT_BACKGROUND})
    {
        const QRect row = View()->visualRect(View()->GetListModel()->index(3, 1));
        const QPoint at = resource == IDR_CONTEXT_ON_ITEM
                              ? row.center()
                              : QPoint(row.center().x(), View()->viewport()->height() - 60);
        QTimer::singleShot(100,
                           [&, resource]
                           {
                               QWidget* popup = QApplication::activePopupWidget();
                               if (popup)
                               {
                                   Settle();
                                   Save(WithPopups(Frame(), {popup}),
                                        resource == IDR_CONTEXT_ON_ITEM ? "context-on-item.png"
                                                                        : "context-background.png");
                                   popup->close();
                               }
                           });
        Frame()->TrackPopupMenu(resource, View()->viewport()->mapToGlobal(at),
                                resource == IDR_CONTEXT_ON_ITEM ? ID_PRINTER_MODIFY : 0);
    }

    auto dialog = [&](CDialog& dlg, const char* name)
    {
        dlg.InitModal();
        dlg.ShowModeless(true);
        Settle();
        Save(dlg.grab(), name);
        dlg.ShowModeless(false);
    };
    {
        COptionsDlg dlg;
        dialog(dlg, "dialog-options.png");
    }
    {
        CSerialNumberDlg dlg("RX4-100234");
        dialog(dlg, "dialog-serial-number.png");
    }
    {
        CAboutDlg dlg;
        dialog(dlg, "dialog-about.png");
    }
    {
        CReadingStore store;
        store.Open();
        const auto dock = store.FindPrinter("RX4-100234", "", "");
        COdometerHistoryDlg dlg("Shipping Dock", store.History(dock->id), &store, eUnitsInches);
        dlg.resize(900, 640);
        dialog(dlg, "dialog-odometer-history.png");
    }
    {
        // The same printer once another one had been put on its port before it.
        CReadingStore store;
        store.Open();
        PrinterHistory h = store.History(store.FindPrinter("RX4-100234", "", "")->id);
        StoredPrinter gone = h.printer;
        gone.model = "RX300";
        gone.firstSeen = h.printer.firstSeen - 90LL * 86400000;
        gone.lastSeen = h.printer.firstSeen - 86400000;
        gone.readingCount = 212;
        h.earlier = {gone};
        COdometerHistoryDlg dlg("Shipping Dock", h, &store, eUnitsInches);
        dlg.resize(900, 640);
        dialog(dlg, "dialog-odometer-history-earlier.png");
    }
    {
        CHeadLifeDlg dlg("RX400", 40000, eUnitsInches);
        dialog(dlg, "dialog-head-life.png");
    }

    {
        // The box after a fill in which fourteen printers could not be reached: the first
        // ten by name, all of them behind Show Details.
        std::vector<CString> names;
        for (int i = 1; i <= 14; ++i)
            names.push_back(CString::Formatted("Line %d", i));
        CString details;
        const CString text = CPrinterNamePrompt::WithPrinterNames(
            CString("That port is unavailable."), names, details);
        for (const char* name : {"box-printers.png", "box-printers-details.png"})
        {
            const bool open = std::string(name).find("details") != std::string::npos;
            QTimer::singleShot(0,
                               [name, open]
                               {
                                   auto* box = qobject_cast<QMessageBox*>(
                                       QApplication::activeModalWidget());
                                   if (!box)
                                       return;
                                   if (open)
                                       for (QAbstractButton* b : box->buttons())
                                           if (box->buttonRole(b) == QMessageBox::ActionRole)
                                               b->click();
                                   Settle();
                                   Save(box->grab(), name);
                                   box->accept();
                               });
            CQtUserPrompt::ShowOnGuiThread(text, CString("Odomira"), MB_OK, details);
        }
    }

    ExpectOptionsChoosingUnits(1); // millimetres
    Frame()->ExecuteCommand(ID_TOOLS_OPTIONS);
    // The printers answer the new units while the list fills; the picture shows them all.
    WaitForFill();
    View()->selectionModel()->select(View()->GetListModel()->index(3, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    Settle();
    Save(Frame()->grab(), "main-window-mm.png");
    TearDown();
    return g_failures ? 1 : 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    // A private settings root, devices folder and lock, as the tests have.
    std::string base = (std::filesystem::temp_directory_path() / "odomira-shots-XXXXXX").string();
    if (!::mkdtemp(base.data()))
        return 1;
    ::setenv("VARKO_SETTINGS_ROOT", (base + "/settings").c_str(), 1);
    ::setenv("VARKO_DEVICE_DIR", (base + "/devices").c_str(), 1);
    ::setenv("VARKO_DISCOVERY_BROADCAST", "127.255.255.255", 1);
    std::filesystem::create_directories(base + "/devices");
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const char* source = std::getenv("ODOMIRA_SOURCE_DIR");
    const std::string sourceDir = source ? source : ODOMIRA_SOURCE_DIR_DEFAULT;

    QApplication app(argc, argv);
    g_out = QDir(QString::fromLocal8Bit(argv[1]));
    int status = 0;
    {
        Shots shots;
        status = shots.Run(sourceDir);
    }
    std::filesystem::remove_all(base);
    return status;
}
