// The merge decision on tables of readings: what a new reading means next to the
// printer's stored entries.
#include "ReadingMerge.h"

#include <gtest/gtest.h>

namespace
{
StoredReading Stored(std::optional<long long> head, std::optional<long long> total,
                     OdometerUnit unit = OdometerUnit::inches)
{
    StoredReading r;
    r.id = 7;
    r.firstSeen = 1000;
    r.lastSeen = 2000;
    r.head = head;
    r.total = total;
    r.unit = unit;
    return r;
}

OdometerReading Now(std::optional<long long> head, std::optional<long long> total,
                    OdometerUnit unit = OdometerUnit::inches)
{
    OdometerReading r;
    r.time = 3000;
    r.serial = "A1";
    r.port = "COM3";
    r.head = head;
    r.total = total;
    r.unit = unit;
    return r;
}
} // namespace

TEST(ReadingMerge, DecidesFromTheReadingAndItsNeighbours)
{
    const auto in = OdometerUnit::inches;
    const auto mm = OdometerUnit::millimeters;
    struct Case
    {
        const char* what;
        std::optional<StoredReading> before;
        std::optional<StoredReading> after;
        bool reset;
        OdometerReading now;
        MergeDecision expected;
    };
    const Case cases[] = {
        {"first reading", std::nullopt, std::nullopt, false, Now(10, 20), MergeDecision::newEntry},
        {"no values", Stored(10, 20), std::nullopt, false, Now(std::nullopt, std::nullopt),
         MergeDecision::noValues},
        {"same values", Stored(10, 20), std::nullopt, false, Now(10, 20),
         MergeDecision::sameAsBefore},
        {"same values in another unit", Stored(10, 20), std::nullopt, false, Now(254, 508, mm),
         MergeDecision::newEntry},
        {"a value now missing", Stored(10, 20), std::nullopt, false, Now(std::nullopt, 20),
         MergeDecision::newEntry},
        {"wear", Stored(10, 20), std::nullopt, false, Now(12, 22), MergeDecision::newEntry},
        {"lower head, total goes on", Stored(500, 900), std::nullopt, false, Now(3, 903),
         MergeDecision::headChange},
        {"lower head, total unknown", Stored(500, std::nullopt), std::nullopt, false,
         Now(3, std::nullopt), MergeDecision::headChange},
        {"falling total is another printer", Stored(500, 900), std::nullopt, false, Now(3, 40),
         MergeDecision::otherPrinter},
        {"falling total with a higher head", Stored(5, 900), std::nullopt, false, Now(30, 40),
         MergeDecision::otherPrinter},
        {"falling total after a reset is still another printer", Stored(500, 900), std::nullopt,
         true, Now(0, 40), MergeDecision::otherPrinter},
        {"total within the rounding of two units", Stored(100, 1000), std::nullopt, false,
         Now(2540, 25390, mm), MergeDecision::newEntry},
        {"total lower across units", Stored(100, 1000), std::nullopt, false, Now(2540, 25000, mm),
         MergeDecision::otherPrinter},
        {"same values after a confirmed reset", Stored(500, 900), std::nullopt, true, Now(500, 900),
         MergeDecision::newEntry},
        {"lower head after a confirmed reset", Stored(500, 900), std::nullopt, true, Now(0, 900),
         MergeDecision::headChange},
        {"equal to the entry after", Stored(10, 20), Stored(12, 22), false, Now(12, 22),
         MergeDecision::sameAsAfter},
        {"clamped head", Stored(10, 20), std::nullopt, false, Now(CLAMPED_VALUE, 22),
         MergeDecision::clamped},
        {"clamped total on a first reading", std::nullopt, std::nullopt, false,
         Now(10, CLAMPED_VALUE), MergeDecision::clamped},
        {"clamped total below a stored one", Stored(10, CLAMPED_VALUE - 1), std::nullopt, false,
         Now(10, CLAMPED_VALUE), MergeDecision::clamped},
        {"one below the clamp is a value", Stored(10, 20), std::nullopt, false,
         Now(CLAMPED_VALUE - 1, 21, in), MergeDecision::newEntry},
    };
    for (const Case& c : cases)
        EXPECT_EQ(MergeDecisionKey(DecideMerge({c.before, c.after, c.reset}, c.now)),
                  std::string(MergeDecisionKey(c.expected)))
            << c.what;
}
