// Commands that run one printer operation on each named printer: the library's batch
// commands (test page, odometer report, head history report) and the single-printer
// ones (serial number, head history, head odometer reset).
//
// The batch commands of the library report a failing printer through the prompt and
// go on; to tell per printer whether it failed, each printer is handed to the batch
// on its own, and a report raised during that call marks it failed.
#include "CommandHelpers.h"
#include "Commands.h"
#include "ConsolePrompt.h"
#include "FleetSession.h"
#include "TextEscaping.h"

#include "CMapStringToOb.h"
#include "CVarkoPrinterData.h"
#include "CVarkoPrinterException.h"

#include <functional>
#include <optional>

namespace cli
{
namespace
{
// The serial-number dialog of the windowed program takes at most this many characters,
// which keeps even an all-quotes text within what the printer command can carry.
constexpr std::size_t MAX_SERIAL_CHARACTERS = 32;

using BatchOperation = std::function<void(const CMapStringToOb&)>;

void RunBatch(FleetSession& session, const std::vector<CVarkoPrinterData*>& printers,
              const BatchOperation& op, const char* doneText)
{
    for (CVarkoPrinterData* p : printers)
    {
        std::string name = p->Name().str();
        CMapStringToOb one;
        one.SetAt(p->Name(), p);
        int before = ConsolePrompt::ReportsOnThisThread();
        try
        {
            PrinterContext context(name);
            op(one);
        }
        catch (const CException& e)
        {
            session.Fail(name, e);
            continue;
        }
        if (ConsolePrompt::ReportsOnThisThread() != before)
            session.MarkFailed();
        else
            session.Io().Say(name + ": " + doneText);
    }
}

// The file, then the printers (all when none is named).
bool OpenForPrinters(CommandContext& c, FleetSession& session,
                     std::vector<CVarkoPrinterData*>& printers, bool namesRequired)
{
    std::string file;
    std::vector<std::string> names;
    if (!TakeFileOperand(c, file, names))
        return false;
    if (namesRequired && names.empty())
    {
        c.io.Usage(c.command, "name at least one printer");
        return false;
    }
    if (!session.Open(file, FleetSession::eMustExist, true))
    {
        session.MarkFailed();
        return false;
    }
    printers = session.Select(names);
    return true;
}

int UsageOr(const FleetSession& session)
{
    return session.Failed() ? session.ExitStatus() : eExitUsage;
}

// Opens the file and runs the action on each printer the name selects; a printer whose
// action throws is reported and the others still run.
int ForEachNamed(CommandContext& c, const std::string& file, const std::string& name,
                 const std::function<void(CVarkoPrinterData&)>& action)
{
    FleetSession session(c.io, c.lockWait);
    if (!session.Open(file, FleetSession::eMustExist, true))
        return session.ExitStatus();
    for (CVarkoPrinterData* p : session.Select({name}))
    {
        try
        {
            action(*p);
        }
        catch (const CException& e)
        {
            session.Fail(p->Name().str(), e);
        }
    }
    return session.ExitStatus();
}
} // namespace

int RunTestPage(CommandContext& c)
{
    FleetSession session(c.io, c.lockWait);
    std::vector<CVarkoPrinterData*> printers;
    if (!OpenForPrinters(c, session, printers, false))
        return UsageOr(session);
    const CVarkoPrinters& all = session.Printers();
    if (c.args.Has("tpx"))
        RunBatch(
            session, printers, [&](const CMapStringToOb& m) { all.PrintTestPageTPX(m); },
            "TPX test page requested");
    else
        RunBatch(
            session, printers, [&](const CMapStringToOb& m) { all.PrintTestPageRLX(m); },
            "RLX test page requested");
    return session.ExitStatus();
}

namespace
{
// The two printed reports differ only in the collection call and the line they print.
int RunUnitsReport(CommandContext& c,
                   void (CVarkoPrinters::*report)(const CMapStringToOb&, EDisplayUnits) const,
                   const char* doneText)
{
    EDisplayUnits units;
    if (!TakeUnitsOption(c, units))
        return eExitUsage;
    FleetSession session(c.io, c.lockWait);
    std::vector<CVarkoPrinterData*> printers;
    if (!OpenForPrinters(c, session, printers, false))
        return UsageOr(session);
    const CVarkoPrinters& all = session.Printers();
    RunBatch(
        session, printers, [&](const CMapStringToOb& m) { (all.*report)(m, units); }, doneText);
    return session.ExitStatus();
}
} // namespace

int RunPrintOdometers(CommandContext& c)
{
    return RunUnitsReport(c, &CVarkoPrinters::PrintOdometers, "odometer report requested");
}

int RunPrintHeadHistory(CommandContext& c)
{
    return RunUnitsReport(c, &CVarkoPrinters::PrintHeadHistory, "head history report requested");
}

int RunSetSerial(CommandContext& c)
{
    const auto& ops = c.args.Operands();
    if (ops.size() != 3)
    {
        c.io.Usage(c.command, "expected FILE NAME SERIAL");
        return eExitUsage;
    }
    const std::string& serial = ops[2];
    if (serial.size() > MAX_SERIAL_CHARACTERS)
    {
        c.io.Usage(c.command, "a serial number has at most " +
                                  std::to_string(MAX_SERIAL_CHARACTERS) + " characters");
        return eExitUsage;
    }
    for (unsigned char ch : serial)
        if (ch < 0x20 || ch == 0x7F)
        {
            c.io.Usage(c.command, "a serial number cannot hold control characters");
            return eExitUsage;
        }
    FleetSession session(c.io, c.lockWait);
    if (!session.Open(ops[0], FleetSession::eMustExist, true))
        return session.ExitStatus();
    CHistoryRecorder history(HistoryWarning(c.io));
    for (CVarkoPrinterData* p : session.Select({ops[1]}))
    {
        try
        {
            // What the history knows the printer by until now; a printer that cannot
            // tell still gets its new number, only its history stays where it was.
            std::optional<std::string> before;
            try
            {
                before = p->SerialNumber().str();
            }
            catch (const CException&)
            {
            }
            p->SetSerialNumber(CString(serial));
            c.io.Say(p->Name().str() + ": serial number set to " + serial);
            OdometerReading who = CHistoryRecorder::WhoOf(session.Printers(), *p);
            who.serial = serial;
            if (before)
                history.RecordSerialChange(std::move(who), *before);
            else
                c.io.Note(p->Name().str() + ": the old serial number could not be read; its "
                                            "odometer history stays under it");
        }
        catch (const CException& e)
        {
            session.Fail(p->Name().str(), e);
        }
    }
    return session.ExitStatus();
}

int RunHeadHistory(CommandContext& c)
{
    EDisplayUnits units;
    if (!TakeUnitsOption(c, units))
        return eExitUsage;
    const auto& ops = c.args.Operands();
    if (ops.size() != 2)
    {
        c.io.Usage(c.command, "expected FILE NAME");
        return eExitUsage;
    }
    return ForEachNamed(c, ops[0], ops[1],
                        [&](CVarkoPrinterData& p)
                        {
                            std::string report = SafeReport(p.HeadHistory(units).str());
                            if (!report.empty() && report.back() != '\n')
                                report += '\n';
                            c.io.Write(report);
                        });
}

int RunResetHead(CommandContext& c)
{
    c.prompt.SetAssumeYes(c.args.Has("yes"));
    FleetSession session(c.io, c.lockWait);
    std::vector<CVarkoPrinterData*> printers;
    if (!OpenForPrinters(c, session, printers, true))
        return UsageOr(session);
    // The odometer history learns of each reset, so the forecast starts from the new head.
    CHistoryRecorder history(HistoryWarning(c.io));
    for (CVarkoPrinterData* p : printers)
    {
        std::string name = p->Name().str();
        try
        {
            PrinterContext context(name);
            ConsolePrompt::ForgetAnswer();
            p->ResetHeadOdometer();
        }
        catch (const CException& e)
        {
            session.Fail(name, e);
            continue;
        }
        if (ConsolePrompt::LastAnswerOnThisThread() == IDYES)
        {
            c.io.Say(name + ": head odometer reset");
            if (!c.args.Has("no-record"))
                history.RecordHeadReset(session.Printers(), *p);
        }
        else
            c.io.Say(name + ": left as it was");
    }
    return session.ExitStatus();
}

} // namespace cli
