#pragma once
// What a new reading means for the printer's history, decided from the reading and its
// stored neighbours alone, so the rules can be read and tested as a table.
//
// The rules (docs/manual/odometer-history.md says them for users):
// - A reading with no odometer value, or with a value the library had to clamp
//   (CLAMPED_VALUE: the printer answered more than a 32-bit count holds), is not kept.
// - A total odometer lower than the one before is another printer under the same key
//   (a printer moved onto the port, or one given the same serial number): it starts a
//   history of its own and is never a head change.
// - A confirmed reset between the reading before and this one always starts a new
//   entry, even when the values are those of before the reset.
// - Otherwise equal odometers merge into the neighbouring entry; a lower head value is a
//   head change; anything else is a new entry.
//
// Threading: a plain function on plain values.
#include "OdometerReading.h"

#include <optional>

// What the printer library returns for a count larger than an int holds.
constexpr long long CLAMPED_VALUE = 2147483647;

enum class MergeDecision
{
    noValues,     // nothing to keep
    clamped,      // a value the library clamped: not a reading
    sameAsBefore, // the entry before only moves its "last seen"
    sameAsAfter,  // the entry after (written a little earlier by another program) starts
                  // sooner
    newEntry,
    headChange,  // a new entry showing a lower head value
    otherPrinter // a falling total odometer: a new history under the same key
};

const char* MergeDecisionKey(MergeDecision decision);

struct MergeNeighbours
{
    // The printer's entry the reading follows in time, and the one after it (only when
    // readings of two programs arrive out of order).
    std::optional<StoredReading> before;
    std::optional<StoredReading> after;
    // A reset was confirmed after `before` was last seen and no later than the reading.
    bool resetSinceBefore = false;
};

MergeDecision DecideMerge(const MergeNeighbours& neighbours, const OdometerReading& reading);

// Whether `now` is lower than `before`, each a whole number of its own unit: across
// units only a drop larger than both roundings together counts.
bool IsLowerValue(long long before, OdometerUnit beforeUnit, long long now, OdometerUnit nowUnit);
