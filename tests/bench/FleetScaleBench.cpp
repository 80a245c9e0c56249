// What a fleet of ten thousand printers costs beyond one of ten: loading and closing the
// settings file against decoding the same bytes, the memory an idle printer takes beyond
// its decoded record, `odomira-cli show` of each file, and the window opened on each
// and ended after File > Exit. Each figure is the median of several runs, beside its
// reference from the same run. A program to run by hand (scripts/bench runs it); it
// prints figures and asserts nothing.
//   cmake --build build --target fleet_scale_bench
//   build/bin/fleet_scale_bench [runs]        (default 5; about a minute)
//
// Targets, for 10,000 printers: load + close within 0.1 s of decoding; at most 4 KiB
// resident per idle printer beyond its record; `show` within 0.25 s of a 10-printer
// `show`; the window shown and ended each within 0.5 s of a 10-printer window.
#include "BenchSupport.h"
#include "CArchive.h"
#include "CMainFrame.h"
#include "COdomiraApp.h"
#include "COdomiraDoc.h"
#include "COdomiraView.h"
#include "CVarkoPrinters.h"
#include "Resource.h"
#include "ScriptedPrompt.h"

#include <QApplication>
#include <QEventLoop>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace
{
// Network printers on loopback addresses where nothing listens: a query is refused at
// once, so the window's fill measures the program, not a network.
std::vector<std::uint8_t> FleetFile(int count)
{
    CArchive ar(CArchive::store);
    ar << static_cast<DWORD>(count);
    for (int i = 0; i < count; ++i)
    {
        CString address =
            CString::Formatted("127.%d.%d.%d", 100 + i / 62500, (i / 250) % 250, i % 250 + 2);
        ar << CString::Formatted("Printer#%d", i + 1) << CString("RX-400") << CString("")
           << CString("CNetworkPort") << DWORD(0) << address << DWORD(9100);
    }
    return ar.Buffer();
}

std::string Write(const std::string& dir, int count)
{
    const std::string path = dir + "/fleet-" + std::to_string(count) + ".vps";
    WriteFileAtomically(path.c_str(), FleetFile(count));
    return path;
}

// The least loading could cost: every record decoded into plain strings and numbers.
struct Decoded
{
    std::vector<std::vector<CString>> records;
    std::vector<DWORD> numbers;
};

std::unique_ptr<Decoded> PlainDecode(const std::string& path)
{
    auto d = std::make_unique<Decoded>();
    CArchive ar(ReadWholeFile(path.c_str()));
    DWORD n = 0;
    ar >> n;
    d->records.resize(n);
    for (auto& r : d->records)
    {
        CString text;
        DWORD number = 0;
        for (int field = 0; field < 4; ++field)
        {
            ar >> text;
            r.push_back(text);
        }
        ar >> number;
        d->numbers.push_back(number);
        ar >> text >> number;
        r.push_back(text);
        d->numbers.push_back(number);
    }
    return d;
}

struct CollectionFigures
{
    double decode = 0;
    double loadAndClose = 0;
    double decodedKiB = 0; // resident per record, decoded plainly
    double loadedKiB = 0;  // resident per printer, loaded
    long threads = 0;      // threads of the process while the fleet is loaded
};

CollectionFigures Collection(const std::string& path, int count)
{
    CollectionFigures f;
    double t = bench::Now();
    long before = bench::RssKiB();
    std::unique_ptr<Decoded> decoded = PlainDecode(path);
    f.decode = bench::Now() - t;
    f.decodedKiB = static_cast<double>(bench::RssKiB() - before) / count;
    decoded.reset();

    before = bench::RssKiB();
    t = bench::Now();
    auto* c = new CVarkoPrinters;
    c->LoadFromFile(path.c_str(), nullptr);
    const double loaded = bench::Now() - t;
    f.loadedKiB = static_cast<double>(bench::RssKiB() - before) / count;
    f.threads = 0;
    if (FILE* s = std::fopen("/proc/self/status", "r"))
    {
        char line[256];
        while (std::fgets(line, sizeof line, s))
            if (std::sscanf(line, "Threads: %ld", &f.threads) == 1)
                break;
        std::fclose(s);
    }
    t = bench::Now();
    delete c;
    f.loadAndClose = loaded + (bench::Now() - t);
    return f;
}

// Seconds one run of the command-line tool takes, its output thrown away.
double RunCli(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t io;
    posix_spawn_file_actions_init(&io);
    posix_spawn_file_actions_addopen(&io, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&io, 2, "/dev/null", O_WRONLY, 0);
    const double t = bench::Now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &io, nullptr, argv.data(), environ) != 0)
    {
        posix_spawn_file_actions_destroy(&io);
        return -1;
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&io);
    return bench::Now() - t;
}

struct WindowFigures
{
    double shown = 0; // from start-up to the window's first turn of the event loop
    double ended = 0; // from File > Exit to the program's objects being gone
};

WindowFigures Window(const std::string& path)
{
    WindowFigures f;
    const double start = bench::Now();
    auto app = std::make_unique<COdomiraApp>();
    if (!app->InitInstance({QString::fromStdString(path)}))
        return f;
    QCoreApplication::processEvents();
    f.shown = bench::Now() - start;
    // The list fills meanwhile; a user exits once it is complete.
    COdomiraView* view = app->GetMainFrame()->GetActiveView();
    QEventLoop loop;
    while (view->IsFilling())
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    app->GetDocument()->GetPrinters()->SetModified(FALSE);
    const double exit = bench::Now();
    app->GetMainFrame()->ExecuteCommand(ID_APP_EXIT);
    QCoreApplication::processEvents();
    app->ExitInstance();
    app.reset();
    f.ended = bench::Now() - exit;
    return f;
}

void Line(const char* label, double small, double large, double target, const char* unit = "s")
{
    std::printf("  %-44s %9.3f %-4s %9.3f %-4s   + %.3f %s   (target <= + %.2f %s)\n", label, small,
                unit, large, unit, large - small, unit, target, unit);
}
} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string base = bench::PrivateFolders("fleet-scale-bench");
    if (base.empty())
        return 1;
    QApplication qapp(argc, argv);
    ScriptedPrompt quiet; // the fill's boxes (every printer refuses) are answered at once
    const char* binDir = std::getenv("ODOMIRA_BIN_DIR");
    const std::string cli = std::string(binDir ? binDir : "bin") + "/odomira-cli";

    const int small = 10, large = 10000;
    const std::string smallFile = Write(base, small), largeFile = Write(base, large);
    std::printf("%d runs each, medians; %d printers beside %d\n\n", runs, large, small);

    std::vector<double> decode, loadClose, decodedKiB, loadedKiB;
    long threads = 0;
    for (int i = 0; i < runs; ++i)
    {
        const CollectionFigures f = Collection(largeFile, large);
        decode.push_back(f.decode);
        loadClose.push_back(f.loadAndClose);
        decodedKiB.push_back(f.decodedKiB);
        loadedKiB.push_back(f.loadedKiB);
        threads = f.threads;
    }
    std::printf("the library, %d printers (%ld threads while loaded)\n", large, threads);
    std::printf("  %-44s %9.3f s\n", "decode the bytes (reference)", bench::Median(decode));
    std::printf("  %-44s %9.3f s    + %.3f s   (target <= + 0.10 s)\n", "load + close",
                bench::Median(loadClose), bench::Median(loadClose) - bench::Median(decode));
    std::printf("  %-44s %9.2f KiB\n", "resident per decoded record (reference)",
                bench::Median(decodedKiB));
    std::printf("  %-44s %9.2f KiB  + %.2f KiB (target <= + 4 KiB)\n", "resident per idle printer",
                bench::Median(loadedKiB), bench::Median(loadedKiB) - bench::Median(decodedKiB));

    std::printf("\n%-46s %14s %14s\n", "", (std::to_string(small) + " printers").c_str(),
                (std::to_string(large) + " printers").c_str());
    std::vector<double> showSmall, showLarge;
    for (int i = 0; i < runs; ++i)
    {
        showSmall.push_back(RunCli({cli, "show", smallFile}));
        showLarge.push_back(RunCli({cli, "show", largeFile}));
    }
    Line("odomira-cli show", bench::Median(showSmall), bench::Median(showLarge), 0.25);

    std::vector<double> shownSmall, shownLarge, endedSmall, endedLarge;
    for (int i = 0; i < runs; ++i)
    {
        const WindowFigures s = Window(smallFile), l = Window(largeFile);
        shownSmall.push_back(s.shown);
        endedSmall.push_back(s.ended);
        shownLarge.push_back(l.shown);
        endedLarge.push_back(l.ended);
    }
    Line("window shown", bench::Median(shownSmall), bench::Median(shownLarge), 0.5);
    Line("window ended after File > Exit", bench::Median(endedSmall), bench::Median(endedLarge),
         0.5);
    std::filesystem::remove_all(base);
    return 0;
}
