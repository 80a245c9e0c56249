#include "Fleet.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

namespace printersim
{

namespace
{

const char* const DEFAULT_HISTORY =
    "Head history\r\nHead: {head} {unit}\r\nTotal: {total} {unit}\r\n";

// Replies must fit the 1000-byte buffer the library reads them into, with room for the
// numbers that the history placeholders expand to.
constexpr std::size_t MAX_HISTORY = 900;
constexpr std::size_t MAX_NAME = 200;

std::string Trim(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])))
        ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])))
        --e;
    return s.substr(b, e - b);
}

std::vector<std::string> SplitWords(const std::string& s)
{
    std::vector<std::string> words;
    std::istringstream in(s);
    std::string w;
    while (in >> w)
        words.push_back(w);
    return words;
}

bool ParseInt(const std::string& s, long long lo, long long hi, long long& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(s.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool ParseLength(const std::string& s, double& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(s.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(v >= 0) || v > 1e12)
        return false;
    out = v;
    return true;
}

bool ParseKind(const std::string& s, Kind& kind)
{
    if (s == "serial")
        kind = Kind::Serial;
    else if (s == "usb")
        kind = Kind::Usb;
    else if (s == "parallel")
        kind = Kind::Parallel;
    else if (s == "network")
        kind = Kind::Network;
    else
        return false;
    return true;
}

// Applies one key of a printer description; shared by the file and the option form.
std::string ApplyKey(PrinterConfig& p, const std::string& key, const std::string& rawValue)
{
    std::string value;
    if (!UnescapeValue(rawValue, value))
        return "bad escape in value of '" + key + "'";
    long long n = 0;
    if (key == "name")
        p.name = value;
    else if (key == "kind")
    {
        if (!ParseKind(value, p.kind))
            return "kind must be serial, usb, parallel or network";
    }
    else if (key == "model")
        p.model = value;
    else if (key == "ieee1284" || key == "id")
        p.ieee1284 = value;
    else if (key == "serial")
        p.serial = value;
    else if (key == "head")
    {
        if (!ParseLength(value, p.headInches))
            return "head must be a non-negative number of inches";
    }
    else if (key == "total")
    {
        if (!ParseLength(value, p.totalInches))
            return "total must be a non-negative number of inches";
    }
    else if (key == "history")
        p.history = value;
    else if (key == "com" || key == "lpt")
    {
        if (!ParseInt(value, 1, 256, n))
            return key + " must be a number from 1 to 256";
        p.number = static_cast<int>(n);
    }
    else if (key == "link")
        p.link = value;
    else if (key == "address")
        p.address = value;
    else if (key == "port")
    {
        if (!ParseInt(value, 1, 65535, n))
            return "port must be a number from 1 to 65535";
        p.tcpPort = static_cast<int>(n);
    }
    else if (key == "power")
    {
        if (value == "on")
            p.powered = true;
        else if (value == "off")
            p.powered = false;
        else
            return "power must be on or off";
    }
    else if (key == "mode")
    {
        char* end = nullptr;
        long m = std::strtol(value.c_str(), &end, 8);
        if (value.empty() || *end != '\0' || m < 0 || m > 0777)
            return "mode must be octal permission bits, e.g. 0666";
        p.ptyMode = static_cast<int>(m);
    }
    else if (key == "fault")
        return ApplyFault(p.faults, value);
    else if (key == "discovery")
        return ApplyFault(p.faults, "discovery " + value);
    else
        return "unknown key '" + key + "'";
    return "";
}

bool ValidLinkName(const std::string& s)
{
    if (s.empty() || s == "." || s == "..")
        return false;
    for (char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.'))
            return false;
    const std::string suffix = ".ieee1284";
    return !(s.size() >= suffix.size() &&
             s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0);
}

} // namespace

const char* KindName(Kind kind)
{
    switch (kind)
    {
    case Kind::Serial:
        return "serial";
    case Kind::Usb:
        return "usb";
    case Kind::Parallel:
        return "parallel";
    case Kind::Network:
        return "network";
    }
    return "?";
}

const char* DropModeName(DropMode mode)
{
    switch (mode)
    {
    case DropMode::Reset:
        return "reset";
    case DropMode::Keep:
        return "keep";
    case DropMode::Close:
        break;
    }
    return "close";
}

bool IsBidirectional(Kind kind)
{
    return kind == Kind::Serial || kind == Kind::Usb;
}

std::string Faults::Describe() const
{
    std::vector<std::string> parts;
    if (silent)
        parts.push_back("silent");
    if (slowMs > 0)
        parts.push_back("slow " + std::to_string(slowMs));
    if (splitParts > 1)
        parts.push_back("split " + std::to_string(splitParts) + " " + std::to_string(splitGapMs));
    if (dropAfter >= 0)
        parts.push_back("drop " + std::to_string(dropAfter) + " " + DropModeName(dropMode) + " " +
                        std::to_string(dropTimes));
    if (stallAfter >= 0)
        parts.push_back("stall " + std::to_string(stallAfter) + " " + std::to_string(stallMs));
    if (throttleBps > 0)
        parts.push_back("throttle " + std::to_string(throttleBps));
    if (xoffAfter >= 0)
        parts.push_back("xoff " + std::to_string(xoffAfter) + " " + std::to_string(xoffMs));
    static const char* const modes[] = {"normal", "none",  "dup",   "short",
                                        "long",   "nonul", "badsig"};
    if (discovery != DiscoveryMode::Normal)
    {
        std::string d = std::string("discovery ") + modes[static_cast<int>(discovery)];
        if (discovery == DiscoveryMode::Short || discovery == DiscoveryMode::Long)
            d += " " + std::to_string(discoveryLength);
        parts.push_back(d);
    }
    if (!discoveryClaim.empty())
        parts.push_back("discovery claim " + discoveryClaim);
    if (tarpit)
        parts.push_back("tarpit");
    std::string out;
    for (const auto& s : parts)
        out += (out.empty() ? "" : "; ") + s;
    return out;
}

std::string ApplyFault(Faults& f, const std::string& text)
{
    std::vector<std::string> w = SplitWords(text);
    if (w.empty())
        return "empty fault";
    const std::string& mode = w[0];
    auto arg = [&](std::size_t i, long long lo, long long hi, long long dflt, long long& out)
    {
        if (i >= w.size())
        {
            out = dflt;
            return dflt >= lo;
        }
        return ParseInt(w[i], lo, hi, out);
    };
    long long a = 0, b = 0, c = 0;
    const long long BIG = 1LL << 40;
    if (mode == "clear" || mode == "none")
        f = Faults{};
    else if (mode == "silent")
    {
        if (w.size() > 1 && w[1] == "off")
            f.silent = false;
        else
            f.silent = true;
    }
    else if (mode == "slow")
    {
        if (!arg(1, 0, 600000, -1, a))
            return "usage: slow MS";
        f.slowMs = static_cast<int>(a);
    }
    else if (mode == "split")
    {
        if (!arg(1, 0, 1000, -1, a) || !arg(2, 0, 600000, 100, b))
            return "usage: split PARTS [GAP_MS]";
        f.splitParts = static_cast<int>(a);
        f.splitGapMs = static_cast<int>(b);
    }
    else if (mode == "drop")
    {
        if (w.size() > 1 && w[1] == "off")
        {
            f.dropAfter = -1;
            return "";
        }
        const char* usage = "usage: drop BYTES [close|reset|keep] [TIMES]";
        if (!arg(1, 0, BIG, -1, a))
            return usage;
        f.dropAfter = a;
        f.dropMode = DropMode::Close;
        if (w.size() > 2)
        {
            if (w[2] == "reset")
                f.dropMode = DropMode::Reset;
            else if (w[2] == "keep")
                f.dropMode = DropMode::Keep;
            else if (w[2] != "close")
                return usage;
        }
        if (!arg(3, 0, 1000000, 0, c))
            return usage;
        f.dropTimes = static_cast<int>(c);
    }
    else if (mode == "stall")
    {
        if (w.size() > 1 && w[1] == "off")
        {
            f.stallAfter = -1;
            return "";
        }
        if (!arg(1, 0, BIG, -1, a) || !arg(2, 1, 600000, -1, b))
            return "usage: stall AFTER_BYTES MS";
        f.stallAfter = a;
        f.stallMs = static_cast<int>(b);
    }
    else if (mode == "xoff")
    {
        if (w.size() > 1 && w[1] == "off")
        {
            f.xoffAfter = -1;
            return "";
        }
        if (!arg(1, 0, BIG, -1, a) || !arg(2, 1, 600000, -1, b))
            return "usage: xoff AFTER_BYTES MS";
        f.xoffAfter = a;
        f.xoffMs = static_cast<int>(b);
    }
    else if (mode == "throttle")
    {
        if (!arg(1, 0, BIG, -1, a))
            return "usage: throttle BYTES_PER_SECOND (0 = off)";
        f.throttleBps = a;
    }
    else if (mode == "discovery")
    {
        if (w.size() < 2)
            return "usage: discovery normal|none|dup|short [LEN]|long [LEN]|nonul|badsig";
        const std::string& m = w[1];
        long long len = 0;
        if (m == "normal")
            f.discovery = DiscoveryMode::Normal;
        else if (m == "none")
            f.discovery = DiscoveryMode::None;
        else if (m == "dup")
            f.discovery = DiscoveryMode::Duplicate;
        else if (m == "short")
        {
            if (!arg(2, 1, 431, 60, len))
                return "discovery short: length must be 1 to 431";
            f.discovery = DiscoveryMode::Short;
            f.discoveryLength = static_cast<int>(len);
        }
        else if (m == "long")
        {
            if (!arg(2, 433, 4096, 600, len))
                return "discovery long: length must be 433 to 4096";
            f.discovery = DiscoveryMode::Long;
            f.discoveryLength = static_cast<int>(len);
        }
        else if (m == "nonul")
            f.discovery = DiscoveryMode::NoNul;
        else if (m == "badsig")
            f.discovery = DiscoveryMode::BadSignature;
        else if (m == "claim")
        {
            // Any IPv4 address: broadcast, multicast or another machine's, as a forged
            // answer would carry. "claim off" answers with the printer's own again.
            in_addr parsed{};
            if (w.size() > 2 && w[2] == "off")
                f.discoveryClaim.clear();
            else if (w.size() > 2 && ::inet_pton(AF_INET, w[2].c_str(), &parsed) == 1)
                f.discoveryClaim = w[2];
            else
                return "usage: discovery claim IPV4_ADDRESS|off";
        }
        else
            return "unknown discovery mode '" + m + "'";
    }
    else if (mode == "tarpit")
        f.tarpit = !(w.size() > 1 && w[1] == "off");
    else
        return "unknown fault '" + mode + "'";
    return "";
}

bool UnescapeValue(const std::string& in, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i)
    {
        char c = in[i];
        if (c != '\\')
        {
            out += c;
            continue;
        }
        if (++i >= in.size())
            return false;
        switch (in[i])
        {
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        case 't':
            out += '\t';
            break;
        case '\\':
        case '"':
        case ',':
        case '#':
        case ' ':
            out += in[i];
            break;
        case 'x':
        {
            if (i + 2 >= in.size())
                return false;
            auto hex = [](char h) -> int
            {
                if (h >= '0' && h <= '9')
                    return h - '0';
                h = static_cast<char>(std::tolower(static_cast<unsigned char>(h)));
                if (h >= 'a' && h <= 'f')
                    return h - 'a' + 10;
                return -1;
            };
            int hi = hex(in[i + 1]), lo = hex(in[i + 2]);
            if (hi < 0 || lo < 0)
                return false;
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

std::string EscapeValue(const std::string& in)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : in)
    {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\' || c == '"' || c == ',')
        {
            out += '\\';
            out += static_cast<char>(c);
        }
        else if (c < 0x20 || c >= 0x7F)
        {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
        else
            out += static_cast<char>(c);
    }
    return out;
}

std::string ParseFleet(const std::string& text, Fleet& fleet)
{
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    PrinterConfig* current = nullptr;
    while (std::getline(in, line))
    {
        ++lineNo;
        auto where = [&] { return "line " + std::to_string(lineNo) + ": "; };
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#' || t[0] == ';')
            continue;
        if (t.front() == '[')
        {
            if (t.back() != ']' || t.size() < 3)
                return where() + "a section header is [printer name]";
            fleet.printers.emplace_back();
            current = &fleet.printers.back();
            std::string name;
            if (!UnescapeValue(Trim(t.substr(1, t.size() - 2)), name))
                return where() + "bad escape in printer name";
            current->name = name;
            continue;
        }
        std::size_t eq = t.find('=');
        if (eq == std::string::npos)
            return where() + "expected key = value";
        if (!current)
            return where() + "key outside a [printer] section";
        std::string key = Trim(t.substr(0, eq));
        std::string value = Trim(t.substr(eq + 1));
        if (key == "name")
            return where() + "the name is the section header";
        std::string error = ApplyKey(*current, key, value);
        if (!error.empty())
            return where() + error;
    }
    return "";
}

std::string ParsePrinterSpec(const std::string& text, Fleet& fleet)
{
    PrinterConfig p;
    std::size_t i = 0;
    while (i <= text.size())
    {
        // Split at commas that are not escaped; the escape itself stays for ApplyKey.
        std::size_t j = i;
        while (j < text.size() && text[j] != ',')
            j += (text[j] == '\\' && j + 1 < text.size()) ? 2 : 1;
        std::string item = Trim(text.substr(i, j - i));
        i = j + 1;
        if (item.empty())
            continue;
        std::size_t eq = item.find('=');
        if (eq == std::string::npos)
            return "--printer: expected key=value, got '" + item + "'";
        std::string error = ApplyKey(p, Trim(item.substr(0, eq)), Trim(item.substr(eq + 1)));
        if (!error.empty())
            return "--printer: " + error;
    }
    if (p.name.empty())
        return "--printer: name= is required";
    fleet.printers.push_back(std::move(p));
    return "";
}

bool ParseIPv4(const std::string& dotted, std::uint32_t& hostOrder)
{
    std::uint32_t value = 0;
    int parts = 0;
    std::size_t i = 0;
    while (parts < 4)
    {
        std::size_t start = i;
        unsigned octet = 0;
        while (i < dotted.size() && std::isdigit(static_cast<unsigned char>(dotted[i])) &&
               i - start < 3)
            octet = octet * 10 + static_cast<unsigned>(dotted[i++] - '0');
        if (i == start || octet > 255)
            return false;
        value = (value << 8) | octet;
        ++parts;
        if (parts < 4)
        {
            if (i >= dotted.size() || dotted[i] != '.')
                return false;
            ++i;
        }
    }
    if (i != dotted.size())
        return false;
    hostOrder = value;
    return true;
}

bool IsLoopbackAddress(const std::string& dotted)
{
    std::uint32_t a = 0;
    return ParseIPv4(dotted, a) && (a >> 24) == 127;
}

std::string FinishFleet(Fleet& fleet, bool allowNonLoopback)
{
    std::set<std::string> names, links, addresses;
    std::set<int> coms, lpts;
    for (const auto& p : fleet.printers)
    {
        if (p.kind == Kind::Serial && p.number)
            coms.insert(p.number);
        if (p.kind == Kind::Parallel && p.number)
            lpts.insert(p.number);
        if (p.kind == Kind::Usb && !p.link.empty())
            links.insert(p.link);
    }
    int nextCom = 1, nextLpt = 1, nextLink = 0, nextHost = 2, index = 0;
    for (auto& p : fleet.printers)
    {
        ++index;
        const std::string who = "printer '" + p.name + "': ";
        if (p.name.empty() || p.name.size() > MAX_NAME)
            return who + "a name of 1 to 200 characters is required";
        for (char c : p.name)
            if (c == '\t' || c == '\n' || c == '\r' || c == '\0')
                return who + "the name must not hold tabs, line ends or NUL bytes";
        if (!names.insert(p.name).second)
            return who + "the name is used twice";
        if (p.model.empty())
            p.model = "RX400";
        if (p.serial.empty())
        {
            char buf[16];
            std::snprintf(buf, sizeof buf, "SIM%04d", index);
            p.serial = buf;
        }
        if (p.history.empty())
            p.history = DEFAULT_HISTORY;
        if (p.history.size() > MAX_HISTORY)
            return who + "the head history must stay under 900 bytes";
        switch (p.kind)
        {
        case Kind::Serial:
            if (!p.number)
            {
                while (coms.count(nextCom))
                    ++nextCom;
                p.number = nextCom;
                coms.insert(nextCom);
            }
            else if (std::count_if(fleet.printers.begin(), fleet.printers.end(),
                                   [&](const PrinterConfig& o)
                                   { return o.kind == Kind::Serial && o.number == p.number; }) > 1)
                return who + "COM" + std::to_string(p.number) + " is used twice";
            break;
        case Kind::Parallel:
            if (!p.number)
            {
                while (lpts.count(nextLpt))
                    ++nextLpt;
                p.number = nextLpt;
                lpts.insert(nextLpt);
            }
            else if (std::count_if(fleet.printers.begin(), fleet.printers.end(),
                                   [&](const PrinterConfig& o) {
                                       return o.kind == Kind::Parallel && o.number == p.number;
                                   }) > 1)
                return who + "LPT" + std::to_string(p.number) + " is used twice";
            break;
        case Kind::Usb:
            if (p.link.empty())
            {
                while (links.count("lp" + std::to_string(nextLink)))
                    ++nextLink;
                p.link = "lp" + std::to_string(nextLink);
                links.insert(p.link);
            }
            else if (std::count_if(fleet.printers.begin(), fleet.printers.end(),
                                   [&](const PrinterConfig& o)
                                   { return o.kind == Kind::Usb && o.link == p.link; }) > 1)
                return who + "the link " + p.link + " is used twice";
            if (!ValidLinkName(p.link))
                return who + "a link name holds letters, digits, '.', '_' or '-' only";
            if (p.ieee1284.empty())
                p.ieee1284 = "MFG:Varko;MDL:" + p.model + ";CMD:RLX;CLS:PRINTER;";
            // The kernel clamps a device ID to 1023 bytes, length bytes included.
            if (p.ieee1284.size() > 1021)
                return who + "the IEEE 1284 ID must stay under 1022 bytes";
            break;
        case Kind::Network:
        {
            if (p.address.empty())
            {
                auto taken = [&](const std::string& a)
                {
                    return std::any_of(fleet.printers.begin(), fleet.printers.end(),
                                       [&](const PrinterConfig& o) { return o.address == a; });
                };
                while (taken("127.0.0." + std::to_string(nextHost)))
                    ++nextHost;
                p.address = "127.0.0." + std::to_string(nextHost++);
            }
            std::uint32_t a = 0;
            if (!ParseIPv4(p.address, a))
                return who + "address must be dotted IPv4";
            if (!allowNonLoopback && (a >> 24) != 127)
                return who + "only loopback addresses (127.x.x.x) are allowed without "
                             "--allow-non-loopback";
            if (a == 0x7F000001)
                return who + "127.0.0.1 is where the requester's discovery socket gets its "
                             "answers; give printers 127.0.0.2 and up";
            if (!addresses.insert(p.address + ":" + std::to_string(p.tcpPort)).second)
                return who + p.address + ":" + std::to_string(p.tcpPort) + " is used twice";
            break;
        }
        }
    }
    return "";
}

} // namespace printersim
