#include "CWearForecast.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr double kMillisPerDay = 86400000.0;
// Year 9999: dates beyond are shown as none, and never reach the date formatting.
constexpr double kLatestDue = 253402300799000.0;

struct HeadPoint
{
    std::int64_t id;
    UtcMillis firstSeen;
    UtcMillis lastSeen;
    double inches;
    std::optional<double> totalInches;
};

// Both odometers are whole numbers of their unit: two roundings, and a little for a
// reading taken while the printer was printing.
constexpr double kRoundingInches = 1.5;

double Median(std::vector<double>& values)
{
    const std::size_t middle = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + long(middle), values.end());
    const double upper = values[middle];
    if (values.size() % 2)
        return upper;
    const double lower = *std::max_element(values.begin(), values.begin() + long(middle));
    return (lower + upper) / 2;
}

// Medians of equal stretches of x: at most `count` points that keep the series' shape.
std::vector<SlopePoint> Thin(const std::vector<SlopePoint>& points, std::size_t count)
{
    double low = points.front().x, high = points.front().x;
    for (const SlopePoint& p : points)
    {
        low = std::min(low, p.x);
        high = std::max(high, p.x);
    }
    std::vector<std::vector<double>> xs(count), ys(count);
    for (const SlopePoint& p : points)
    {
        auto bucket = std::size_t((p.x - low) / (high - low) * double(count));
        bucket = std::min(bucket, count - 1);
        xs[bucket].push_back(p.x);
        ys[bucket].push_back(p.y);
    }
    std::vector<SlopePoint> thinned;
    for (std::size_t i = 0; i < count; ++i)
        if (!xs[i].empty())
            thinned.push_back({Median(xs[i]), Median(ys[i])});
    return thinned;
}

// Whether the head advanced no further than the total did between two readings: what
// printing does to both odometers. Empty where a total is missing.
std::optional<bool> HeadKeptPace(const HeadPoint& from, const HeadPoint& to, double headAdvance)
{
    if (!from.totalInches || !to.totalInches)
        return std::nullopt;
    return headAdvance <= *to.totalInches - *from.totalInches + kRoundingInches;
}

// Whether the lower value at `k` is a single odd reading rather than a new head.
bool IsOddReading(const std::vector<HeadPoint>& points, std::size_t k)
{
    // Printing moves both odometers alike, so where the totals are known they decide: a
    // new head shows no more than was printed since the reading before, and goes on at
    // the pace of the total. A head changed twice in a row passes both; a value far too
    // high before the drop, or far too low at it, fails one.
    if (k >= 1)
    {
        const std::optional<bool> fresh = HeadKeptPace(points[k - 1], points[k], points[k].inches);
        const std::optional<bool> goesOn =
            k + 1 < points.size()
                ? HeadKeptPace(points[k], points[k + 1], points[k + 1].inches - points[k].inches)
                : std::optional<bool>(true);
        if (fresh && goesOn)
            return !(*fresh && *goesOn);
    }
    // Without totals, the values alone: the series goes on from the reading before the
    // odd one as if the odd one had not been.
    // One reading too high at k - 1: the value at k carries on from k - 2.
    if (k >= 2 && points[k - 2].inches <= points[k].inches)
        return true;
    // One reading too low at k: the value at k + 1 carries on from k - 1.
    if (k >= 1 && k + 1 < points.size() && points[k + 1].inches >= points[k - 1].inches)
        return true;
    return false;
}
} // namespace

std::optional<SlopeEstimate> TheilSen(std::vector<SlopePoint> points, std::size_t maxPoints)
{
    if (points.size() < 2)
        return std::nullopt;
    if (maxPoints >= 2 && points.size() > maxPoints)
    {
        const auto [low, high] = std::minmax_element(
            points.begin(), points.end(), [](const auto& a, const auto& b) { return a.x < b.x; });
        if (high->x > low->x)
            points = Thin(points, maxPoints);
    }
    std::vector<double> slopes;
    slopes.reserve(points.size() * (points.size() - 1) / 2);
    for (std::size_t i = 0; i < points.size(); ++i)
        for (std::size_t j = i + 1; j < points.size(); ++j)
            if (points[j].x != points[i].x)
                slopes.push_back((points[j].y - points[i].y) / (points[j].x - points[i].x));
    if (slopes.empty())
        return std::nullopt;
    SlopeEstimate estimate;
    estimate.slope = Median(slopes);
    // The middle 90 % of the pair slopes: how far the rate could be from the median
    // with readings as scattered as these. Median left the slopes split at the middle,
    // so each end is looked for in its own half only.
    const std::size_t middle = slopes.size() / 2;
    auto at = [&slopes, middle](double share)
    {
        const auto k = std::size_t(std::floor(share * double(slopes.size() - 1)));
        if (k < middle)
            std::nth_element(slopes.begin(), slopes.begin() + long(k),
                             slopes.begin() + long(middle));
        else if (k > middle)
            std::nth_element(slopes.begin() + long(middle) + 1, slopes.begin() + long(k),
                             slopes.end());
        return slopes[k];
    };
    estimate.low = at(0.05);
    estimate.high = at(0.95);
    return estimate;
}

std::optional<double> TheilSenSlope(std::vector<SlopePoint> points, std::size_t maxPoints)
{
    const auto estimate = TheilSen(std::move(points), maxPoints);
    return estimate ? std::optional<double>(estimate->slope) : std::nullopt;
}

WearForecast ForecastWear(const PrinterHistory& history, std::optional<double> headLifeInches,
                          UtcMillis now)
{
    WearForecast forecast;
    forecast.headLifeInches = headLifeInches;

    std::vector<HeadPoint> points;
    for (const StoredReading& r : history.readings)
        if (r.head)
            points.push_back({r.id, r.firstSeen, r.lastSeen, ToInches(double(*r.head), r.unit),
                              r.total ? std::optional<double>(ToInches(double(*r.total), r.unit))
                                      : std::nullopt});
    std::stable_sort(points.begin(), points.end(),
                     [](const HeadPoint& a, const HeadPoint& b)
                     { return a.firstSeen < b.firstSeen; });
    if (points.empty())
        return forecast;

    // The latest head change the readings bear out.
    std::size_t first = 0;
    forecast.since = points.front().firstSeen;
    std::vector<HeadChange> changes = history.changes;
    std::stable_sort(changes.begin(), changes.end(),
                     [](const HeadChange& a, const HeadChange& b) { return a.time < b.time; });
    for (auto change = changes.rbegin(); change != changes.rend(); ++change)
    {
        if (change->kind == HeadChangeKind::lowerValue)
        {
            auto at = std::find_if(points.begin(), points.end(),
                                   [&](const HeadPoint& p) { return p.id == change->readingId; });
            if (at != points.end())
            {
                const auto k = std::size_t(at - points.begin());
                if (IsOddReading(points, k))
                    continue;
                first = k;
                forecast.since = points[k].firstSeen;
                forecast.sinceKind = change->kind;
                break;
            }
        }
        // A reset, or a change whose reading has no head value: the readings taken
        // after it belong to the new head.
        first = std::size_t(std::lower_bound(points.begin(), points.end(), change->time,
                                             [](const HeadPoint& p, UtcMillis t)
                                             { return p.firstSeen < t; }) -
                            points.begin());
        forecast.since = change->time;
        forecast.sinceKind = change->kind;
        break;
    }
    if (first >= points.size())
        return forecast;

    const HeadPoint& last = points.back();
    forecast.headInches = last.inches;
    forecast.lastReading = last.lastSeen;

    // Each entry stands for the whole time its value was seen: its first and its last
    // sighting are both points of the series.
    std::vector<SlopePoint> series;
    for (std::size_t i = first; i < points.size(); ++i)
    {
        series.push_back({double(points[i].firstSeen), points[i].inches});
        if (points[i].lastSeen > points[i].firstSeen)
            series.push_back({double(points[i].lastSeen), points[i].inches});
    }
    forecast.readingsUsed = int(points.size() - first);
    forecast.spanDays = double(last.lastSeen - points[first].firstSeen) / kMillisPerDay;
    // Two readings a second apart give a slope, but not one to plan by.
    if (series.size() < MIN_RATE_READINGS || forecast.spanDays < MIN_RATE_DAYS)
        return forecast;
    const std::optional<SlopeEstimate> perMilli = TheilSen(std::move(series));
    if (!perMilli)
        return forecast;
    forecast.inchesPerDay = perMilli->slope * kMillisPerDay;
    forecast.inchesPerDayLow = perMilli->low * kMillisPerDay;
    forecast.inchesPerDayHigh = perMilli->high * kMillisPerDay;

    if (!headLifeInches || *forecast.inchesPerDay <= 0)
        return forecast;
    // Days as a double and the date only when it lies within the years a UtcMillis
    // holds: a head life of 10^9 inches at a thousandth of an inch a day must not wrap.
    auto dueAt = [&](double inchesPerDay) -> std::optional<UtcMillis>
    {
        if (!(inchesPerDay > 0))
            return std::nullopt;
        const double millis =
            double(last.lastSeen) + (*headLifeInches - last.inches) / inchesPerDay * kMillisPerDay;
        if (!std::isfinite(millis) || millis > kLatestDue || millis < -kLatestDue)
            return std::nullopt;
        return UtcMillis(std::llround(millis));
    };
    forecast.due = dueAt(*forecast.inchesPerDay);
    const double daysFromLast = (*headLifeInches - last.inches) / *forecast.inchesPerDay;
    forecast.daysLeft = double(last.lastSeen - now) / kMillisPerDay + daysFromLast;
    // The faster wear of the range ends the head soonest.
    if (*forecast.inchesPerDayHigh > 0)
        forecast.daysLeftLow = double(last.lastSeen - now) / kMillisPerDay +
                               (*headLifeInches - last.inches) / *forecast.inchesPerDayHigh;
    if (*forecast.inchesPerDayLow > 0)
        forecast.daysLeftHigh = double(last.lastSeen - now) / kMillisPerDay +
                                (*headLifeInches - last.inches) / *forecast.inchesPerDayLow;
    return forecast;
}
