#pragma once
// CSV as RFC 4180 has it, for every CSV the programs write (odomira-cli's tables, the
// odometer history's export): fields quoted where they hold a comma, quote, line break
// or a leading or trailing blank, quotes doubled, lines ended by a line feed.
//
// Threading: none; pure functions.
#include <string>
#include <string_view>
#include <vector>

std::string CsvField(std::string_view text);
// The fields joined by commas, with the line feed.
std::string CsvLine(const std::vector<std::string>& cells);
