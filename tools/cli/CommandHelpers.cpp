#include "CommandHelpers.h"

#include "StringTable.h"
#include "TextEscaping.h"

namespace cli
{

bool TakeFileOperand(CommandContext& c, std::string& file, std::vector<std::string>& rest)
{
    const auto& ops = c.args.Operands();
    if (ops.empty() || ops[0].empty())
    {
        c.io.Usage(c.command, "missing the printer settings file");
        return false;
    }
    file = ops[0];
    rest.assign(ops.begin() + 1, ops.end());
    return true;
}

bool TakeUnitsOption(CommandContext& c, EDisplayUnits& units)
{
    units = eUnitsInches;
    auto v = c.args.Value("units");
    if (!v || *v == "in")
        return true;
    if (*v == "mm")
    {
        units = eUnitsMillimeters;
        return true;
    }
    c.io.Usage(c.command, "--units takes 'in' or 'mm', not '" + *v + "'");
    return false;
}

const char* UnitsAbbreviation(EDisplayUnits units)
{
    return units == eUnitsMillimeters ? "mm." : "in.";
}

const char* UnitsKey(EDisplayUnits units)
{
    return units == eUnitsMillimeters ? "mm" : "in";
}

std::string NotAvailableText()
{
    CString text;
    if (LoadStringById(33213, text))
        return text.str();
    return "N/A";
}

std::string SafeReport(const std::string& text)
{
    std::string out;
    std::size_t start = 0;
    while (start <= text.size())
    {
        std::size_t end = text.find_first_of("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        out += TerminalSafe(line);
        if (end == std::string::npos)
            break;
        out += '\n';
        // A CR LF pair is one line break.
        start =
            end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
    }
    return out;
}

void BeginJsonDocument(json::Writer& j)
{
    j.BeginObject();
    j.Member("format", JSON_FORMAT);
}

} // namespace cli
