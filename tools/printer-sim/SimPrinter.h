#pragma once
// What one simulated printer knows and counts, and how it answers the command set.
// Transport-free: the simulator loop feeds it commands and label data and decides
// whether the answer may go out (only serial and USB printers talk back).
//
// Threading: none; owned and used by the simulator loop.
#include "CommandParser.h"
#include "Fleet.h"

#include <cstdint>
#include <string>

namespace printersim
{

// Label data moves both odometers by this many inches per byte, so a download visibly
// changes what the printer reports: 1 inch per 1000 bytes.
constexpr double INCHES_PER_LABEL_BYTE = 1.0 / 1000.0;
constexpr std::size_t MAX_REPLY = 999;

struct Counters
{
    std::uint64_t serialQueries = 0;
    std::uint64_t odometerQueries = 0;
    std::uint64_t historyQueries = 0;
    std::uint64_t odometerReports = 0;
    std::uint64_t historyReports = 0;
    std::uint64_t testPagesRlx = 0;
    std::uint64_t testPagesTpx = 0;
    std::uint64_t calibrations = 0;
    std::uint64_t serialSets = 0;
    std::uint64_t headResets = 0;
    std::uint64_t labelBytes = 0;
    std::uint32_t labelCrc32 = 0;
    std::uint64_t bytesReceived = 0;
    std::uint64_t connections = 0;
    std::uint64_t repliesSent = 0;
};

// "12,345,678"
std::string WithThousands(std::int64_t value);
// A length in the asked unit: whole inches, or millimetres (inches * 25.4), rounded.
std::int64_t InUnit(double inches, char unit);

class SimPrinter
{
public:
    explicit SimPrinter(PrinterConfig config) : m_config(std::move(config)) {}

    const PrinterConfig& Config() const { return m_config; }
    PrinterConfig& Config() { return m_config; }
    const Counters& Count() const { return m_counters; }
    Counters& Count() { return m_counters; }

    // Carries out a command and returns the answer a bidirectional printer sends
    // ("" for commands without one).
    std::string Apply(const Command& command);
    void AddLabelData(const std::string& data);

    std::string OdometerReply(char unit) const;
    std::string HistoryReply(char unit) const;

    // The printer's state as one JSON object (see README.md); openClients is how many
    // clients hold the device (or the connection) right now, which only the loop knows.
    std::string StateJson(int openClients) const;

private:
    PrinterConfig m_config;
    Counters m_counters;
};

} // namespace printersim
