// Loading and saving settings files of large fleets of network printers: the time of
// each step, the memory and the number of threads (a loaded printer starts its thread
// only when it first downloads), each beside a plain reference measured in the same
// run: the records decoded without making printers, the same bytes written the same
// safe way. A program to run by hand (scripts/bench); it prints figures and asserts
// nothing. fleet_scale_bench sets these figures against a fleet of ten.
//   cmake --build build --target collection_scale_bench
//   build/bin/collection_scale_bench [count ...]      (default: 1000 10000)
#include "BenchSupport.h"
#include "CArchive.h"
#include "CVarkoPrinters.h"
#include "CWinThread.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

long statusField(const char* field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

long peakRssKiB()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

std::vector<std::uint8_t> fleetFile(int count)
{
    CArchive ar(CArchive::store);
    ar << static_cast<DWORD>(count);
    for (int i = 0; i < count; ++i)
    {
        // Addresses no printer holds: loading never opens a port.
        CString address =
            CString::Formatted("127.%d.%d.%d", 100 + i / 65536, (i / 256) % 256, i % 256);
        ar << CString::Formatted("Printer#%d", i + 1) << CString("RX-400") << CString("")
           << CString("CNetworkPort") << DWORD(0) << address << DWORD(9100);
    }
    return ar.Buffer();
}

// The least loading could cost: the file read and every record decoded into plain
// strings and numbers, no printer made. Seconds.
double PlainDecode(const std::string& path, int count)
{
    auto t = Clock::now();
    CArchive ar(ReadWholeFile(path.c_str()));
    DWORD n = 0;
    ar >> n;
    std::vector<std::vector<CString>> records(n);
    for (auto& r : records)
    {
        CString text;
        DWORD number = 0;
        for (int field = 0; field < 4; ++field)
        {
            ar >> text;
            r.push_back(text);
        }
        ar >> number >> text >> number;
        r.push_back(text);
    }
    if (static_cast<int>(records.size()) != count)
        std::printf("  (the plain decode read %zu records)\n", records.size());
    return msSince(t) / 1000;
}

void run(int count, const std::string& dir)
{
    std::string path = dir + "/fleet-" + std::to_string(count) + ".vps";
    const std::vector<std::uint8_t> bytes = fleetFile(count);
    WriteFileAtomically(path.c_str(), bytes);
    long threadsBefore = statusField("Threads:");
    long vmBefore = statusField("VmRSS:");

    auto* c = new CVarkoPrinters;
    auto t = Clock::now();
    c->LoadFromFile(path.c_str(), nullptr);
    double load = msSince(t) / 1000;
    long threadsLoaded = statusField("Threads:");
    long vmLoaded = statusField("VmRSS:");

    t = Clock::now();
    c->SaveToFile((path + ".saved").c_str());
    double save = msSince(t) / 1000;
    bool same = ReadWholeFile(path.c_str()) == ReadWholeFile((path + ".saved").c_str());

    t = Clock::now();
    delete c; // stops and destroys every printer and its thread
    double close = msSince(t) / 1000;
    long threadsAfter = statusField("Threads:");

    // The references, measured right after: decoding without printers, the same bytes
    // written the same safe way, and as many bare threads as there were printers.
    const double decode = PlainDecode(path, count);
    t = Clock::now();
    WriteFileAtomically((path + ".plain").c_str(), bytes);
    const double write = msSince(t) / 1000;
    const long rss = vmLoaded - vmBefore;

    std::printf("%d printers (threads %ld -> %ld -> %ld; saved file %s)\n", count, threadsBefore,
                threadsLoaded, threadsAfter, same ? "identical" : "DIFFERENT");
    bench::Row("plain: decode", decode, "s", 0);
    bench::Row("load", load, "s", load / decode);
    bench::Row("close", close, "s", close / decode);
    bench::Row("plain: write the same bytes", write, "s", 0);
    bench::Row("save", save, "s", save / write);
    std::printf("  %-40s %10.2f KiB per printer\n", "loaded printers resident",
                static_cast<double>(rss) / count);
    std::printf("  peak resident %ld KiB\n\n", peakRssKiB());
    std::fflush(stdout);
    for (const char* suffix : {"", ".saved", ".plain"})
        std::remove((path + suffix).c_str());
}
} // namespace

int main(int argc, char** argv)
{
    std::string dir = "/tmp/odomira-bench-" + std::to_string(::getpid());
    ::mkdir(dir.c_str(), 0700);
    // The benchmark must not touch the user's settings.
    setenv("VARKO_SETTINGS_ROOT", dir.c_str(), 1);
    std::vector<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.push_back(std::atoi(argv[i]));
    if (counts.empty())
        counts = {1000, 10000};
    rlimit stack{};
    ::getrlimit(RLIMIT_STACK, &stack);
    std::printf("thread stack %u KiB (the process default would be %lu KiB)\n",
                DEFAULT_THREAD_STACK / 1024, static_cast<unsigned long>(stack.rlim_cur / 1024));
    for (int n : counts)
        if (n > 0)
            run(n, dir);
    ::rmdir(dir.c_str());
    return 0;
}
