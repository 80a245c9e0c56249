#include "UtcTime.h"

#include <chrono>
#include <cstdio>

namespace
{
constexpr UtcMillis kMillisPerDay = 86400000;

// Civil-calendar arithmetic on days since 1970-01-01, without the C library's time
// zone: every time here is UTC.
std::chrono::year_month_day DayOf(UtcMillis time)
{
    UtcMillis days = time / kMillisPerDay;
    if (time % kMillisPerDay < 0)
        --days;
    return std::chrono::year_month_day(std::chrono::sys_days(std::chrono::days(days)));
}

UtcMillis MillisOfDay(UtcMillis time)
{
    UtcMillis rest = time % kMillisPerDay;
    return rest < 0 ? rest + kMillisPerDay : rest;
}

bool Digits(const std::string& text, std::size_t at, std::size_t count, int& value)
{
    if (at + count > text.size())
        return false;
    value = 0;
    for (std::size_t i = at; i < at + count; ++i)
    {
        if (text[i] < '0' || text[i] > '9')
            return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}
} // namespace

std::string FormatUtc(UtcMillis time)
{
    const std::chrono::year_month_day day = DayOf(time);
    const UtcMillis seconds = MillisOfDay(time) / 1000;
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", int(day.year()),
                  unsigned(day.month()), unsigned(day.day()), int(seconds / 3600),
                  int(seconds / 60 % 60), int(seconds % 60));
    return text;
}

std::string FormatUtcDate(UtcMillis time)
{
    return FormatUtc(time).substr(0, 10);
}

std::optional<UtcMillis> ParseUtc(const std::string& text, bool endOfDay)
{
    int year = 0, month = 0, day = 0;
    if (!Digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' ||
        !Digits(text, 5, 2, month) || text[7] != '-' || !Digits(text, 8, 2, day))
        return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year(year),
                                           std::chrono::month(unsigned(month)),
                                           std::chrono::day(unsigned(day))};
    if (!date.ok())
        return std::nullopt;
    const UtcMillis midnight =
        UtcMillis(std::chrono::sys_days(date).time_since_epoch().count()) * kMillisPerDay;

    std::string rest = text.substr(10);
    if (rest.empty() || rest == "Z")
        return endOfDay ? midnight + kMillisPerDay - 1 : midnight;
    if (rest.back() == 'Z')
        rest.pop_back();
    int hour = 0, minute = 0, second = 0;
    if ((rest[0] != 'T' && rest[0] != ' ') || !Digits(rest, 1, 2, hour) || rest.size() < 6 ||
        rest[3] != ':' || !Digits(rest, 4, 2, minute))
        return std::nullopt;
    if (rest.size() == 9)
    {
        if (rest[6] != ':' || !Digits(rest, 7, 2, second))
            return std::nullopt;
    }
    else if (rest.size() != 6)
        return std::nullopt;
    if (hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    return midnight + ((hour * 60 + minute) * 60 + second) * UtcMillis(1000);
}
