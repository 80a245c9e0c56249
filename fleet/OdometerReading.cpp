#include "OdometerReading.h"

#include <chrono>

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
