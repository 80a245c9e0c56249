#include "CWearForecast.h"

#include <algorithm>
#include <cmath>

namespace
{
constexpr double kMillisPerDay = 86400000.0;

struct HeadPoint
{
    std::int64_t id;
    UtcMillis firstSeen;
    UtcMillis lastSeen;
    double inches;
};

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

// Whether the lower value at `k` is a single odd reading rather than a new head: the
// series goes on from the reading before the odd one as if the odd one had not been.
bool IsOddReading(const std::vector<HeadPoint>& points, std::size_t k)
{
    // One reading too high at k - 1: the value at k carries on from k - 2.
    if (k >= 2 && points[k - 2].inches <= points[k].inches)
        return true;
    // One reading too low at k: the value at k + 1 carries on from k - 1.
    if (k >= 1 && k + 1 < points.size() && points[k + 1].inches >= points[k - 1].inches)
        return true;
    return false;
}
} // namespace

std::optional<double> TheilSenSlope(std::vector<SlopePoint> points, std::size_t maxPoints)
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
    return Median(slopes);
}

WearForecast ForecastWear(const PrinterHistory& history, std::optional<double> headLifeInches,
                          UtcMillis now)
{
    WearForecast forecast;
    forecast.headLifeInches = headLifeInches;

    std::vector<HeadPoint> points;
    for (const StoredReading& r : history.readings)
        if (r.head)
            points.push_back({r.id, r.firstSeen, r.lastSeen, ToInches(double(*r.head), r.unit)});
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
    const std::optional<double> perMilli = TheilSenSlope(std::move(series));
    if (!perMilli)
        return forecast;
    forecast.inchesPerDay = *perMilli * kMillisPerDay;

    if (headLifeInches && *forecast.inchesPerDay > 0)
    {
        const double daysFromLast = (*headLifeInches - last.inches) / *forecast.inchesPerDay;
        forecast.due = last.lastSeen + UtcMillis(std::llround(daysFromLast * kMillisPerDay));
        forecast.daysLeft = double(*forecast.due - now) / kMillisPerDay;
    }
    return forecast;
}
