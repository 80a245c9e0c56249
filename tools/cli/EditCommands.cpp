// add and remove: the two commands that change which printers a file holds. Both save
// atomically and only when the change went through, so a refused add or a failed save
// leaves the existing file as it was.
#include "CommandHelpers.h"
#include "Commands.h"
#include "FleetSession.h"

#include "CPrinterSettings.h"
#include "CVarkoPrinterData.h"
#include "StringTable.h"

#include <cctype>
#include <climits>

namespace cli
{
namespace
{
bool HasControlCharacter(const std::string& s)
{
    for (unsigned char ch : s)
        if (ch < 0x20 || ch == 0x7F)
            return true;
    return false;
}

// "COM3", "com3" -> "COM3"; numbers 1 to 256 as the port list knows them.
bool NormaliseDeviceName(const std::string& text, const char* prefix, std::string& out)
{
    if (text.size() < 4 || strncasecmp(text.c_str(), prefix, 3) != 0)
        return false;
    auto n = ParseInteger(text.substr(3), 1, 256);
    if (!n || text[3] == '+' || text[3] == '-')
        return false;
    out = std::string(prefix) + std::to_string(*n);
    return true;
}

bool ParseDottedIPv4(const std::string& text)
{
    int parts = 0;
    std::size_t start = 0;
    while (true)
    {
        std::size_t dot = text.find('.', start);
        std::string part = text.substr(start, dot == std::string::npos ? dot : dot - start);
        if (part.empty() || part.size() > 3 || part[0] == '+' || part[0] == '-' ||
            !ParseInteger(part, 0, 255))
            return false;
        ++parts;
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    return parts == 4;
}

// Values the library does not accept are passed on as values it rejects, so that the
// user sees the library's own message for that setting (codes 1 to 5).
int IntegerOrInvalid(const std::optional<std::string>& v, int fallback)
{
    if (!v)
        return fallback;
    auto n = ParseInteger(*v, INT_MIN, INT_MAX);
    return n ? static_cast<int>(*n) : -1;
}

int WordOrInvalid(const std::optional<std::string>& v, int fallback,
                  std::initializer_list<std::pair<const char*, int>> words)
{
    if (!v)
        return fallback;
    for (const auto& [w, code] : words)
        if (*v == w)
            return code;
    return -1;
}
} // namespace

bool ParseAddCommand(CommandContext& c, std::string& file, CPrinterSettings& s)
{
    std::vector<std::string> extra;
    if (!TakeFileOperand(c, file, extra))
        return false;
    if (!extra.empty())
    {
        c.io.Usage(c.command, "unexpected operand '" + extra[0] + "'");
        return false;
    }
    auto name = c.args.Value("name");
    if (!name || name->empty())
    {
        c.io.Usage(c.command, "--name is required");
        return false;
    }
    auto model = c.args.Value("model").value_or(std::string());
    if (HasControlCharacter(*name) || HasControlCharacter(model))
    {
        c.io.Usage(c.command, "names and models cannot hold control characters");
        return false;
    }

    int kinds =
        c.args.Has("serial") + c.args.Has("parallel") + c.args.Has("network") + c.args.Has("usb");
    if (kinds != 1)
    {
        c.io.Usage(c.command,
                   "give exactly one port: --serial COMn, --parallel LPTn, --network ADDR[:PORT] "
                   "or --usb PATH");
        return false;
    }
    bool lineOptions = c.args.Has("baud") || c.args.Has("data-bits") || c.args.Has("parity") ||
                       c.args.Has("stop-bits") || c.args.Has("flow");
    if (lineOptions && !c.args.Has("serial"))
    {
        c.io.Usage(c.command, "--baud, --data-bits, --parity, --stop-bits and --flow are for "
                              "--serial ports only");
        return false;
    }

    s.name = CString(*name);
    s.model = CString(model);
    std::string portName;
    if (auto v = c.args.Value("serial"))
    {
        if (!NormaliseDeviceName(*v, "COM", portName))
        {
            c.io.Usage(c.command, "--serial takes a name COM1 to COM256, not '" + *v + "'");
            return false;
        }
        s.portClass = "CSerialPort";
        s.baudRate = IntegerOrInvalid(c.args.Value("baud"), 9600);
        s.dataBits = IntegerOrInvalid(c.args.Value("data-bits"), 8);
        s.parity = WordOrInvalid(c.args.Value("parity"), 0, {{"none", 0}, {"odd", 1}, {"even", 2}});
        s.stopBits = WordOrInvalid(c.args.Value("stop-bits"), 0, {{"1", 0}, {"2", 2}});
        s.flowControl = WordOrInvalid(c.args.Value("flow"), 2, {{"xon", 1}, {"hardware", 2}});
    }
    else if (auto v = c.args.Value("parallel"))
    {
        if (!NormaliseDeviceName(*v, "LPT", portName))
        {
            c.io.Usage(c.command, "--parallel takes a name LPT1 to LPT256, not '" + *v + "'");
            return false;
        }
        s.portClass = "CParallelPort";
    }
    else if (auto v = c.args.Value("network"))
    {
        std::string address = *v;
        if (auto colon = address.find(':'); colon != std::string::npos)
        {
            auto port = ParseInteger(address.substr(colon + 1), 1, 65535);
            if (!port || address[colon + 1] == '+')
            {
                c.io.Usage(c.command, "the TCP port in --network must be 1 to 65535");
                return false;
            }
            s.tcpPort = static_cast<DWORD>(*port);
            address.resize(colon);
        }
        if (!ParseDottedIPv4(address))
        {
            c.io.Usage(c.command, "--network takes a dotted IPv4 address such as 10.0.0.20, "
                                  "not '" +
                                      address + "'");
            return false;
        }
        portName = address;
        s.portClass = "CNetworkPort";
    }
    else if (auto v = c.args.Value("usb"))
    {
        if (v->empty() || HasControlCharacter(*v))
        {
            c.io.Usage(c.command, "--usb takes the printer's device path");
            return false;
        }
        portName = *v;
        s.portClass = "CUSBPort";
    }
    s.portName = CString(portName);
    return true;
}

int RunAdd(CommandContext& c)
{
    std::string file;
    CPrinterSettings s;
    if (!ParseAddCommand(c, file, s))
        return eExitUsage;
    const std::string name = s.name.str();
    FleetSession session(c.io, c.lockWait);
    if (!session.Open(file, FleetSession::eCreateIfMissing, true))
        return session.ExitStatus();
    try
    {
        UINT clash = session.Printers().AddPrinter(nullptr, s);
        if (clash)
        {
            session.Fail(name, LoadStringById(clash).str());
            return eExitFailed;
        }
    }
    catch (const CException& e)
    {
        session.Fail(name, e);
        return eExitFailed;
    }
    if (!session.Save())
        return eExitFailed;
    c.io.Say("added " + name + " to " + file);
    return eExitOk;
}

int RunRemove(CommandContext& c)
{
    std::string file;
    std::vector<std::string> names;
    if (!TakeFileOperand(c, file, names))
        return eExitUsage;
    if (names.empty())
    {
        c.io.Usage(c.command, "name at least one printer to remove");
        return eExitUsage;
    }
    FleetSession session(c.io, c.lockWait);
    if (!session.Open(file, FleetSession::eMustExist, true))
        return session.ExitStatus();
    int removed = 0;
    for (CVarkoPrinterData* p : session.Select(names))
    {
        std::string n = p->Name().str();
        try
        {
            session.Printers().DeletePrinter(p);
            ++removed;
            c.io.Say("removed " + n);
        }
        catch (const CException& e)
        {
            session.Fail(n, e);
        }
    }
    if (removed && !session.Save())
        return eExitFailed;
    return session.ExitStatus();
}

} // namespace cli
