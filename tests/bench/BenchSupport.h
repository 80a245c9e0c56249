#pragma once
// What the benchmarks share: clocks, the process's CPU time and memory, medians, the
// table rows that put a figure beside its reference, and the plain-thread reference a
// fleet of printer threads is measured against.
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace bench
{
// CLOCK_MONOTONIC: the same clock in every process, so a child can stamp an event.
inline double Now()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

inline double Seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// User and system time of every thread of this process.
inline double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return Seconds(u.ru_utime) + Seconds(u.ru_stime);
}

inline long RssKiB()
{
    long kib = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r"))
    {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
                break;
        std::fclose(f);
    }
    return kib;
}

// A scratch folder with private settings, device links and instance lock, so a run
// never meets the user's files or another program; empty when it cannot be made.
inline std::string PrivateFolders(const char* prefix)
{
    std::string base = (std::filesystem::temp_directory_path() / prefix).string() + "-XXXXXX";
    if (!::mkdtemp(base.data()))
        return {};
    for (const char* dir : {"/settings", "/devices", "/run"})
        std::filesystem::create_directories(base + dir);
    std::filesystem::permissions(base + "/run", std::filesystem::perms::owner_all);
    ::setenv("VARKO_SETTINGS_ROOT", (base + "/settings").c_str(), 1);
    ::setenv("VARKO_DEVICE_DIR", (base + "/devices").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (base + "/run").c_str(), 1);
    // Discovery stays on loopback.
    ::setenv("VARKO_DISCOVERY_BROADCAST", "127.255.255.255", 1);
    if (!std::getenv("QT_QPA_PLATFORM"))
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return base;
}

inline double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// "  label   value unit   ratio x reference   (target ...)"; a reference row passes a
// ratio of 0 and gets "reference" instead.
inline void Row(const std::string& label, double value, const char* unit, double ratio,
                const char* target = "")
{
    if (ratio == 0)
        std::printf("  %-40s %10.3f %-8s   reference\n", label.c_str(), value, unit);
    else
        std::printf("  %-40s %10.3f %-8s %6.2f x reference   %s\n", label.c_str(), value, unit,
                    ratio, target);
}

// The least a fleet of printer threads could cost: count bare threads with the same
// stack, parked on one condition variable, then told to end and joined.
struct PlainThreadFigures
{
    double startSeconds = 0;
    double stopSeconds = 0;
    long residentKiB = 0;
    int started = 0;
};

inline PlainThreadFigures PlainThreads(int count, std::size_t stackBytes)
{
    struct Park
    {
        std::mutex lock;
        std::condition_variable wake;
        bool quit = false;
    } park;
    auto body = [](void* arg) -> void*
    {
        auto* p = static_cast<Park*>(arg);
        std::unique_lock g(p->lock);
        p->wake.wait(g, [p] { return p->quit; });
        return nullptr;
    };
    PlainThreadFigures f;
    pthread_attr_t attr;
    ::pthread_attr_init(&attr);
    ::pthread_attr_setstacksize(&attr, stackBytes);
    std::vector<pthread_t> threads;
    threads.reserve(static_cast<std::size_t>(count));
    long rss0 = RssKiB();
    double t0 = Now();
    for (int i = 0; i < count; ++i)
    {
        pthread_t t;
        if (::pthread_create(&t, &attr, body, &park) != 0)
            break;
        threads.push_back(t);
    }
    f.startSeconds = Now() - t0;
    f.residentKiB = RssKiB() - rss0;
    f.started = static_cast<int>(threads.size());
    ::pthread_attr_destroy(&attr);
    t0 = Now();
    {
        std::lock_guard g(park.lock);
        park.quit = true;
    }
    park.wake.notify_all();
    for (pthread_t t : threads)
        ::pthread_join(t, nullptr);
    f.stopSeconds = Now() - t0;
    return f;
}
} // namespace bench
