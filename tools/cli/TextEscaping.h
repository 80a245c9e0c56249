#pragma once
// Escaping for the ways the tool prints printer data (CSV is CsvText.h's, JSON is the
// tools' shared Json.h's). Names, models and replies come from printers and from the
// network, so none of them may reach a terminal, a spreadsheet or a JSON reader
// unescaped.
//
// Threading: none; pure functions.
#include <string>
#include <string_view>

namespace cli
{

// Text for a terminal or a log line: control characters (escape sequences included)
// become \xHH, line breaks become blanks, so one record stays on one line. Unicode's
// bidirectional controls (U+202A-U+202E, U+2066-U+2069, U+200E, U+200F, U+061C) become
// \uHHHH: shown, they would turn a name around or reorder the rest of the line.
std::string TerminalSafe(std::string_view text);

// A library message as one line: its line breaks (the time-out message has three)
// joined with blanks.
std::string OneLine(std::string_view text);

} // namespace cli
