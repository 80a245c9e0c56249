#pragma once
// One odometer reading as a fill of the printer list obtains it, and the values the
// reading store keeps about it. Plain values: they carry nothing of the printer
// library, so the store and the forecast can be used and tested without printers.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The unit a printer was asked in; the printer converts, so a reading keeps the unit it
// came in and is converted only where two readings are compared or a rate is worked out.
enum class OdometerUnit
{
    inches,
    millimeters
};

constexpr double MILLIMETERS_PER_INCH = 25.4;

// "in" or "mm", as the store and the machine-readable outputs write them.
const char* UnitKey(OdometerUnit unit);
std::optional<OdometerUnit> UnitFromKey(const std::string& key);
double ToInches(double value, OdometerUnit unit);
double FromInches(double inches, OdometerUnit unit);

// A head life as a person writes it: a plain decimal number ("150000", "1.5e5") from 1
// to 10^9, in whichever unit it is meant. Nothing for anything else: hexadecimal
// ("0x10"), "inf", blanks, a value out of bounds.
std::optional<double> ParseHeadLife(const std::string& text);

// Milliseconds since 1970-01-01 00:00 UTC.
using UtcMillis = std::int64_t;
UtcMillis NowUtcMillis();

struct OdometerReading
{
    UtcMillis time = 0;
    // What the printer reported; empty when it has none (or the question failed), and
    // the printer is then known by its port.
    std::string serial;
    std::string name;
    std::string model;
    // The port as the settings file stores it: COM3, LPT1, a device path, an address.
    std::string port;
    // Missing where the printer gave no value.
    std::optional<long long> head;
    std::optional<long long> total;
    OdometerUnit unit = OdometerUnit::inches;
};

// A reading as the store keeps it: equal readings in a row are one entry, seen first
// and last at the given times.
struct StoredReading
{
    std::int64_t id = 0;
    UtcMillis firstSeen = 0;
    UtcMillis lastSeen = 0;
    std::string name;
    std::string model;
    std::string port;
    std::optional<long long> head;
    std::optional<long long> total;
    OdometerUnit unit = OdometerUnit::inches;
};

enum class HeadChangeKind
{
    // A reading showed a lower head value than the one before it.
    lowerValue,
    // Reset Head Odometer was confirmed through one of our programs.
    reset
};

const char* HeadChangeKey(HeadChangeKind kind);

struct HeadChange
{
    UtcMillis time = 0;
    HeadChangeKind kind = HeadChangeKind::lowerValue;
    // The reading that showed the lower value (0 for a reset).
    std::int64_t readingId = 0;
    // The head value of the reading before the change, in its own unit.
    std::optional<long long> headBefore;
    OdometerUnit unitBefore = OdometerUnit::inches;
};

// A printer as the store knows it: its identity and what it was last seen as.
struct StoredPrinter
{
    std::int64_t id = 0;
    std::string serial;
    std::string name;
    std::string model;
    std::string port;
    UtcMillis firstSeen = 0;
    UtcMillis lastSeen = 0;
    long long readingCount = 0;
    // Another printer took over the key at that time: this history is an earlier one's.
    std::optional<UtcMillis> retiredAt;
    // Another printer of a fill reported the same serial number; this one is told
    // apart by its port.
    bool sharedSerial = false;
};

struct PrinterHistory
{
    StoredPrinter printer;
    // Oldest first.
    std::vector<StoredReading> readings;
    std::vector<HeadChange> changes;
    // Histories that held the same key before this printer took it over (another
    // printer on the port, or one that reported this serial number), most recently seen
    // first. Their readings are not part of this history.
    std::vector<StoredPrinter> earlier;
};
