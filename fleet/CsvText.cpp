#include "CsvText.h"

#include "Utf8.h"

#include <cstdio>

namespace
{
void AppendHex(std::string& out, unsigned char c)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02x", c);
    out += buf;
}

// The text with every control character as \xHH: C0 and DEL, a C1 control written in
// UTF-8 (C2 80 to C2 9F, both bytes shown), and a byte 80 to 9F outside any UTF-8
// sequence (a C1 control in the 8-bit code page the Windows version writes).
// Everything else is kept as it is.
std::string WithoutControls(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
    {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t n = utf8::SequenceLength(text, i);
        const bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (n > 1 && !c1)
        {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        const std::size_t take = c1 ? 2 : 1;
        for (std::size_t k = 0; k < take; ++k)
        {
            const auto b = static_cast<unsigned char>(text[i + k]);
            if (c1 || b < 0x20 || b == 0x7F || (b >= 0x80 && b < 0xA0))
                AppendHex(out, b);
            else
                out += static_cast<char>(b);
        }
        i += take;
    }
    return out;
}

bool IsPlainNumber(std::string_view text)
{
    std::size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
    bool digits = false, point = false;
    for (; i < text.size(); ++i)
    {
        if (text[i] >= '0' && text[i] <= '9')
            digits = true;
        else if (text[i] == '.' && !point)
            point = true;
        else
            return false;
    }
    return digits;
}

// Spreadsheets evaluate a cell that starts with these as a formula.
bool LooksLikeFormula(std::string_view text)
{
    if (text.empty())
        return false;
    const char c = text.front();
    return (c == '=' || c == '+' || c == '-' || c == '@') && !IsPlainNumber(text);
}
} // namespace

std::string CsvField(std::string_view raw, ECsvUse use)
{
    std::string text = WithoutControls(raw);
    if (use == ECsvUse::eForSpreadsheet && LooksLikeFormula(text))
        text.insert(text.begin(), '\'');
    const bool quote = text.find_first_of(",\"") != std::string::npos ||
                       (!text.empty() && (text.front() == ' ' || text.back() == ' '));
    if (!quote)
        return text;
    std::string out = "\"";
    for (char c : text)
    {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string CsvLine(const std::vector<std::string>& cells, ECsvUse use)
{
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i)
    {
        if (i)
            line += ',';
        line += CsvField(cells[i], use);
    }
    line += '\n';
    return line;
}
