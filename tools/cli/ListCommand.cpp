// list: the fleet as the printer list shows it, one row per printer, asking every
// printer for its serial number and odometers.
#include "CommandHelpers.h"
#include "Commands.h"
#include "FleetSession.h"
#include "Json.h"
#include "Table.h"

#include "CFleetQuery.h"
#include "CVarkoPrinterData.h"
#include "CVarkoPrinterException.h"
#include "UtcTime.h"

#include <optional>

namespace cli
{
namespace
{
// The printer list's own texts for cells that hold no value.
constexpr const char* NOT_SET = "Not Set";
constexpr const char* ERROR_CELL = "Error!";
constexpr const char* NO_ANSWER =
    "did not answer: it gave neither its serial number nor its odometers";

enum class CellState
{
    ok,
    notSet,
    notAvailable,
    // A serial or USB printer that gave nothing at all: the library gives up on a
    // silent line without an error, so this is the only sign of a printer that is off
    // or unplugged behind an adapter.
    noAnswer,
    error
};

const char* StateKey(CellState s)
{
    switch (s)
    {
    case CellState::ok:
        return "ok";
    case CellState::notSet:
        return "not_set";
    case CellState::notAvailable:
        return "not_available";
    case CellState::noAnswer:
        return "no_answer";
    case CellState::error:
        break;
    }
    return "error";
}

struct Row
{
    std::string name;
    std::string model;
    std::string port;
    std::string serial;
    CellState serialState = CellState::ok;
    std::optional<long long> head;
    std::optional<long long> total;
    CellState odometerState = CellState::ok;
    // The printer as a whole: ok, not_available, no_answer or error; it says why the
    // machine-readable outputs leave a value out.
    CellState state = CellState::ok;
    std::string error; // the first failure's message
    std::optional<UtcMillis> readAt;
};

Row RowOf(const CPrinterAnswers& a)
{
    Row r;
    r.name = a.printer->Name().str();
    r.model = a.model.str();
    r.port = a.printer->PortDisplayName().str();
    if (const CFleetFailure* failure = a.FirstFailure())
        r.error = failure->text.str();
    if (a.bidirectional)
        r.readAt = a.answeredAt;
    if (a.serialFailure)
        r.serialState = CellState::error;
    else
    {
        r.serial = a.serial.str();
        if (!a.bidirectional)
            r.serialState = CellState::notAvailable;
        else if (r.serial.empty())
            r.serialState = CellState::notSet;
    }
    if (a.odometerFailure)
        r.odometerState = CellState::error;
    else
    {
        if (a.head >= 0)
            r.head = a.head;
        if (a.total >= 0)
            r.total = a.total;
        if (!r.head && !r.total)
            r.odometerState = CellState::notAvailable;
    }
    if (!r.error.empty())
        r.state = CellState::error;
    else if (a.bidirectional && r.serialState == CellState::notSet &&
             r.odometerState == CellState::notAvailable)
    {
        r.state = r.serialState = r.odometerState = CellState::noAnswer;
        r.error = NO_ANSWER;
    }
    else if (r.serialState == CellState::notAvailable || r.odometerState == CellState::notAvailable)
        r.state = CellState::notAvailable;
    return r;
}

// The window's texts: a printer that did not answer shows as it does there.
std::string SerialCell(const Row& r)
{
    switch (r.serialState)
    {
    case CellState::notSet:
    case CellState::noAnswer:
        return NOT_SET;
    case CellState::error:
        return ERROR_CELL;
    default:
        return r.serial;
    }
}

std::string UsageCell(const Row& r, const std::optional<long long>& v)
{
    if (r.odometerState == CellState::error)
        return ERROR_CELL;
    return v ? std::to_string(*v) : NotAvailableText();
}

std::string Number(const std::optional<long long>& v)
{
    return v ? std::to_string(*v) : std::string();
}

std::string RenderCsv(const std::vector<Row>& rows, EDisplayUnits units)
{
    // Fixed names whatever the units, so a script finds its column by name; the cells
    // hold values only, and the state says why one is empty.
    Table t(
        {"name", "model", "port", "serial_number", "total_usage", "head_usage", "units", "state"});
    for (const auto& r : rows)
    {
        const bool odometers = r.odometerState == CellState::ok;
        t.AddRow({r.name, r.model, r.port,
                  r.serialState == CellState::ok ? r.serial : std::string(),
                  odometers ? Number(r.total) : std::string(),
                  odometers ? Number(r.head) : std::string(), UnitsKey(units), StateKey(r.state)});
    }
    return t.RenderCsv();
}

std::string RenderJson(const std::vector<Row>& rows, EDisplayUnits units)
{
    json::Writer j;
    BeginJsonDocument(j);
    j.Member("units", UnitsKey(units));
    j.Key("printers");
    j.BeginArray();
    for (const auto& r : rows)
    {
        j.BeginObject();
        j.Member("name", r.name);
        j.Member("model", r.model);
        j.Member("port", r.port);
        j.Member("state", StateKey(r.state));
        j.Key("read_at");
        if (r.readAt)
            j.String(FormatUtc(*r.readAt));
        else
            j.Null();
        j.Key("serial_number");
        if (r.serialState == CellState::ok || r.serialState == CellState::notSet)
            j.String(r.serial);
        else
            j.Null();
        j.Member("serial_number_state", StateKey(r.serialState));
        j.Key("total_usage");
        j.OptionalNumber(r.odometerState == CellState::error ? std::nullopt : r.total);
        j.Key("head_usage");
        j.OptionalNumber(r.odometerState == CellState::error ? std::nullopt : r.head);
        j.Member("odometers_state", StateKey(r.odometerState));
        j.Key("error");
        if (r.error.empty())
            j.Null();
        else
            j.String(r.error);
        j.EndObject();
    }
    j.EndArray();
    j.EndObject();
    return j.Text();
}
} // namespace

int RunList(CommandContext& c)
{
    std::string file;
    std::vector<std::string> names;
    EDisplayUnits units;
    if (!TakeFileOperand(c, file, names) || !TakeUnitsOption(c, units))
        return eExitUsage;
    bool json = c.args.Has("json");
    bool csv = c.args.Has("csv");
    if (json && csv)
    {
        c.io.Usage(c.command, "--json and --csv exclude each other");
        return eExitUsage;
    }

    FleetSession session(c.io, c.lockWait);
    if (!session.Open(file, FleetSession::eMustExist, true))
        return session.ExitStatus();

    // The printers are asked several at a time; their rows and failures come out in the
    // file's order all the same.
    std::vector<Row> rows;
    const bool record = !c.args.Has("no-record");
    CHistoryRecorder history(HistoryWarning(c.io));
    history.SetNotice([&c](const std::string& message) { c.io.Note(message); });
    for (const CPrinterAnswers& a : CFleetQuery::AskAll(session.Select(names), units))
    {
        Row r = RowOf(a);
        if (!r.error.empty())
            session.Fail(r.name, r.error);
        if (record)
            if (auto reading = CHistoryRecorder::ReadingOf(session.Printers(), a, units))
                history.Add(std::move(*reading));
        rows.push_back(std::move(r));
    }
    if (record)
        history.Commit();

    if (json)
        c.io.Write(RenderJson(rows, units));
    else if (csv)
        c.io.Write(RenderCsv(rows, units));
    else
    {
        std::string abbrev = UnitsAbbreviation(units);
        Table t({"Printer Name", "Model", "Port", "Serial Number", "Total Usage (" + abbrev + ")",
                 "Head Usage (" + abbrev + ")"});
        for (const auto& r : rows)
            t.AddRow({r.name, r.model, r.port, SerialCell(r), UsageCell(r, r.total),
                      UsageCell(r, r.head)});
        c.io.Write(t.RenderText());
    }
    return session.ExitStatus();
}

} // namespace cli
