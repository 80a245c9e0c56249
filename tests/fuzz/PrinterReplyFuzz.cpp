// Replies of printers to the three queries (serial number, odometers, head history),
// taken through the printer record's own exchange, and what the command-line tool makes
// of such text for a terminal, a CSV file and a JSON reader. The reply is the input,
// as one read hands it over (at most 1000 bytes, any bytes). The serial number sent by
// "set serial number" is the start of the input.
//
// What must hold:
// - the serial number is the reply's text up to its first line end (empty without
//   one), the odometers are -1 unless their "usage = " marker is there and otherwise
//   the number after it (commas removed, clamped to 32 bits), the head history is the
//   reply's text;
// - the set-serial command carries the text escaped so that a printer's unescaping
//   gives it back, and refuses one that escaped exceeds 64 characters;
// - the tool's escapes never let a control character through, give valid UTF-8, and
//   a JSON string that parses back.
#include "CSerialPort.h"
#include "CVarkoPrinterData.h"
#include "CVarkoPrinterException.h"
#include "CommandHelpers.h"
#include "CsvText.h"
#include "FuzzSupport.h"
#include "Json.h"
#include "LibraryStrings.h"
#include "TextEscaping.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <string>

namespace
{
// A serial port that talks to no device: every read hands over the reply.
class ReplyPort : public CSerialPort
{
public:
    std::string reply;
    std::string written;
    void Open() override { m_open = true; }
    void Close() override { m_open = false; }
    bool IsOpen() const override { return m_open; }
    void Write(const void* buffer, DWORD count, DWORD& taken) override
    {
        FUZZ_REQUIRE(m_open);
        written.append(static_cast<const char*>(buffer), count);
        taken = count;
    }
    void Read(void* buffer, DWORD capacity, DWORD& received) override
    {
        FUZZ_REQUIRE(m_open);
        received = static_cast<DWORD>(std::min<std::size_t>(capacity, reply.size()));
        std::memcpy(buffer, reply.data(), received);
    }

private:
    bool m_open = false;
};

class Printer : public CVarkoPrinterData
{
public:
    explicit Printer(CPortBase* port) { m_pPort = port; }
    ~Printer() override { m_pPort = nullptr; }
};

// atoi as the odometers need it, written independently: blanks, sign, digits, clamped.
int ReferenceNumber(const std::string& text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long v = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        v = std::min<long long>(v * 10 + (text[i] - '0'), 1LL << 40);
    v = negative ? -v : v;
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

std::string WithoutCommas(std::string s)
{
    s.erase(std::remove(s.begin(), s.end(), ','), s.end());
    return s;
}

void ReferenceOdometers(const std::string& text, int& first, int& second)
{
    static const std::string marker = "usage = ";
    first = second = -1;
    auto at = text.find(marker);
    if (at == std::string::npos)
        return;
    std::string kept = WithoutCommas(text.substr(at + marker.size()));
    first = ReferenceNumber(kept);
    at = kept.find(marker);
    if (at == std::string::npos)
        return;
    second = ReferenceNumber(WithoutCommas(kept.substr(at + marker.size())));
}

// Valid UTF-8 without C0 or C1 control characters (line feeds allowed where asked).
bool CleanUtf8(const std::string& s, bool allowLineFeed)
{
    for (std::size_t i = 0; i < s.size();)
    {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80)
        {
            if ((c < 0x20 && !(allowLineFeed && c == '\n')) || c == 0x7F)
                return false;
            ++i;
            continue;
        }
        std::size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
        if (n == 0 || c > 0xF4 || i + n > s.size())
            return false;
        unsigned cp = c & (0xFF >> (n + 1));
        for (std::size_t k = 1; k < n; ++k)
        {
            unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0x80 && cp < 0xA0))
            return false;
        i += n;
    }
    return true;
}

void CheckToolEscapes(const std::string& text)
{
    FUZZ_REQUIRE(CleanUtf8(cli::TerminalSafe(text), false));
    FUZZ_REQUIRE(CleanUtf8(cli::SafeReport(text), true));
    const json::Value v = json::Parse(json::Quote(text));
    FUZZ_REQUIRE(v.GetType() == json::Type::String);
    for (ECsvUse use : {ECsvUse::eForPrograms, ECsvUse::eForSpreadsheet})
    {
        const std::string csv = CsvField(text, use);
        // No control character in the file, whatever the text held.
        for (char ch : csv)
        {
            const auto c = static_cast<unsigned char>(ch);
            FUZZ_REQUIRE(c >= 0x20 && c != 0x7F);
        }
        std::string back = csv;
        if (!csv.empty() && csv.front() == '"')
        {
            // Quoted: the field unquotes, quotes undoubled.
            FUZZ_REQUIRE(csv.size() >= 2 && csv.back() == '"');
            back.clear();
            for (std::size_t i = 1; i + 1 < csv.size(); ++i)
            {
                back += csv[i];
                if (csv[i] == '"')
                {
                    FUZZ_REQUIRE(csv[i + 1] == '"');
                    ++i;
                }
            }
        }
        const bool printable =
            std::all_of(text.begin(), text.end(), [](char ch) { return ch >= 0x20 && ch < 0x7F; });
        if (use == ECsvUse::eForPrograms)
        {
            // Printable text is kept exactly; nothing else is lost either.
            if (printable)
                FUZZ_REQUIRE(back == text);
            FUZZ_REQUIRE(back.size() >= text.size());
        }
        else if (!back.empty() && std::strchr("=+-@", back.front()))
        {
            // What still starts like a formula is a plain number.
            const std::size_t digits = back.find_first_not_of("+-");
            FUZZ_REQUIRE(digits == 1 &&
                         back.find_first_not_of("0123456789.", 1) == std::string::npos);
        }
    }
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    RegisterLibraryStrings();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ReplyPort port;
    Printer printer(&port);
    port.reply.assign(reinterpret_cast<const char*>(data), size);
    // The record sees at most one buffer's worth, as text up to its first 0 byte.
    std::string seen = port.reply.substr(0, CVarkoPrinterData::REPLY_BUFFER_SIZE);
    seen = seen.substr(0, seen.find('\0'));

    const std::string serial = printer.SerialNumber().str();
    auto lineEnd = seen.find_first_of("\r\n");
    FUZZ_REQUIRE(serial ==
                 (lineEnd == std::string::npos ? std::string() : seen.substr(0, lineEnd)));

    for (EDisplayUnits units : {eUnitsInches, eUnitsMillimeters})
    {
        int first = 0, second = 0, wantFirst = 0, wantSecond = 0;
        printer.Odometers(first, second, units);
        ReferenceOdometers(seen, wantFirst, wantSecond);
        if (port.reply.empty())
            wantFirst = wantSecond = -1;
        FUZZ_REQUIRE(first == wantFirst && second == wantSecond);
        FUZZ_REQUIRE(printer.HeadHistory(units).str() == seen);
    }

    // The start of the input as a serial number to store.
    std::string text = port.reply.substr(0, std::min<std::size_t>(size, 80));
    text = text.substr(0, text.find('\0'));
    port.written.clear();
    std::string escaped = CVarkoPrinterData::EscapeSerialNumber(CString(text)).str();
    try
    {
        printer.SetSerialNumber(CString(text));
        FUZZ_REQUIRE(escaped.size() <= CVarkoPrinterData::MAX_SERIAL_SIZE);
        FUZZ_REQUIRE(port.written == "\nheS\"" + escaped + "\"\r\n");
        // A printer takes the byte after a backslash literally.
        std::string unescaped;
        for (std::size_t i = 0; i < escaped.size(); ++i)
        {
            FUZZ_REQUIRE(escaped[i] != '"'); // every quote comes after a backslash
            if (escaped[i] == '\\')
                ++i;
            FUZZ_REQUIRE(i < escaped.size());
            unescaped += escaped[i];
        }
        FUZZ_REQUIRE(unescaped == text);
    }
    catch (const CVarkoPrinterException& e)
    {
        FUZZ_REQUIRE(e.GetErrorCode() == CVarkoPrinterException::eInvalidParameter);
        FUZZ_REQUIRE(escaped.size() > CVarkoPrinterData::MAX_SERIAL_SIZE);
        FUZZ_REQUIRE(port.written.empty());
    }

    CheckToolEscapes(port.reply);
    return 0;
}
