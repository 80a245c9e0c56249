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
