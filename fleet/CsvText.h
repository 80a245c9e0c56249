#pragma once
// CSV as RFC 4180 has it, for every CSV the programs write (odomira-cli's tables, the
// odometer history's export): fields quoted where they hold a comma or quote or a leading
// or trailing blank, quotes doubled, lines ended by a line feed.
//
// The texts come from printers and from the network. No control character reaches the
// file raw (C0, DEL and the C1 range, as a byte or in UTF-8): each becomes \xHH, so a
// field never holds a line break and a terminal or spreadsheet showing the file has
// nothing to act on. Otherwise a field is the text as it is, for the programs that read
// the CSV. A file meant to be opened in a spreadsheet also needs ForSpreadsheet: a
// field that starts with = + - or @ would be taken for a formula (and a formula can
// fetch from the network or run commands), so it gets a leading apostrophe, which the
// spreadsheet takes as "this is text"; a plain number such as -5 stays as it is.
//
// Threading: none; pure functions.
#include <string>
#include <string_view>
#include <vector>

enum class ECsvUse
{
    eForPrograms,   // the text as it is (odomira-cli --csv)
    eForSpreadsheet // formulas neutralised (the window's Export CSV)
};

std::string CsvField(std::string_view text, ECsvUse use = ECsvUse::eForPrograms);
// The fields joined by commas, with the line feed.
std::string CsvLine(const std::vector<std::string>& cells, ECsvUse use = ECsvUse::eForPrograms);
