#include "HistoryTable.h"

#include "CsvText.h"
#include "UtcTime.h"

#include <algorithm>
#include <map>

namespace
{
std::string Number(const std::optional<long long>& value)
{
    return value ? std::to_string(*value) : std::string();
}
} // namespace

const std::vector<std::string>& HistoryHeadings()
{
    static const std::vector<std::string> headings = {
        "Printer Name",    "Serial Number", "Model",       "Port",  "First Seen (UTC)",
        "Last Seen (UTC)", "Head Usage",    "Total Usage", "Units", "Head Change"};
    return headings;
}

std::vector<HistoryRow> HistoryRows(const PrinterHistory& history)
{
    std::map<std::int64_t, HeadChangeKind> changeAt;
    std::vector<HistoryRow> rows;
    for (const HeadChange& change : history.changes)
    {
        if (change.readingId)
        {
            changeAt[change.readingId] = change.kind;
            continue;
        }
        const StoredPrinter& p = history.printer;
        rows.push_back({change.time,
                        change.time,
                        {p.name, p.serial, p.model, p.port, FormatUtc(change.time),
                         FormatUtc(change.time), "", "", "", HeadChangeKey(change.kind)}});
    }
    for (const StoredReading& r : history.readings)
    {
        auto change = changeAt.find(r.id);
        rows.push_back({r.firstSeen,
                        r.lastSeen,
                        {r.name, history.printer.serial, r.model, r.port, FormatUtc(r.firstSeen),
                         FormatUtc(r.lastSeen), Number(r.head), Number(r.total), UnitKey(r.unit),
                         change == changeAt.end() ? "" : HeadChangeKey(change->second)}});
    }
    std::stable_sort(rows.begin(), rows.end(),
                     [](const HistoryRow& a, const HistoryRow& b)
                     { return a.firstSeen < b.firstSeen; });
    return rows;
}

std::string HistoryCsv(const std::vector<PrinterHistory>& histories, ECsvUse use)
{
    std::string out = CsvLine(HistoryHeadings(), use);
    for (const PrinterHistory& history : histories)
        for (const HistoryRow& row : HistoryRows(history))
            out += CsvLine(row.cells, use);
    return out;
}
