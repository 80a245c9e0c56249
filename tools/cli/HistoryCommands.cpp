// history, forecast, head-life: the odometer readings that `list` and the window keep,
// read back without talking to any printer (so without the lock), and the head life of
// each model that the forecast needs.
//
// A printer of the file is matched to its history by exactly the name and port it was
// last read under (the serial number would need the printer itself), or to none: see
// CReadingStore::FindPrinter.
#include "CommandHelpers.h"
#include "Commands.h"
#include "FleetSession.h"
#include "Json.h"
#include "Table.h"

#include "CHistoryRecorder.h"
#include "CReadingStore.h"
#include "CWearForecast.h"
#include "HistoryTable.h"
#include "UtcTime.h"

#include "CVarkoPrinterData.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace cli
{
namespace
{
struct Chosen
{
    std::string name; // as the file names it
    std::optional<PrinterHistory> history;
};

bool TakeFormat(CommandContext& c, bool& json, bool& csv)
{
    json = c.args.Has("json");
    csv = c.args.Has("csv");
    if (json && csv)
    {
        c.io.Usage(c.command, "--json and --csv exclude each other");
        return false;
    }
    return true;
}

// What history and forecast share: the output format, the file, and the printers named
// (all of the file when none is) with their stored history, if any.
struct HistoryRun
{
    explicit HistoryRun(const CliIo& io) : session(io) {}
    FleetSession session;
    CReadingStore store;
    bool json = false;
    bool csv = false;
    std::vector<Chosen> chosen;

    // The exit status when the command cannot go on.
    std::optional<int> Load(CommandContext& c, std::optional<UtcMillis> since,
                            std::optional<UtcMillis> until);
};

std::optional<int> HistoryRun::Load(CommandContext& c, std::optional<UtcMillis> since,
                                    std::optional<UtcMillis> until)
{
    std::string file;
    std::vector<std::string> names;
    if (!TakeFormat(c, json, csv) || !TakeFileOperand(c, file, names))
        return eExitUsage;
    if (!session.Open(file, FleetSession::eMustExist, false))
        return eExitFailed;
    try
    {
        store.Open(CReadingStore::OpenMode::readOnly);
        for (CVarkoPrinterData* p : session.Select(names))
        {
            Chosen one{p->Name().str(), std::nullopt};
            const auto stored =
                store.FindPrinter("", one.name, CHistoryRecorder::PortOf(session.Printers(), *p));
            if (stored)
                one.history = store.History(stored->id, since, until);
            else
                c.io.Note(one.name + ": no readings are kept for this printer");
            chosen.push_back(std::move(one));
        }
    }
    catch (const CReadingStoreError& e)
    {
        c.io.Error(e.what());
        return eExitFailed;
    }
    return std::nullopt;
}

bool TakeDate(CommandContext& c, const char* option, bool endOfDay, std::optional<UtcMillis>& value)
{
    const auto text = c.args.Value(option);
    if (!text)
        return true;
    value = ParseUtc(*text, endOfDay);
    if (!value)
        c.io.Usage(c.command, std::string("--") + option +
                                  " takes a UTC date or time such as 2024-05-01 or "
                                  "2024-05-01T14:30, not '" +
                                  *text + "'");
    return value.has_value();
}

std::string Fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// "12.0-30.5": the days left at the fastest and the slowest wear of the range.
std::string DaysRange(const WearForecast& f)
{
    if (!f.daysLeft)
        return NotAvailableText();
    return (f.daysLeftLow ? Fixed(*f.daysLeftLow, 1) : std::string("?")) + "-" +
           (f.daysLeftHigh ? Fixed(*f.daysLeftHigh, 1) : std::string("never"));
}

void JsonReadings(json::Writer& j, const PrinterHistory& h)
{
    j.Key("readings");
    j.BeginArray();
    for (const StoredReading& r : h.readings)
    {
        j.BeginObject();
        j.Member("first_seen", FormatUtc(r.firstSeen));
        j.Member("last_seen", FormatUtc(r.lastSeen));
        j.Member("name", r.name);
        j.Member("model", r.model);
        j.Member("port", r.port);
        j.Key("head_usage");
        j.OptionalNumber(r.head);
        j.Key("total_usage");
        j.OptionalNumber(r.total);
        j.Member("units", UnitKey(r.unit));
        j.EndObject();
    }
    j.EndArray();
    j.Key("head_changes");
    j.BeginArray();
    for (const HeadChange& change : h.changes)
    {
        j.BeginObject();
        j.Member("time", FormatUtc(change.time));
        j.Member("kind", HeadChangeKey(change.kind));
        j.Key("head_before");
        j.OptionalNumber(change.headBefore);
        j.Member("units_before", UnitKey(change.unitBefore));
        j.EndObject();
    }
    j.EndArray();
}

// What the readings shown leave out: histories that held the same key before this
// printer took it over.
void NoteEarlier(const CliIo& io, const Chosen& one)
{
    if (!one.history)
        return;
    const StoredPrinter& now = one.history->printer;
    const std::string key = now.serial.empty()
                                ? "on port " + now.port
                                : "that reported serial number " + now.serial +
                                      (now.sharedSerial ? " on port " + now.port : std::string());
    for (const StoredPrinter& e : one.history->earlier)
        io.Note(one.name + ": an earlier printer " + key + " (model " + e.model + ", seen " +
                FormatUtc(e.firstSeen) + " to " + FormatUtc(e.lastSeen) + ", " +
                std::to_string(e.readingCount) +
                " readings) is kept apart; its readings are not shown");
}

void JsonEarlier(json::Writer& j, const PrinterHistory& h)
{
    j.Member("shared_serial", h.printer.sharedSerial);
    j.Key("earlier_printers");
    j.BeginArray();
    for (const StoredPrinter& e : h.earlier)
    {
        j.BeginObject();
        j.Member("serial_number", e.serial);
        j.Member("name", e.name);
        j.Member("model", e.model);
        j.Member("port", e.port);
        j.Member("first_seen", FormatUtc(e.firstSeen));
        j.Member("last_seen", FormatUtc(e.lastSeen));
        j.Key("replaced_at");
        if (e.retiredAt)
            j.String(FormatUtc(*e.retiredAt));
        else
            j.Null();
        j.Member("readings", e.readingCount);
        j.EndObject();
    }
    j.EndArray();
}

void JsonIdentity(json::Writer& j, const Chosen& one)
{
    j.Member("name", one.name);
    j.Key("serial_number");
    if (one.history)
        j.String(one.history->printer.serial);
    else
        j.Null();
    j.Key("model");
    if (one.history)
        j.String(one.history->printer.model);
    else
        j.Null();
}
} // namespace

int RunHistory(CommandContext& c)
{
    if (const auto backup = c.args.Value("backup"))
    {
        if (backup->empty() || !c.args.Operands().empty())
        {
            c.io.Usage(c.command, "--backup takes the file to write and nothing else");
            return eExitUsage;
        }
        try
        {
            CReadingStore store;
            store.Open(CReadingStore::OpenMode::readOnly);
            store.BackupTo(*backup);
        }
        catch (const CReadingStoreError& e)
        {
            c.io.Error(e.what());
            return eExitFailed;
        }
        c.io.Note("odometer history copied to " + *backup);
        return eExitOk;
    }
    std::optional<UtcMillis> since, until;
    if (!TakeDate(c, "since", false, since) || !TakeDate(c, "until", true, until))
        return eExitUsage;
    if (since && until && *since > *until)
    {
        c.io.Usage(c.command, "--since " + *c.args.Value("since") + " is after --until " +
                                  *c.args.Value("until") + "; nothing lies between them");
        return eExitUsage;
    }
    HistoryRun run(c.io);
    if (const auto status = run.Load(c, since, until))
        return *status;
    const std::vector<Chosen>& chosen = run.chosen;
    FleetSession& session = run.session;

    if (run.json)
    {
        json::Writer j;
        BeginJsonDocument(j);
        j.Key("printers");
        j.BeginArray();
        for (const Chosen& one : chosen)
        {
            j.BeginObject();
            JsonIdentity(j, one);
            static const PrinterHistory none;
            const PrinterHistory& h = one.history ? *one.history : none;
            JsonReadings(j, h);
            JsonEarlier(j, h);
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
        c.io.Write(j.Text());
        return session.ExitStatus();
    }
    std::vector<PrinterHistory> histories;
    for (const Chosen& one : chosen)
    {
        NoteEarlier(c.io, one);
        if (one.history)
            histories.push_back(*one.history);
    }
    if (run.csv)
    {
        c.io.Write(HistoryCsv(histories));
        return session.ExitStatus();
    }
    Table t(HistoryHeadings());
    for (const PrinterHistory& h : histories)
        for (HistoryRow& row : HistoryRows(h))
            t.AddRow(std::move(row.cells));
    c.io.Write(t.RenderText());
    return session.ExitStatus();
}

int RunForecast(CommandContext& c)
{
    std::optional<double> dueWithin;
    if (const auto days = c.args.Value("due-within"))
    {
        // Days as a person writes them: digits and a decimal point, nothing strtod
        // would take besides ("0x10", "1e3").
        const bool plain = !days->empty() &&
                           days->find_first_not_of("0123456789.") == std::string::npos &&
                           std::count(days->begin(), days->end(), '.') <= 1 && *days != ".";
        const double value = plain ? std::strtod(days->c_str(), nullptr) : -1;
        if (!plain || value > 36500)
        {
            c.io.Usage(c.command,
                       "--due-within takes a number of days from 0 to 36500, not '" + *days + "'");
            return eExitUsage;
        }
        dueWithin = value;
    }
    HistoryRun run(c.io);
    if (const auto status = run.Load(c, std::nullopt, std::nullopt))
        return *status;
    const std::vector<Chosen>& chosen = run.chosen;
    FleetSession& session = run.session;
    CReadingStore& store = run.store;

    const UtcMillis now = NowUtcMillis();
    std::vector<std::pair<const Chosen*, WearForecast>> forecasts;
    try
    {
        for (const Chosen& one : chosen)
            forecasts.emplace_back(
                &one, one.history ? ForecastWear(*one.history,
                                                 store.HeadLife(one.history->printer.model), now)
                                  : WearForecast{});
    }
    catch (const CReadingStoreError& e)
    {
        c.io.Error(e.what());
        return eExitFailed;
    }

    if (dueWithin)
    {
        // For cron's MAILTO: output, and status 1, exactly when a head needs changing.
        std::vector<std::pair<const Chosen*, WearForecast>> due;
        for (const auto& entry : forecasts)
            if (entry.second.daysLeft && *entry.second.daysLeft <= *dueWithin)
                due.push_back(entry);
        forecasts = std::move(due);
        if (forecasts.empty())
            return session.ExitStatus();
    }
    const int status = dueWithin ? eExitFailed : session.ExitStatus();

    if (run.json)
    {
        json::Writer j;
        BeginJsonDocument(j);
        j.Member("units", "in");
        j.Key("printers");
        j.BeginArray();
        for (const auto& [one, f] : forecasts)
        {
            j.BeginObject();
            JsonIdentity(j, *one);
            j.Key("head_usage");
            j.OptionalReal(f.headInches, 0);
            j.Key("last_reading");
            if (f.headInches)
                j.String(FormatUtc(f.lastReading));
            else
                j.Null();
            j.Key("head_since");
            if (f.headInches)
                j.String(FormatUtc(f.since));
            else
                j.Null();
            j.Key("head_since_kind");
            if (f.sinceKind)
                j.String(HeadChangeKey(*f.sinceKind));
            else
                j.Null();
            j.Member("readings_used", f.readingsUsed);
            j.Key("span_days");
            j.Real(f.spanDays, 2);
            j.Key("inches_per_day");
            j.OptionalReal(f.inchesPerDay, 3);
            j.Key("inches_per_day_low");
            j.OptionalReal(f.inchesPerDayLow, 3);
            j.Key("inches_per_day_high");
            j.OptionalReal(f.inchesPerDayHigh, 3);
            j.Key("head_life");
            j.OptionalReal(f.headLifeInches, 1);
            j.Key("days_left");
            j.OptionalReal(f.daysLeft, 1);
            // The days left at the fastest and the slowest wear of the range; null high
            // end: the slowest wear of the range is none.
            j.Key("days_left_low");
            j.OptionalReal(f.daysLeft ? f.daysLeftLow : std::nullopt, 1);
            j.Key("days_left_high");
            j.OptionalReal(f.daysLeft ? f.daysLeftHigh : std::nullopt, 1);
            j.Key("due_date");
            if (f.due)
                j.String(FormatUtcDate(*f.due));
            else
                j.Null();
            j.EndObject();
        }
        j.EndArray();
        j.EndObject();
        c.io.Write(j.Text());
        return std::max(status, session.ExitStatus());
    }

    const std::string na = NotAvailableText();
    Table t({"Printer Name", "Serial Number", "Model", "Head Usage (in.)", "Head Since (UTC)",
             "Wear (in./day)", "Head Life (in.)", "Days Left", "Days Left Range",
             "Due Date (UTC)"});
    for (const auto& [one, f] : forecasts)
    {
        const PrinterHistory* h = one->history ? &*one->history : nullptr;
        t.AddRow({one->name, h ? h->printer.serial : na, h ? h->printer.model : na,
                  f.headInches ? Fixed(*f.headInches, 0) : na,
                  f.headInches ? FormatUtc(f.since) : na,
                  f.inchesPerDay ? Fixed(*f.inchesPerDay, 2) : na,
                  f.headLifeInches ? Fixed(*f.headLifeInches, 0) : "Not Set",
                  f.daysLeft ? Fixed(*f.daysLeft, 1) : na, DaysRange(f),
                  f.due ? FormatUtcDate(*f.due) : na});
    }
    c.io.Write(run.csv ? t.RenderCsv() : t.RenderText());
    return std::max(status, session.ExitStatus());
}

int RunHeadLife(CommandContext& c)
{
    const auto& ops = c.args.Operands();
    if (ops.size() > 2 || (!ops.empty() && ops[0].empty()))
    {
        c.io.Usage(c.command, "takes a model and a head life in inches");
        return eExitUsage;
    }
    std::optional<double> inches;
    if (ops.size() == 2 && ops[1] != "none")
    {
        inches = ParseHeadLife(ops[1]);
        if (!inches)
        {
            c.io.Usage(c.command, "the head life is a number of inches from 1 to 1000000000 "
                                  "(or 'none'), not '" +
                                      ops[1] + "'");
            return eExitUsage;
        }
    }

    CReadingStore store;
    try
    {
        if (ops.size() == 2)
        {
            store.Open();
            store.SetHeadLife(ops[0], inches);
            c.io.Say(ops[0] + ": head life " +
                     (inches ? Fixed(*inches, 0) + " in." : std::string("not set")));
            return eExitOk;
        }
        store.Open(CReadingStore::OpenMode::readOnly);
        if (ops.size() == 1)
        {
            const auto life = store.HeadLife(ops[0]);
            c.io.Say(ops[0] + ": head life " +
                     (life ? Fixed(*life, 0) + " in." : std::string("not set")));
            return eExitOk;
        }
        Table t({"Model", "Head Life (in.)"});
        for (const auto& [model, life] : store.HeadLives())
            t.AddRow({model, Fixed(life, 0)});
        c.io.Write(t.RenderText());
        return eExitOk;
    }
    catch (const CReadingStoreError& e)
    {
        c.io.Error(e.what());
    }
    return eExitFailed;
}

CHistoryRecorder::Report HistoryWarning(const CliIo& io)
{
    return [&io](const std::string& message)
    { io.Error(message + "; no odometer history is kept for this run"); };
}

} // namespace cli
