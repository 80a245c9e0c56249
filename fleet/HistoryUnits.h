#pragma once
// The one mapping between the units the printers are asked in and the units the history
// keeps a reading in; both programs convert through it, so a reading asked in
// millimetres is never stored or shown as inches.
#include "CVarkoPrinterData.h"
#include "OdometerReading.h"

constexpr OdometerUnit HistoryUnitOf(EDisplayUnits units)
{
    return units == eUnitsMillimeters ? OdometerUnit::millimeters : OdometerUnit::inches;
}

constexpr EDisplayUnits DisplayUnitsOf(OdometerUnit unit)
{
    return unit == OdometerUnit::millimeters ? eUnitsMillimeters : eUnitsInches;
}
