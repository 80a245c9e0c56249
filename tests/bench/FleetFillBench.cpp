// Filling the printer list: the fleet-query engine against asking the printers one after
// the other, on simulated printers, and the window's event loop while it fills. A
// program to run by hand (scripts/bench runs it); it prints figures beside the
// reference each is measured against, and asserts nothing.
//   cmake --build build --target fleet_fill_bench
//   build/bin/fleet_fill_bench            (about two minutes: silent printers wait out
//                                          their time-outs)
//
// Figures:
//   1. 40 serial and USB printers, 5 of them silent: the sequential fill, the engine's
//      fill, and the slowest single printer asked alone (target: engine <= 1.3 x it).
//   2. 1,000 network printers and 100 serial ones: the engine's fill against the
//      slowest single printer (target: <= 2 s + it).
//   3. The window filling both fleets: the longest the event loop went without serving
//      a 5 ms timer (target: < 50 ms), and the time until the list was complete.
//   4. 64 serial printers, 16 of them silent: the engine's fill against the slowest
//      single printer (target: <= 1.1 x it).
#include "BenchSupport.h"
#include "CFleetQuery.h"
#include "CMainFrame.h"
#include "COdomiraApp.h"
#include "COdomiraView.h"
#include "CVarkoPrinters.h"
#include "Resource.h"
#include "ScriptedPrompt.h"
#include "SimulatorProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Serial printers on COM1.., USB ones on lp0..; the first `silent` serial printers
// and `silentUsb` USB ones take every byte and never answer.
std::string Fleet(int serial, int usb, int silent, int silentUsb)
{
    std::ostringstream f;
    for (int i = 0; i < serial; ++i)
        f << "[S" << i << "]\nkind = serial\ncom = " << i + 1 << "\nhead = " << i
          << "\ntotal = 1000\n"
          << (i < silent ? "fault = silent\n" : "");
    for (int i = 0; i < usb; ++i)
        f << "[U" << i << "]\nkind = usb\nlink = lp" << i << "\nhead = " << i << "\ntotal = 500\n"
          << (i < silentUsb ? "fault = silent\n" : "");
    return f.str();
}

void AddSimulated(CVarkoPrinters& c, const SimulatorProcess& sim)
{
    for (const SimDevice& d : sim.Devices())
    {
        CPrinterSettings s;
        s.name = CString(d.name);
        s.portClass = d.kind == "usb" ? "CUSBPort" : "CSerialPort";
        s.portName = CString(d.kind == "usb" ? d.path : d.portName);
        s.model = "RX400";
        c.AddPrinter(nullptr, s);
    }
}

void AddNetwork(CVarkoPrinters& c, int count)
{
    for (int i = 0; i < count; ++i)
    {
        CPrinterSettings s;
        s.name = CString("N" + std::to_string(i));
        s.portClass = "CNetworkPort";
        s.portName =
            CString("127.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 2));
        c.AddPrinter(nullptr, s);
    }
}

std::vector<CVarkoPrinterData*> List(const CVarkoPrinters& c)
{
    std::vector<CVarkoPrinterData*> list;
    for (POSITION pos = c.GetFirstPrinter(); pos;)
        list.push_back(c.GetNextPrinter(pos));
    return list;
}

// The slowest printer of the list, asked alone.
double SlowestSingle(const std::vector<CVarkoPrinterData*>& printers)
{
    double slowest = 0;
    for (CVarkoPrinterData* p : printers)
    {
        const auto t = Clock::now();
        CFleetQuery::Ask(*p, eUnitsInches);
        slowest = std::max(slowest, SecondsSince(t));
    }
    return slowest;
}

struct WindowFigures
{
    double seconds = 0;
    qint64 longestGapMs = 0;
};

// Serves the event loop until the list is complete; how long that took and the longest
// stretch without serving a 5 ms timer.
WindowFigures MeasureFill(COdomiraView* view, const std::function<void()>& startFill)
{
    WindowFigures figures;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout,
                     [&]
                     {
                         figures.longestGapMs =
                             std::max(figures.longestGapMs, clock.elapsed() - last);
                         last = clock.elapsed();
                     });
    clock.start();
    startFill();
    figures.longestGapMs = clock.elapsed();
    last = clock.elapsed();
    tick.start(5);
    QEventLoop loop;
    while (view->IsFilling())
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    figures.longestGapMs = std::max(figures.longestGapMs, clock.elapsed() - last);
    figures.seconds = clock.elapsed() / 1000.0;
    tick.stop();
    return figures;
}

// The real window opening a settings file, then a Refresh (F5) of the whole list.
std::pair<WindowFigures, WindowFigures> WindowFill(const std::string& file)
{
    COdomiraApp app;
    QElapsedTimer startup;
    startup.start();
    if (!app.InitInstance({QString::fromStdString(file)}))
        return {};
    COdomiraView* view = app.GetMainFrame()->GetActiveView();
    QElapsedTimer firstPaint;
    firstPaint.start();
    QCoreApplication::processEvents();
    std::printf("  %-34s %8lld ms\n", "open: first turn (window shown)",
                static_cast<long long>(firstPaint.elapsed()));
    WindowFigures opened = MeasureFill(view, [] {});
    opened.seconds = startup.elapsed() / 1000.0;
    const WindowFigures refreshed =
        MeasureFill(view, [&] { app.GetMainFrame()->ExecuteCommand(ID_VIEW_REFRESH); });
    app.GetDocument()->GetPrinters()->SetModified(FALSE);
    app.GetMainFrame()->close();
    app.ExitInstance();
    return {opened, refreshed};
}

void PrintWindow(const std::pair<WindowFigures, WindowFigures>& w, double reference)
{
    std::printf("  %-34s %8.3f s   = reference + %.3f s\n", "open: list complete after",
                w.first.seconds, w.first.seconds - reference);
    std::printf("  %-34s %8lld ms  (target < 50 ms)\n", "open: longest event-loop gap",
                static_cast<long long>(w.first.longestGapMs));
    std::printf("  %-34s %8.3f s   = reference + %.3f s\n", "refresh: list complete after",
                w.second.seconds, w.second.seconds - reference);
    std::printf("  %-34s %8lld ms  (target < 50 ms)\n", "refresh: longest event-loop gap",
                static_cast<long long>(w.second.longestGapMs));
}

// The whole fleet asked one printer after the other, then by the fleet-query engine.
struct FleetTimes
{
    double sequential;
    double engine;
};

FleetTimes AskFleet(const std::vector<CVarkoPrinterData*>& printers)
{
    auto t = Clock::now();
    for (CVarkoPrinterData* p : printers)
        CFleetQuery::Ask(*p, eUnitsInches);
    const double sequential = SecondsSince(t);
    t = Clock::now();
    CFleetQuery::AskAll(printers, eUnitsInches);
    return {sequential, SecondsSince(t)};
}

std::string Save(CVarkoPrinters& c, const std::string& dir, const char* name)
{
    const std::string path = dir + "/" + name;
    c.SaveToFile(CString(path));
    return path;
}
} // namespace

int main(int argc, char** argv)
{
    const std::string base = bench::PrivateFolders("fleet-bench");
    if (base.empty())
        return 1;
    QApplication qapp(argc, argv);
    ScriptedPrompt quiet; // the boxes a fill shows are answered at once

    std::printf("fleet fill benchmark (%d ports at a time)\n\n", CFleetQuery::DEFAULT_CONCURRENCY);

    std::string fileMixed;
    std::string fileLarge;
    {
        // 1. 40 serial and USB printers, 5 silent (3 serial, 2 USB).
        SimulatorProcess sim(Fleet(24, 16, 3, 2));
        CVarkoPrinters mixed;
        AddSimulated(mixed, sim);
        const auto printers = List(mixed);
        std::printf("40 serial/USB printers, 5 silent\n");
        const double slowest = SlowestSingle({printers[0]}); // a silent serial printer
        const auto [sequential, engine] = AskFleet(printers);
        std::printf("  %-34s %8.2f s\n", "slowest single printer (reference)", slowest);
        std::printf("  %-34s %8.2f s   %5.2f x reference\n", "one after the other", sequential,
                    sequential / slowest);
        std::printf("  %-34s %8.2f s   %5.2f x reference   (target <= 1.30)\n",
                    "fleet-query engine", engine, engine / slowest);
        fileMixed = Save(mixed, base, "mixed.vps");

        std::printf("\n  the window filling it (start-up excluded from the gaps):\n");
        PrintWindow(WindowFill(fileMixed), slowest);
    }
    {
        // 2. 1,000 network printers and 100 serial ones.
        SimulatorProcess sim(Fleet(100, 0, 0, 0));
        CVarkoPrinters large;
        AddSimulated(large, sim);
        AddNetwork(large, 1000);
        const auto printers = List(large);
        std::printf("\n1,000 network printers and 100 serial ones\n");
        const double slowest = SlowestSingle(printers);
        const auto [sequential, engine] = AskFleet(printers);
        std::printf("  %-34s %8.3f s\n", "slowest single printer (reference)", slowest);
        std::printf("  %-34s %8.3f s\n", "one after the other", sequential);
        std::printf("  %-34s %8.3f s   = reference + %.3f s   (target <= + 2 s)\n",
                    "fleet-query engine", engine, engine - slowest);
        fileLarge = Save(large, base, "large.vps");

        std::printf("\n  the window filling it (start-up excluded from the gaps):\n");
        PrintWindow(WindowFill(fileLarge), slowest);
    }
    {
        // 3. A desk of 64 serial printers, 16 of them silent: every port is asked at once,
        // so the silent ones cost one time-out, not one per round.
        SimulatorProcess sim(Fleet(64, 0, 16, 0));
        CVarkoPrinters desk;
        AddSimulated(desk, sim);
        const auto printers = List(desk);
        std::printf("\n64 serial printers, 16 silent\n");
        const double slowest = SlowestSingle({printers[0]}); // a silent one
        std::vector<double> engine;
        for (int run = 0; run < 3; ++run)
        {
            const auto t = Clock::now();
            CFleetQuery::AskAll(printers, eUnitsInches);
            engine.push_back(SecondsSince(t));
        }
        std::printf("  %-34s %8.2f s\n", "slowest single printer (reference)", slowest);
        std::printf("  %-34s %8.2f s   %5.2f x reference   (target <= 1.10; median of 3)\n",
                    "fleet-query engine", bench::Median(engine), bench::Median(engine) / slowest);
    }
    std::filesystem::remove_all(base);
    return 0;
}
