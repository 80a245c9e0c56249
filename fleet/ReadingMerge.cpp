#include "ReadingMerge.h"

namespace
{
bool Clamped(const std::optional<long long>& value)
{
    return value && *value >= CLAMPED_VALUE;
}

bool Lower(const std::optional<long long>& before, OdometerUnit beforeUnit,
           const std::optional<long long>& now, OdometerUnit nowUnit)
{
    return before && now && IsLowerValue(*before, beforeUnit, *now, nowUnit);
}

bool SameOdometers(const StoredReading& stored, const OdometerReading& now)
{
    return stored.unit == now.unit && stored.head == now.head && stored.total == now.total;
}
} // namespace

bool IsLowerValue(long long before, OdometerUnit beforeUnit, long long now, OdometerUnit nowUnit)
{
    if (beforeUnit == nowUnit)
        return now < before;
    const double tolerance = 0.5 + 0.5 / MILLIMETERS_PER_INCH;
    return ToInches(double(now), nowUnit) < ToInches(double(before), beforeUnit) - tolerance;
}

const char* MergeDecisionKey(MergeDecision decision)
{
    switch (decision)
    {
    case MergeDecision::noValues:
        return "no_values";
    case MergeDecision::clamped:
        return "clamped";
    case MergeDecision::sameAsBefore:
        return "same_as_before";
    case MergeDecision::sameAsAfter:
        return "same_as_after";
    case MergeDecision::newEntry:
        return "new_entry";
    case MergeDecision::headChange:
        return "head_change";
    case MergeDecision::otherPrinter:
        return "other_printer";
    }
    return "new_entry";
}

MergeDecision DecideMerge(const MergeNeighbours& n, const OdometerReading& r)
{
    if (!r.head && !r.total)
        return MergeDecision::noValues;
    if (Clamped(r.head) || Clamped(r.total))
        return MergeDecision::clamped;
    if (n.before && Lower(n.before->total, n.before->unit, r.total, r.unit))
        return MergeDecision::otherPrinter;
    // After a reset the printer starts again even where its values have not moved yet,
    // so the forecast has a first point of the new head.
    if (n.before && !n.resetSinceBefore && SameOdometers(*n.before, r))
        return MergeDecision::sameAsBefore;
    if (n.after && SameOdometers(*n.after, r))
        return MergeDecision::sameAsAfter;
    if (n.before && Lower(n.before->head, n.before->unit, r.head, r.unit))
        return MergeDecision::headChange;
    return MergeDecision::newEntry;
}
