#include "SettingsFileFormat.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <strings.h>

namespace
{
int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at s[i] == '"'; leaves i after the closing quote.
bool parseQuoted(const std::string& s, std::size_t& i, std::string& out)
{
    if (i >= s.size() || s[i] != '"')
        return false;
    out.clear();
    for (++i; i < s.size(); ++i)
    {
        char c = s[i];
        if (c == '"')
        {
            ++i;
            return true;
        }
        if (c != '\\')
        {
            out += c;
            continue;
        }
        if (++i >= s.size())
            return false;
        char e = s[i];
        if (e == 'x' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0)
        {
            out += static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]));
            i += 2;
        }
        else
            out += e; // \\ and \"
    }
    return false;
}

std::string quote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text)
    {
        if (c == '"' || c == '\\')
        {
            out += '\\';
            out += static_cast<char>(c);
        }
        else if (c < 0x20 || c == 0x7F)
        {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
        else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

bool parseHexList(const std::string& s, std::vector<BYTE>& out)
{
    out.clear();
    std::size_t i = 0;
    while (i < s.size())
    {
        while (i < s.size() && (s[i] == ',' || s[i] == ' '))
            ++i;
        if (i >= s.size())
            break;
        if (i + 1 >= s.size() || hexDigit(s[i]) < 0 || hexDigit(s[i + 1]) < 0)
            return false;
        out.push_back(static_cast<BYTE>(hexDigit(s[i]) * 16 + hexDigit(s[i + 1])));
        i += 2;
    }
    return true;
}

// The name at the start of a line, "Name"= or @=; i is left on the '='.
bool parseName(const std::string& line, std::size_t& i, std::string& name)
{
    i = 0;
    if (!line.empty() && line[0] == '@')
    {
        name.clear();
        i = 1;
    }
    else if (!parseQuoted(line, i, name))
        return false;
    return i < line.size() && line[i] == '=';
}

bool parseLine(const std::string& line, std::string& name, SettingsValue& value)
{
    std::size_t i = 0;
    if (line.empty() || line[0] == ';' || line[0] == '#' || !parseName(line, i, name))
        return false;
    std::string rest = line.substr(i + 1);
    if (!rest.empty() && rest[0] == '"')
    {
        std::size_t j = 0;
        std::string text;
        if (!parseQuoted(rest, j, text))
            return false;
        value.type = REG_SZ;
        value.data.assign(text.begin(), text.end());
        return true;
    }
    if (rest.rfind("dword:", 0) == 0)
    {
        std::string digits = rest.substr(6);
        if (digits.empty() || digits.size() > 8)
            return false;
        DWORD v = 0;
        for (char c : digits)
        {
            if (hexDigit(c) < 0)
                return false;
            v = v * 16 + static_cast<DWORD>(hexDigit(c));
        }
        value.type = REG_DWORD;
        value.data.resize(4);
        std::memcpy(value.data.data(), &v, 4); // little-endian, as the registry keeps it
        return true;
    }
    if (rest.rfind("hex:", 0) == 0)
    {
        value.type = REG_BINARY;
        return parseHexList(rest.substr(4), value.data);
    }
    if (rest.rfind("hex(", 0) == 0)
    {
        std::size_t close = rest.find("):");
        if (close == std::string::npos)
            return false;
        char* end = nullptr;
        unsigned long type = std::strtoul(rest.c_str() + 4, &end, 16);
        if (end != rest.c_str() + close)
            return false;
        value.type = static_cast<DWORD>(type);
        return parseHexList(rest.substr(close + 2), value.data);
    }
    return false;
}

std::string formatLine(const std::string& name, const SettingsValue& value)
{
    std::string out = name.empty() ? std::string("@") : quote(name);
    out += '=';
    if (value.type == REG_SZ)
        return out + quote(std::string(value.data.begin(), value.data.end()));
    if (value.type == REG_DWORD && value.data.size() == 4)
    {
        DWORD v;
        std::memcpy(&v, value.data.data(), 4);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        return out + buf;
    }
    if (value.type == REG_BINARY)
        out += "hex:";
    else
    {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
        out += buf;
    }
    for (std::size_t k = 0; k < value.data.size(); ++k)
    {
        char buf[4];
        std::snprintf(buf, sizeof buf, k ? ",%02x" : "%02x", value.data[k]);
        out += buf;
    }
    return out;
}

bool sameName(const std::string& a, const std::string& b)
{
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}
} // namespace

SettingsValueFile SettingsValueFile::Parse(std::string_view text)
{
    SettingsValueFile file;
    std::vector<Line>& lines = file.m_lines;
    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = text.find('\n', start);
        std::string line(text.substr(start, end == std::string_view::npos ? end : end - start));
        start = end == std::string_view::npos ? text.size() : end + 1;
        Line l;
        // Only the one carriage return that ends the line is left out of its reading;
        // the raw line keeps all of them.
        l.raw = line;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        l.parsed = parseLine(line, l.name, l.value);
        std::size_t at = 0;
        l.named = l.parsed || parseName(line, at, l.name);
        if (l.parsed)
        {
            auto earlier =
                std::find_if(lines.begin(), lines.end(),
                             [&](const Line& v) { return v.parsed && sameName(v.name, l.name); });
            if (earlier != lines.end())
            {
                earlier->value = l.value;
                continue;
            }
        }
        lines.push_back(std::move(l));
    }
    return file;
}

std::string SettingsValueFile::Format() const
{
    std::string text;
    for (const Line& l : m_lines)
        text += (l.parsed ? formatLine(l.name, l.value) : l.raw) + "\n";
    return text;
}

const SettingsValue* SettingsValueFile::Find(const std::string& name) const
{
    for (const Line& line : m_lines)
        if (line.parsed && sameName(line.name, name))
            return &line.value;
    return nullptr;
}

void SettingsValueFile::Set(const std::string& name, SettingsValue value)
{
    Line line;
    line.name = name;
    line.named = line.parsed = true;
    line.value = std::move(value);
    auto first = std::find_if(m_lines.begin(), m_lines.end(),
                              [&](const Line& l) { return l.named && sameName(l.name, name); });
    if (first == m_lines.end())
    {
        m_lines.push_back(std::move(line));
        return;
    }
    line.name = first->name;
    *first = std::move(line);
    m_lines.erase(std::remove_if(std::next(first), m_lines.end(),
                                 [&](const Line& l) { return l.named && sameName(l.name, name); }),
                  m_lines.end());
}

bool SettingsValueFile::Remove(const std::string& name)
{
    auto gone = std::remove_if(m_lines.begin(), m_lines.end(),
                               [&](const Line& l) { return l.named && sameName(l.name, name); });
    if (gone == m_lines.end())
        return false;
    m_lines.erase(gone, m_lines.end());
    return true;
}
