#pragma once
// Escaping for the ways the tool prints printer data (CSV is CsvText.h's). Names, models
// and replies come from printers and from the network, so none of them may reach a
// terminal, a spreadsheet or a JSON reader unescaped.
//
// Threading: none; pure functions.
#include <string>
#include <string_view>

namespace cli
{

// A JSON string literal, quotes included. The library's texts are 8-bit; bytes that do
// not form UTF-8 are taken as Latin-1 so the output is always valid UTF-8 JSON.
std::string JsonQuote(std::string_view text);

// Text for a terminal or a log line: control characters (escape sequences included)
// become \xHH, line breaks become blanks, so one record stays on one line.
std::string TerminalSafe(std::string_view text);

// A library message as one line: its line breaks (the time-out message has three)
// joined with blanks.
std::string OneLine(std::string_view text);

} // namespace cli
