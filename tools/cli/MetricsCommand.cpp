// metrics: the fleet as a monitoring system scrapes it, from the odometer history
// alone. It runs from a timer beside `list` (or while the window holds the lock), so it
// asks no printer and takes no lock.
#include "CommandHelpers.h"
#include "Commands.h"
#include "FleetSession.h"
#include "MetricsText.h"

#include "CHistoryRecorder.h"
#include "CReadingStore.h"
#include "CWearForecast.h"

#include "CArchive.h"
#include "CPrinterSettings.h"
#include "CVarkoPrinterData.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace cli
{
namespace
{
constexpr double METRES_PER_INCH = 0.0254;
constexpr double SECONDS_PER_DAY = 86400;
// The history does not say which fill a reading came from, only when it was taken.
// odomira-cli stamps a fill's readings together once every printer has answered; the
// window stamps each as it comes in, and with sixteen printers asked at a time the
// answers follow each other closely unless sixteen silent printers hold every turn at
// once. A printer that gives up takes 9 s (USB) or 15 s (serial) before the readings
// of its fill are stamped, so a run right after one that it answered still stands
// apart.
constexpr UtcMillis SAME_FILL_GAP_MS = 5 * 1000;

struct Entry
{
    CVarkoPrinterData* printer = nullptr;
    bool chosen = false;
    MetricLabels labels;
    bool canAnswer = false;
    std::optional<PrinterHistory> history;
    std::optional<StoredReading> latest; // the newest reading
};

std::optional<StoredReading> Latest(const PrinterHistory& h)
{
    std::optional<StoredReading> latest;
    for (const StoredReading& r : h.readings)
        if (!latest || r.lastSeen >= latest->lastSeen)
            latest = r;
    return latest;
}

// When the fleet was last read: the newest reading of any of its printers and the
// readings just before it that belong to the same fill.
std::optional<UtcMillis> LatestFillStart(const std::vector<Entry>& entries)
{
    std::vector<UtcMillis> times;
    for (const Entry& e : entries)
        if (e.latest)
            times.push_back(e.latest->lastSeen);
    if (times.empty())
        return std::nullopt;
    std::sort(times.begin(), times.end(), std::greater<>());
    std::size_t i = 0;
    while (i + 1 < times.size() && times[i] - times[i + 1] <= SAME_FILL_GAP_MS)
        ++i;
    return times[i];
}

double Metres(long long value, OdometerUnit unit)
{
    return ToInches(static_cast<double>(value), unit) * METRES_PER_INCH;
}

double Seconds(UtcMillis time)
{
    return static_cast<double>(time) / 1000.0;
}

bool WriteTextfile(const CliIo& io, const std::string& dir, const std::string& text)
{
    struct stat st;
    if (::stat(dir.c_str(), &st) != 0)
    {
        io.Error(dir, std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode))
    {
        io.Error(dir, "is not a folder");
        return false;
    }
    // The collector reads only names ending in ".prom", so it never sees the temporary
    // file, and the rename gives it the old file or the new one, never half of one.
    const std::string path = dir + "/odomira.prom";
    try
    {
        WriteFileAtomically(CString(path), std::vector<std::uint8_t>(text.begin(), text.end()));
        return true;
    }
    catch (const CException& e)
    {
        const std::string message = MessageOf(e);
        io.Error(message.find(path) == std::string::npos ? path : std::string(), message);
    }
    return false;
}
} // namespace

int RunMetrics(CommandContext& c)
{
    std::string file;
    std::vector<std::string> names;
    if (!TakeFileOperand(c, file, names))
        return eExitUsage;
    const auto textfile = c.args.Value("textfile");
    if (textfile && textfile->empty())
    {
        c.io.Usage(c.command, "--textfile takes a folder");
        return eExitUsage;
    }
    FleetSession session(c.io);
    if (!session.Open(file, FleetSession::eMustExist, false))
        return session.ExitStatus();
    CVarkoPrinters& printers = session.Printers();

    // Every printer of the file, for the time of the fleet's latest reading; the ones
    // named are marked.
    std::vector<Entry> entries;
    for (CVarkoPrinterData* p : session.Select({}))
    {
        Entry e;
        e.printer = p;
        entries.push_back(std::move(e));
    }
    for (CVarkoPrinterData* p : session.Select(names))
        for (Entry& e : entries)
            e.chosen = e.chosen || e.printer == p;

    MetricsText out;
    const auto canAnswer = out.AddGauge(
        "odomira_printer_can_answer",
        "1 for a serial or USB printer, which reports its odometers; 0 for a parallel or "
        "network printer, which cannot.");
    const auto answered = out.AddGauge(
        "odomira_printer_answered",
        "1 when the printer's odometers were read at the latest reading of its fleet.");
    const auto lastReading = out.AddGauge("odomira_last_reading_timestamp_seconds",
                                          "When the printer's odometers were last read.");
    const auto head = out.AddGauge("odomira_head_usage_meters",
                                   "Head usage at the latest reading: what the head has printed.");
    const auto total = out.AddGauge("odomira_total_usage_meters",
                                    "Total usage at the latest reading: what the printer has "
                                    "printed.");
    const auto headLife =
        out.AddGauge("odomira_head_life_meters", "The head life set for the printer's model.");
    const auto remaining = out.AddGauge(
        "odomira_head_remaining_seconds",
        "Time until the head reaches its head life at the measured wear; negative once past.");

    try
    {
        CReadingStore store;
        store.Open(CReadingStore::OpenMode::readOnly);
        for (Entry& e : entries)
        {
            const CPrinterSettings s = printers.GetPrinterSettings(e.printer);
            const std::string port = CHistoryRecorder::PortOf(printers, *e.printer);
            e.canAnswer = e.printer->IsBidirectional();
            std::string serial, model = s.model.str();
            if (e.canAnswer)
                if (const auto stored = store.FindPrinter("", s.name.str(), port))
                {
                    e.history = store.History(stored->id);
                    e.latest = Latest(*e.history);
                    serial = stored->serial;
                    model = stored->model;
                }
            e.labels = {
                {"name", s.name.str()}, {"serial", serial}, {"model", model}, {"port", port}};
        }

        const auto fillStart = LatestFillStart(entries);
        const UtcMillis now = NowUtcMillis();
        for (const Entry& e : entries)
        {
            if (!e.chosen)
                continue;
            out.Add(canAnswer, e.labels, e.canAnswer ? 1 : 0);
            if (!e.canAnswer)
                continue;
            const bool inLatestFill = e.latest && fillStart && e.latest->lastSeen >= *fillStart;
            out.Add(answered, e.labels, inLatestFill ? 1 : 0);
            if (!e.latest)
                continue;
            out.Add(lastReading, e.labels, Seconds(e.latest->lastSeen));
            if (e.latest->head)
                out.Add(head, e.labels, Metres(*e.latest->head, e.latest->unit));
            if (e.latest->total)
                out.Add(total, e.labels, Metres(*e.latest->total, e.latest->unit));
            const auto life = store.HeadLife(e.history->printer.model);
            if (life)
                out.Add(headLife, e.labels, *life * METRES_PER_INCH);
            const WearForecast f = ForecastWear(*e.history, life, now);
            if (f.daysLeft)
                out.Add(remaining, e.labels, *f.daysLeft * SECONDS_PER_DAY);
        }
    }
    catch (const CReadingStoreError& e)
    {
        c.io.Error(e.what());
        return eExitFailed;
    }

    if (textfile)
    {
        if (!WriteTextfile(c.io, *textfile, out.Render()))
            session.MarkFailed();
    }
    else
        c.io.Write(out.Render());
    return session.ExitStatus();
}

} // namespace cli
