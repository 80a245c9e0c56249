// The odometer history at fleet scale: a year of hourly fills of 1,000 printers (about
// 8.8 million readings before equal ones are merged) recorded through the store as the
// window and `odomira-cli list` record them, then one printer's year read back with its
// forecast. Each figure is printed beside its target and beside a reference measured in
// the same run on the same disk: the bare SQLite work the step cannot do without. A
// program to run by hand; it prints figures and asserts nothing.
//   cmake --build build --target history_bench
//   build/bin/history_bench [printers [hours [folder]]]    (default: 1000 8760 /tmp)
#include "CReadingStore.h"
#include "CWearForecast.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <time.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;
constexpr UtcMillis kHour = 3600 * 1000;
// 2024-01-01T00:00:00Z, a Monday.
constexpr UtcMillis kStart = 1704067200000;

double MsSince(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Processor time of this thread: on a machine shared with other work, wall time shows
// the waiting too; both are printed.
double CpuMs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Stats
{
    double median, p95, max;
};

Stats Summarise(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q)
    { return ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size())))]; };
    return {at(0.5), at(0.95), ms.back()};
}

void Row(const char* what, const Stats& s, const char* target, const Stats& reference)
{
    std::printf("  %-34s median %7.2f ms  p95 %7.2f ms  max %7.2f ms   target %-8s  "
                "reference median %6.2f ms  p95 %6.2f ms\n",
                what, s.median, s.p95, s.max, target, reference.median, reference.p95);
}

// A printer of the made-up fleet: it prints on weekdays from 7 to 17 h at its own pace,
// and its head is replaced when it reaches its model's life.
struct FleetPrinter
{
    std::string serial;
    double inchesPerHour;
    double headLife;
    double head;
    double total;
};

bool Working(UtcMillis t, int printer)
{
    const long long hours = (t - kStart) / kHour;
    const int weekday = int(hours / 24 % 7); // 0 = Monday
    const int hour = int(hours % 24);
    const int shift = printer % 3; // some start earlier, some later
    return weekday < 5 && hour >= 6 + shift && hour < 16 + shift;
}

// The bare cost of one transaction of `rows` inserts into a table of the same width.
Stats ReferenceInserts(const std::string& path, int rows, int repeats, Stats* cpu = nullptr)
{
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=WAL; CREATE TABLE IF NOT EXISTS r(printer INTEGER, "
                 "first_seen INTEGER, last_seen INTEGER, name TEXT, model TEXT, port TEXT, "
                 "head INTEGER, total INTEGER, unit TEXT)",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO r VALUES(?, ?, ?, 'Printer', 'RX400', 'COM3', ?, ?, 'in')",
                       -1, &insert, nullptr);
    std::vector<double> ms, cpuMs;
    for (int rep = 0; rep < repeats; ++rep)
    {
        const auto t = Clock::now();
        const double cpu0 = CpuMs();
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        for (int i = 0; i < rows; ++i)
        {
            sqlite3_bind_int64(insert, 1, i);
            sqlite3_bind_int64(insert, 2, rep);
            sqlite3_bind_int64(insert, 3, rep);
            sqlite3_bind_int64(insert, 4, i * 10);
            sqlite3_bind_int64(insert, 5, i * 20);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        ms.push_back(MsSince(t));
        cpuMs.push_back(CpuMs() - cpu0);
    }
    sqlite3_finalize(insert);
    sqlite3_close(db);
    if (cpu)
        *cpu = Summarise(cpuMs);
    return Summarise(ms);
}

// The bare cost of reading one printer's rows, without building anything from them.
Stats ReferenceSelect(const std::string& path, const std::vector<std::int64_t>& printers)
{
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* select = nullptr;
    sqlite3_prepare_v2(db,
                       "SELECT id, first_seen, last_seen, name, model, port, head, total, unit "
                       "FROM readings WHERE printer = ? ORDER BY first_seen, id",
                       -1, &select, nullptr);
    std::vector<double> ms;
    long long sink = 0;
    for (std::int64_t id : printers)
    {
        const auto t = Clock::now();
        sqlite3_bind_int64(select, 1, id);
        while (sqlite3_step(select) == SQLITE_ROW)
            sink += sqlite3_column_int64(select, 6);
        sqlite3_reset(select);
        ms.push_back(MsSince(t));
    }
    sqlite3_finalize(select);
    sqlite3_close(db);
    if (sink == 42)
        std::printf(" ");
    return Summarise(ms);
}

std::uintmax_t SizeOf(const std::string& path)
{
    std::error_code ec;
    std::uintmax_t size = 0;
    for (const char* suffix : {"", "-wal", "-shm"})
    {
        const auto s = std::filesystem::file_size(path + suffix, ec);
        if (!ec)
            size += s;
    }
    return size;
}
} // namespace

int main(int argc, char** argv)
{
    const int printerCount = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int hours = argc > 2 ? std::atoi(argv[2]) : 8760;
    std::string base =
        (argc > 3 ? std::string(argv[3]) : std::string("/tmp")) + "/odomira-history-bench-XXXXXX";
    if (printerCount < 1 || hours < 2 || !::mkdtemp(base.data()))
    {
        std::fprintf(stderr, "usage: %s [printers [hours [folder]]]\n", argv[0]);
        return 2;
    }
    const std::string path = base + "/odometers.sqlite";
    std::printf("history_bench: %d printers, a reading every hour for %d hours (%.2f years): "
                "%lld readings before merging\nstore: %s\n\n",
                printerCount, hours, hours / 8760.0, (long long)printerCount * hours, path.c_str());

    std::mt19937 random(18);
    std::vector<FleetPrinter> fleet;
    for (int i = 0; i < printerCount; ++i)
    {
        std::uniform_real_distribution<double> pace(2, 40), life(15000, 60000), start(0, 1);
        FleetPrinter p{"SN" + std::to_string(100000 + i), pace(random), life(random), 0, 0};
        p.head = start(random) * p.headLife;
        p.total = p.head + 100000 * start(random);
        fleet.push_back(p);
    }

    const Stats referenceBefore = ReferenceInserts(base + "/reference.sqlite", printerCount, 30);
    CReadingStore store(path);
    store.Open();
    store.SetHeadLife("RX400", 40000);
    std::vector<double> fillMs, lateFillMs, fillCpuMs;
    long long headChanges = 0, stored = 0;
    const auto wall = Clock::now();
    for (int h = 0; h < hours; ++h)
    {
        const UtcMillis t = kStart + h * kHour;
        std::vector<OdometerReading> fill;
        fill.reserve(fleet.size());
        for (int i = 0; i < printerCount; ++i)
        {
            FleetPrinter& p = fleet[std::size_t(i)];
            if (Working(t, i))
            {
                p.head += p.inchesPerHour;
                p.total += p.inchesPerHour;
                if (p.head >= p.headLife)
                    p.head = 0; // a new head
            }
            OdometerReading r;
            r.time = t;
            r.serial = p.serial;
            r.name = "Printer " + std::to_string(i + 1);
            r.model = "RX400";
            r.port = "COM" + std::to_string(i % 256 + 1);
            r.head = (long long)p.head;
            r.total = (long long)p.total;
            fill.push_back(std::move(r));
        }
        const auto t0 = Clock::now();
        const double cpu0 = CpuMs();
        const CReadingStore::FillResult result = store.RecordFill(fill);
        const double ms = MsSince(t0);
        fillCpuMs.push_back(CpuMs() - cpu0);
        fillMs.push_back(ms);
        if (h >= hours - 24 * 7)
            lateFillMs.push_back(ms);
        headChanges += result.headChanges;
        stored += result.added;
        if (h % 1000 == 999)
            std::fprintf(stderr, "  ... %d hours recorded (%.0f s)\n", h + 1, MsSince(wall) / 1000);
    }
    const double totalSeconds = MsSince(wall) / 1000;
    Stats referenceCpu{};
    const Stats referenceAfter =
        ReferenceInserts(base + "/reference.sqlite", printerCount, 30, &referenceCpu);

    std::printf("Recording one fill of %d printers (one transaction):\n", printerCount);
    Row("every fill of the year", Summarise(fillMs), "< 50 ms", referenceBefore);
    Row("the fills of the last week", Summarise(lateFillMs), "< 50 ms", referenceAfter);
    Row("processor time of every fill", Summarise(fillCpuMs), "", referenceCpu);
    std::printf("  (reference: %d bare inserts in one transaction into a table of the same "
                "width, on the same disk)\n",
                printerCount);
    std::printf("  whole year recorded in %.1f s; %lld entries kept of %lld readings (%.1f%%), "
                "%lld head changes\n\n",
                totalSeconds, stored, (long long)printerCount * hours,
                100.0 * double(stored) / (double(printerCount) * hours), headChanges);

    // Another program reads: a fresh connection, as `odomira-cli forecast` or the dialog.
    CReadingStore reader(path);
    reader.Open(CReadingStore::OpenMode::readOnly);
    std::vector<double> historyMs, forecastMs, bothMs;
    std::vector<std::int64_t> ids;
    std::size_t readings = 0;
    for (int k = 0; k < 50; ++k)
    {
        const FleetPrinter& p = fleet[std::size_t(k * printerCount / 50)];
        const auto t0 = Clock::now();
        const auto found = reader.FindPrinter(p.serial, "", "");
        const PrinterHistory h = reader.History(found->id);
        const double history = MsSince(t0);
        const auto t1 = Clock::now();
        const WearForecast f =
            ForecastWear(h, reader.HeadLife(h.printer.model), kStart + hours * kHour);
        forecastMs.push_back(MsSince(t1));
        historyMs.push_back(history);
        bothMs.push_back(MsSince(t0));
        ids.push_back(found->id);
        readings += h.readings.size();
        if (k == 0)
            std::printf("One printer's year (%s): %zu entries, %zu head changes; wear %.1f in./day "
                        "(made-up pace %.1f in./hour, 10 hours a weekday: %.1f in./day), %s\n",
                        p.serial.c_str(), h.readings.size(), h.changes.size(),
                        f.inchesPerDay.value_or(0), p.inchesPerHour, p.inchesPerHour * 50 / 7,
                        f.daysLeft
                            ? ("due in " + std::to_string(int(*f.daysLeft)) + " days").c_str()
                            : "no date");
    }
    const Stats reference = ReferenceSelect(path, ids);
    std::printf("Reading one printer's year back (50 printers, %zu entries each on average):\n",
                readings / 50);
    Row("history", Summarise(historyMs), "", reference);
    Row("forecast", Summarise(forecastMs), "", reference);
    Row("history and forecast", Summarise(bothMs), "< 50 ms", reference);
    std::printf("  (reference: the bare SELECT of that printer's rows)\n\n");

    const std::uintmax_t size = SizeOf(path);
    const double printerYears = printerCount * (hours / 8760.0);
    std::printf("Store size: %.1f MB for %.0f printer-years: %.1f kB per printer-year\n",
                double(size) / 1e6, printerYears, double(size) / 1e3 / printerYears);

    std::filesystem::remove_all(base);
    return 0;
}
