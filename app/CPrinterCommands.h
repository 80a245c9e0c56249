#pragma once
// The commands that work on the selected printers: delete, modify, set serial number,
// view and print the head history, reset the head odometer, the print commands and the
// odometer history.
//
// Each captures what it acts on (the selected records, a selection map, the units) the
// moment it is given, then waits through the document's fill for the printers to be
// free and runs on exactly those records, skipping any that have left the list since:
// nothing the user clicks while it waits changes what it does.
//
// Threading: user-interface thread only.
#include "CCmdTarget.h"
#include "CVarkoPrinterData.h"

#include <vector>

class COdomiraDoc;
class COdomiraView;
class CMapStringToOb;
class CVarkoPrinters;

class CPrinterCommands : public CCmdTarget
{
public:
    CPrinterCommands(COdomiraDoc& doc, COdomiraView& view);

    // Modify the first selected printer; a double-click runs it too.
    void OnPrinterModify();

private:
    // The records still in the list the command was given for, in the order given.
    std::vector<CVarkoPrinterData*>
    StillHeld(unsigned long generation, const std::vector<CVarkoPrinterData*>& printers) const;
    CVarkoPrinterData* StillHeld(unsigned long generation, CVarkoPrinterData* printer) const;

    void OnPrinterDelete();
    void OnPrinterSetSerialNumber();
    void OnPrinterViewHeadHistory();
    void OnPrinterResetHeadOdometer();
    void OnPrinterOdometerHistory();
    using PrintFn = void (*)(CVarkoPrinters&, const CMapStringToOb&, EDisplayUnits);
    void RunBatchPrint(PrintFn print);
    bool IsOneBidirectionalSelected() const;

    COdomiraDoc& m_doc;
    COdomiraView& m_view;
};
