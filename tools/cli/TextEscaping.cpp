#include "TextEscaping.h"

#include "Utf8.h"

#include <cstdio>

namespace cli
{
namespace
{
std::string Hex2(unsigned char c, const char* prefix)
{
    char buf[12];
    std::snprintf(buf, sizeof buf, "%s%02x", prefix, c);
    return buf;
}

// The code point of the UTF-8 sequence of n bytes at text[i] (well formed).
unsigned CodePoint(std::string_view text, std::size_t i, std::size_t n)
{
    unsigned c = static_cast<unsigned char>(text[i]);
    if (n == 1)
        return c;
    unsigned cp = c & (0xFFu >> (n + 1));
    for (std::size_t k = 1; k < n; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
    return cp;
}

bool IsBidiControl(unsigned cp)
{
    return (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E ||
           cp == 0x200F || cp == 0x061C;
}
} // namespace

std::string TerminalSafe(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
    {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n' || c == '\r' || c == '\t')
        {
            out += ' ';
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F)
        {
            out += Hex2(c, "\\x");
            ++i;
            continue;
        }
        std::size_t n = utf8::SequenceLength(text, i);
        // C1 controls (U+0080 to U+009F) act as escape introducers on some terminals.
        bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
        if (n != 0 && !c1)
        {
            if (unsigned cp = CodePoint(text, i, n); IsBidiControl(cp))
            {
                char buf[12];
                std::snprintf(buf, sizeof buf, "\\u%04x", cp);
                out += buf;
            }
            else
                out.append(text.substr(i, n));
            i += n;
            continue;
        }
        if (n == 0 && c >= 0xA0)
        {
            // An 8-bit text from the Windows side: show the Latin-1 character it means.
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
            ++i;
            continue;
        }
        for (std::size_t k = 0; k < (n ? n : 1); ++k)
            out += Hex2(static_cast<unsigned char>(text[i + k]), "\\x");
        i += n ? n : 1;
    }
    return out;
}

std::string OneLine(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
    {
        if (c == '\n' || c == '\r')
        {
            // The time-out text puts a blank before each line break already.
            if (!out.empty() && out.back() != ' ')
                out += ' ';
            continue;
        }
        out += c;
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

} // namespace cli
