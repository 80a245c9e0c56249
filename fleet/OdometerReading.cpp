#include "OdometerReading.h"

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>

const char* UnitKey(OdometerUnit unit)
{
    return unit == OdometerUnit::millimeters ? "mm" : "in";
}

std::optional<OdometerUnit> UnitFromKey(const std::string& key)
{
    if (key == "in")
        return OdometerUnit::inches;
    if (key == "mm")
        return OdometerUnit::millimeters;
    return std::nullopt;
}

double ToInches(double value, OdometerUnit unit)
{
    return unit == OdometerUnit::millimeters ? value / MILLIMETERS_PER_INCH : value;
}

double FromInches(double inches, OdometerUnit unit)
{
    return unit == OdometerUnit::millimeters ? inches * MILLIMETERS_PER_INCH : inches;
}

std::optional<double> ParseHeadLife(const std::string& text)
{
    // strtod alone would take "0x10" as 16 and "1e300" as a number.
    std::size_t i = 0;
    auto digits = [&]
    {
        const std::size_t from = i;
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
            ++i;
        return i > from;
    };
    const bool whole = digits();
    bool fraction = false;
    if (i < text.size() && text[i] == '.')
    {
        ++i;
        fraction = digits();
    }
    if (!whole && !fraction)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E'))
    {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (!digits())
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;
    const double value = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(value) || value < 1 || value > 1e9)
        return std::nullopt;
    return value;
}

UtcMillis NowUtcMillis()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

const char* HeadChangeKey(HeadChangeKind kind)
{
    return kind == HeadChangeKind::reset ? "reset" : "lower_value";
}
