#pragma once
// How fast a printer's head wears, and when it will be worn out.
//
// The rate is worked out from the readings since the head was last changed, as the
// median of the slopes between every two readings (the Theil-Sen estimate): a gap of
// weeks between readings weighs no more than any other stretch, and one odd reading
// moves the median by at most one place, so it cannot pull the rate away. A lower head
// value that the readings on either side of it contradict (one reading far too high,
// or one far too low, between readings that go on as before) is taken for an odd
// reading, not for a new head.
//
// Where the model's head life is known, the forecast says how many days are left and
// on which date the head reaches it, at the rate measured. No head life is assumed.
//
// Threading: plain functions on plain values.
#include "OdometerReading.h"

#include <cstddef>
#include <optional>
#include <vector>

struct WearForecast
{
    // The head in use since: the last head change that the readings confirm (or the
    // first reading, when there was none).
    UtcMillis since = 0;
    std::optional<HeadChangeKind> sinceKind; // empty: no head change seen
    // The readings that the rate was worked out from, and the time they span.
    int readingsUsed = 0;
    double spanDays = 0;
    // The latest head value, in inches, and when it was read.
    std::optional<double> headInches;
    UtcMillis lastReading = 0;

    // Inches per day; empty with fewer than MIN_RATE_READINGS points over less than
    // MIN_RATE_DAYS since the head change.
    std::optional<double> inchesPerDay;
    // The middle 90 % of the pair slopes the rate is the median of.
    std::optional<double> inchesPerDayLow;
    std::optional<double> inchesPerDayHigh;

    std::optional<double> headLifeInches;
    // Only with a head life and a rate above zero; days left may be negative when the
    // head has passed its life.
    std::optional<double> daysLeft;
    // Empty when the date lies beyond the year 9999.
    std::optional<UtcMillis> due;
    // The days left at the fastest and the slowest rate of the range; the latter empty
    // when the slowest rate of the range is no wear at all.
    std::optional<double> daysLeftLow;
    std::optional<double> daysLeftHigh;
};

// The points (first and last sightings of each entry since the head change) and the
// time they must span before a rate is given.
constexpr std::size_t MIN_RATE_READINGS = 3;
constexpr double MIN_RATE_DAYS = 1.0;

// `now` is the time the days left are counted from.
WearForecast ForecastWear(const PrinterHistory& history, std::optional<double> headLifeInches,
                          UtcMillis now);

// The Theil-Sen slope of (x, y) points: the median of the slopes between every two
// points with different x. Long series are first thinned to at most `maxPoints`
// medians of equal stretches of x, which keeps the work bounded (a year of hourly
// readings) without losing the estimate's robustness. Empty with fewer than two
// distinct x.
struct SlopePoint
{
    double x;
    double y;
};
std::optional<double> TheilSenSlope(std::vector<SlopePoint> points, std::size_t maxPoints = 400);

// The same median with the 5th and 95th percentiles of the pair slopes.
struct SlopeEstimate
{
    double slope = 0;
    double low = 0;
    double high = 0;
};
std::optional<SlopeEstimate> TheilSen(std::vector<SlopePoint> points, std::size_t maxPoints = 400);
