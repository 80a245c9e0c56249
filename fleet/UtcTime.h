#pragma once
// Times of readings as text: ISO 8601 in UTC for files and machines
// ("2024-05-01T12:00:00Z"), and the dates the command line accepts.
#include "OdometerReading.h"

#include <optional>
#include <string>

// "2024-05-01T12:00:00Z" (whole seconds).
std::string FormatUtc(UtcMillis time);
// "2024-05-01".
std::string FormatUtcDate(UtcMillis time);

// Accepts "YYYY-MM-DD" (midnight UTC, or the day's last millisecond when endOfDay is
// set, so that "--until 2024-05-01" takes in the whole day), "YYYY-MM-DDTHH:MM",
// "YYYY-MM-DDTHH:MM:SS", each optionally ending in "Z", and the blank-separated form
// "YYYY-MM-DD HH:MM[:SS]". Every time is UTC. Anything else, or a date that does not
// exist (2023-02-29), gives nothing.
std::optional<UtcMillis> ParseUtc(const std::string& text, bool endOfDay = false);
