// Loading and saving settings files of large fleets of network printers: the time of
// each step, the peak memory and the number of threads (every loaded printer runs its
// own thread). A program to run by hand; it prints figures and asserts nothing.
//   cmake --build build --target collection_scale_bench
//   build/bin/collection_scale_bench [count ...]      (default: 1000 10000)
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

void run(int count, const std::string& dir)
{
    std::string path = dir + "/fleet-" + std::to_string(count) + ".vps";
    WriteFileAtomically(path.c_str(), fleetFile(count));
    long threadsBefore = statusField("Threads:");
    long vmBefore = statusField("VmRSS:");

    auto* c = new CVarkoPrinters;
    auto t = Clock::now();
    c->LoadFromFile(path.c_str(), nullptr);
    double loadMs = msSince(t);
    long threadsLoaded = statusField("Threads:");
    long vmLoaded = statusField("VmRSS:");

    t = Clock::now();
    c->SaveToFile((path + ".saved").c_str());
    double saveMs = msSince(t);
    bool same = ReadWholeFile(path.c_str()) == ReadWholeFile((path + ".saved").c_str());

    t = Clock::now();
    delete c; // stops and destroys every printer and its thread
    double closeMs = msSince(t);
    long threadsAfter = statusField("Threads:");

    std::printf("%6d printers: load %8.1f ms  save %7.1f ms  close %8.1f ms  "
                "threads %ld -> %ld -> %ld  RSS +%ld KiB (%.1f KiB/printer)  peak RSS %ld KiB  "
                "round trip %s\n",
                count, loadMs, saveMs, closeMs, threadsBefore, threadsLoaded, threadsAfter,
                vmLoaded - vmBefore, double(vmLoaded - vmBefore) / count, peakRssKiB(),
                same ? "identical" : "DIFFERENT");
    std::fflush(stdout);
    std::remove(path.c_str());
    std::remove((path + ".saved").c_str());
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
