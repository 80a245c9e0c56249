#pragma once
// Small pieces every command shares: the settings-file operand, the units option, the
// library's fixed texts.
#include "CHistoryRecorder.h"
#include "CVarkoPrinterData.h"
#include "Commands.h"
#include "Json.h"

#include <string>
#include <vector>

namespace cli
{

// Splits the operands into the settings file and the rest. False, after a usage
// message, when the file is missing.
bool TakeFileOperand(CommandContext& c, std::string& file, std::vector<std::string>& rest);

// --units in|mm, inches by default. False after a usage message.
bool TakeUnitsOption(CommandContext& c, EDisplayUnits& units);

// "in." or "mm.", as the printer list's headings show them.
const char* UnitsAbbreviation(EDisplayUnits units);
// "in" or "mm", for machine-readable output.
const char* UnitsKey(EDisplayUnits units);

// The library's "N/A" (string 33213).
std::string NotAvailableText();

// A multi-line text from a printer (the head history) made safe for a terminal while
// keeping its lines.
std::string SafeReport(const std::string& text);

// The version of the tool's JSON documents. It changes only when a member is removed,
// renamed or changes meaning (new members may come at any time), so a script can check
// it once instead of guessing from the shape of the data.
constexpr int JSON_FORMAT = 1;
// Opens the outermost object of a JSON result and writes "format" first.
void BeginJsonDocument(json::Writer& j);

// How a store that cannot keep the odometer history is told of: one line on standard
// error; the command itself goes on.
CHistoryRecorder::Report HistoryWarning(const CliIo& io);

} // namespace cli
