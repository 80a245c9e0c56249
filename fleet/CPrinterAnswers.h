#pragma once
// What one printer answered during a fill of the printer list: its model (a USB printer
// tells it when none is stored), its serial number and its two odometers, each with
// the failure that stopped it, if any. Plain values, handed from the thread that asked
// to the thread that shows them.
#include "CString.h"
#include "CVarkoPrinterException.h"
#include "OdometerReading.h"

#include <cstddef>
#include <optional>

class CVarkoPrinterData;

// A failed question: the library's exception when it was one of its own, else the text
// the failure carried, so it can be reported once, as the library reports it.
struct CFleetFailure
{
    CString text;
    std::optional<CVarkoPrinterException> exception;

    // Shows the message box the library shows for it.
    void Report() const;
};

struct CPrinterAnswers
{
    // Position in the list of printers the fill was given.
    std::size_t index = 0;
    // Identifies the printer; not to be used once the fill's owner may have deleted it.
    CVarkoPrinterData* printer = nullptr;
    // False when the fill was cancelled before this printer was asked.
    bool asked = false;
    bool bidirectional = false;

    CString model;
    std::optional<CFleetFailure> modelFailure;
    CString serial;
    std::optional<CFleetFailure> serialFailure;
    // -1 where the printer gave no value.
    int head = -1;
    int total = -1;
    std::optional<CFleetFailure> odometerFailure;
    // When the last question was answered (or gave up).
    UtcMillis answeredAt = 0;

    // The first failure, in the order the questions were asked.
    const CFleetFailure* FirstFailure() const;
};
