#pragma once
// One simulated printer as the loop sees it: the printer itself, the parser of what its
// client sends, the descriptors of whichever transport serves it, and the state of the
// read faults (stall, throttle, XOFF) that every transport shares.
//
// Threading: none; owned by the simulator, used from its loop only.
#include "CommandParser.h"
#include "SimPrinter.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace printersim
{

using Clock = std::chrono::steady_clock;

struct Device
{
    explicit Device(PrinterConfig config) : printer(std::move(config)) {}
    const PrinterConfig& Cfg() const { return printer.Config(); }
    PrinterConfig& Cfg() { return printer.Config(); }
    const std::string& Name() const { return printer.Config().name; }

    SimPrinter printer;
    CommandParser parser;
    Clock::time_point flushAt{};
    // Whether the faults let this round read from the client (set before polling).
    bool readable = false;

    // Serial, USB, parallel (PtyTransport).
    int master = -1;
    int slave = -1; // held so the master never sees a hang-up between client opens
    int watch = -1;
    int openers = 0;
    std::string pts;
    std::string portName; // COM3, LPT1, usb/lp0
    std::string linkPath;
    std::string sidecarPath;
    bool published = false;
    std::string out;

    // Network (NetTransport, DiscoveryTransport).
    int listenFd = -1;
    int tarpitFd = -1; // the connection that fills a tarpit's backlog
    int connFd = -1;
    std::uint64_t connBytes = 0;
    std::uint64_t connId = 0;
    int drops = 0;
    int udpFd = -1;

    // Read faults at run time.
    bool stallArmed = false;
    std::int64_t stallCounter = 0;
    Clock::time_point stallUntil{};
    bool stalled = false;
    double budget = 0;
    Clock::time_point budgetAt{};
    bool xoffArmed = false;
    std::int64_t xoffCounter = 0;
};

} // namespace printersim
