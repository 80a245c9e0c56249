#include "TextEscaping.h"

#include <cstdio>

namespace cli
{
namespace
{
// Length of a well-formed UTF-8 sequence at text[i], or 0 when the bytes there are not
// one (overlong forms, surrogates and values above U+10FFFF included).
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i)
{
    auto b = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = b(i);
    std::size_t n;
    unsigned cp;
    if (c < 0x80)
        return 1;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4, cp = c & 0x07;
    else
        return 0;
    if (i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
    {
        if ((b(i + k) & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (b(i + k) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return n;
}

std::string Hex2(unsigned char c, const char* prefix)
{
    char buf[12];
    std::snprintf(buf, sizeof buf, "%s%02x", prefix, c);
    return buf;
}
} // namespace

std::string JsonQuote(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size();)
    {
        unsigned char c = static_cast<unsigned char>(text[i]);
        switch (c)
        {
        case '"':
            out += "\\\"";
            ++i;
            continue;
        case '\\':
            out += "\\\\";
            ++i;
            continue;
        case '\n':
            out += "\\n";
            ++i;
            continue;
        case '\r':
            out += "\\r";
            ++i;
            continue;
        case '\t':
            out += "\\t";
            ++i;
            continue;
        case '\b':
            out += "\\b";
            ++i;
            continue;
        case '\f':
            out += "\\f";
            ++i;
            continue;
        default:
            break;
        }
        if (c < 0x20 || c == 0x7F)
        {
            out += Hex2(c, "\\u00");
            ++i;
            continue;
        }
        std::size_t n = Utf8SequenceLength(text, i);
        if (n == 0)
        {
            out += Hex2(c, "\\u00");
            ++i;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    out += '"';
    return out;
}

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
        std::size_t n = Utf8SequenceLength(text, i);
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
