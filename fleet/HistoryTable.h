#pragma once
// Odometer histories as rows of text: one row per stored reading, and one for each
// reset that no later reading shows yet. The window's "Export CSV..." and
// `odomira-cli history --csv` write the same file from these rows.
//
// Threading: none; pure functions.
#include "CsvText.h"
#include "OdometerReading.h"

#include <string>
#include <vector>

struct HistoryRow
{
    // A reading's first and last sighting; a reset's time in both.
    UtcMillis firstSeen = 0;
    UtcMillis lastSeen = 0;
    std::vector<std::string> cells;
};

// Where the rows keep each heading's cell.
enum HistoryColumn
{
    HISTORY_NAME,
    HISTORY_SERIAL,
    HISTORY_MODEL,
    HISTORY_PORT,
    HISTORY_FIRST_SEEN,
    HISTORY_LAST_SEEN,
    HISTORY_HEAD,
    HISTORY_TOTAL,
    HISTORY_UNITS,
    HISTORY_CHANGE,
    HISTORY_COLUMN_COUNT
};

// Printer Name, Serial Number, Model, Port, First Seen (UTC), Last Seen (UTC), Head
// Usage, Total Usage, Units, Head Change ("lower_value" or "reset").
const std::vector<std::string>& HistoryHeadings();
// Oldest first. Name, model and port are the reading's own; a reset's row carries the
// printer's latest ones.
std::vector<HistoryRow> HistoryRows(const PrinterHistory& history);

// CSV (see CsvText.h) with a header row; for a spreadsheet, formulas are neutralised.
std::string HistoryCsv(const std::vector<PrinterHistory>& histories,
                       ECsvUse use = ECsvUse::eForPrograms);
