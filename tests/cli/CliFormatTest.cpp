// Output formatting of the command-line tool: what printers and the network hand us
// must come out as valid JSON, as CSV a spreadsheet reads back cell for cell, and as
// terminal text that cannot carry escape sequences.
#include "CsvReader.h"
#include "CsvText.h"
#include "Json.h"
#include "MetricsText.h"
#include "Table.h"
#include "TextEscaping.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace cli;

namespace
{
bool IsValidUtf8(const std::string& s)
{
    for (std::size_t i = 0; i < s.size();)
    {
        unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += n;
    }
    return true;
}
} // namespace

TEST(JsonQuote, HostileBytesRoundTripThroughAStrictParser)
{
    const std::string hostile = std::string("a\"b\\c\nd\re\tf\x01g\x1b[31mh\x7f", 20) + "\0z";
    std::string quoted = json::Quote(std::string(hostile.data(), hostile.size()));
    ASSERT_TRUE(IsValidUtf8(quoted));
    EXPECT_EQ(quoted.find('\x1b'), std::string::npos);
    EXPECT_EQ(json::Parse(quoted).Str(), std::string(hostile.data(), hostile.size()));
}

TEST(JsonQuote, KeepsUtf8AndReadsOtherHighBytesAsLatin1)
{
    EXPECT_EQ(json::Quote("Caf\xc3\xa9"), "\"Caf\xc3\xa9\"");
    // A name stored by the Windows version in its 8-bit code page.
    std::string q = json::Quote("Caf\xe9");
    EXPECT_TRUE(IsValidUtf8(q));
    EXPECT_EQ(json::Parse(q).Str(), "Caf\xc3\xa9");
    // Overlong and surrogate forms are not passed through as if they were UTF-8.
    EXPECT_TRUE(IsValidUtf8(json::Quote("\xc0\xaf")));
    EXPECT_EQ(json::Quote("\xed\xa0\x80").find('\xed'), std::string::npos);
    // A sequence cut off at the end.
    EXPECT_TRUE(IsValidUtf8(json::Quote("ab\xe2\x82")));
}

TEST(JsonWriter, NestedOutputParsesBackWithTypes)
{
    json::Writer j;
    j.BeginObject();
    j.Member("units", "mm");
    j.Key("printers");
    j.BeginArray();
    for (int i = 0; i < 2; ++i)
    {
        j.BeginObject();
        j.Member("name", i ? "B,\"2\"" : "A");
        j.Key("total");
        j.OptionalNumber(i ? std::optional<long long>() : 12345678901LL);
        j.Member("ok", i == 0);
        j.EndObject();
    }
    j.EndArray();
    j.Key("empty");
    j.BeginArray();
    j.EndArray();
    j.EndObject();
    auto doc = json::Parse(j.Text());
    EXPECT_EQ(doc["units"].Str(), "mm");
    ASSERT_EQ(doc["printers"].Size(), 2u);
    EXPECT_EQ(doc["printers"][0]["total"].Num(), 12345678901.0);
    EXPECT_TRUE(doc["printers"][1]["total"].IsNull());
    EXPECT_EQ(doc["printers"][1]["name"].Str(), "B,\"2\"");
    EXPECT_FALSE(doc["printers"][1]["ok"].Bool());
    EXPECT_TRUE(doc["empty"].Items().empty());
    EXPECT_EQ(j.Text().back(), '\n');
}

TEST(Table, CsvCellsReadBackExactly)
{
    Table t({"Printer Name", "Serial Number"});
    t.AddRow({"Lobby, east", "say \"hi\""});
    t.AddRow({"two words", " padded "});
    t.AddRow({"plain"}); // a short row gets empty cells
    auto rows = ReadCsv(t.RenderCsv());
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Printer Name", "Serial Number"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"Lobby, east", "say \"hi\""}));
    EXPECT_EQ(rows[2], (std::vector<std::string>{"two words", " padded "}));
    EXPECT_EQ(rows[3], (std::vector<std::string>{"plain", ""}));
}

// A program reads the CSV, so the text stays as it came, except that no control
// character reaches the file raw (a spreadsheet or a terminal showing the file would act
// on it); formulas are the window's export's concern.
TEST(Table, CsvCarriesNoRawControlCharacters)
{
    Table t({"Printer Name", "Serial Number"});
    t.AddRow({"evil\x1b]0;pwned\x07", "two\r\nlines\x7f"});
    t.AddRow({"=HYPERLINK(\"http://x\")", "\xc2\x9b"
                                          "c1 \x9b"});
    const std::string csv = t.RenderCsv();
    for (std::size_t i = 0; i < csv.size(); ++i)
    {
        unsigned char c = static_cast<unsigned char>(csv[i]);
        EXPECT_FALSE((c < 0x20 && c != '\n') || c == 0x7f) << "byte " << i << " of " << csv;
    }
    EXPECT_EQ(csv.find("\xc2\x9b"), std::string::npos);
    auto rows = ReadCsv(csv);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1],
              (std::vector<std::string>{"evil\\x1b]0;pwned\\x07", "two\\x0d\\x0alines\\x7f"}));
    EXPECT_EQ(rows[2],
              (std::vector<std::string>{"=HYPERLINK(\"http://x\")", "\\xc2\\x9bc1 \\x9b"}));
}

TEST(CsvText, ForASpreadsheetNoFieldStartsAFormula)
{
    struct Case
    {
        const char* text;
        const char* field;
    };
    const Case cases[] = {
        {"=HYPERLINK(\"http://x\",\"y\")", "\"'=HYPERLINK(\"\"http://x\"\",\"\"y\"\")\""},
        {"+cmd|' /C calc'!A0", "'+cmd|' /C calc'!A0"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"-5", "-5"},
        {"+12.5", "+12.5"},
        {"1,234", "\"1,234\""},
        {"Dock", "Dock"},
        {"", ""},
        {"\t=1+1", "\\x09=1+1"},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(CsvField(c.text, ECsvUse::eForSpreadsheet), c.field) << c.text;
        // For programs the text stays as it is (controls aside).
        if (c.text[0] != '\t')
        {
            EXPECT_EQ(ReadCsv(CsvLine({c.text}))[0][0], c.text);
        }
    }
}

TEST(Table, TextColumnsAlignAndCarryNoControlCharacters)
{
    Table t({"Name", "Port", "Serial"});
    t.AddRow({"Caf\xc3\xa9", "COM3", "X1"});
    t.AddRow({"evil\x1b]0;pwned\x07", "USB", "Y"});
    std::string text = t.RenderText();
    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
    EXPECT_NE(text.find("evil\\x1b]0;pwned\\x07"), std::string::npos);
    // "Café" is four characters wide, so "COM3" lines up under "Port".
    std::vector<std::string> lines;
    for (std::size_t s = 0, e; (e = text.find('\n', s)) != std::string::npos; s = e + 1)
        lines.push_back(text.substr(s, e - s));
    ASSERT_EQ(lines.size(), 3u);
    auto column = [](const std::string& line, const std::string& word)
    {
        std::size_t bytes = line.find(word), chars = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            chars += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        return chars;
    };
    EXPECT_EQ(column(lines[0], "Port"), column(lines[1], "COM3"));
    EXPECT_EQ(column(lines[1], "COM3"), column(lines[2], "USB"));
    EXPECT_EQ(lines[0].back(), 'l'); // no trailing blanks
}

TEST(TerminalSafe, EscapesControlsAndShowsWindowsTextAsLatin1)
{
    EXPECT_EQ(TerminalSafe("a\nb\tc"), "a b c");
    EXPECT_EQ(TerminalSafe("\x1b[2J"), "\\x1b[2J");
    EXPECT_EQ(TerminalSafe("Caf\xe9"), "Caf\xc3\xa9");
    // C1 controls, as 8-bit bytes or encoded in UTF-8, can start escape sequences.
    EXPECT_EQ(TerminalSafe("\x9b"), "\\x9b");
    EXPECT_EQ(TerminalSafe("\xc2\x9b"), "\\xc2\\x9b");
    EXPECT_EQ(TerminalSafe("\xc2\xa9"), "\xc2\xa9");
    // Bidirectional controls would show a name reversed or reorder a whole line.
    EXPECT_EQ(TerminalSafe("\xe2\x80\xae"
                           "evil"),
              "\\u202eevil");
    EXPECT_EQ(TerminalSafe("a\xe2\x81\xa6"
                           "b\xe2\x81\xa9"
                           "c"),
              "a\\u2066b\\u2069c");
    EXPECT_EQ(TerminalSafe("\xe2\x80\x8f"
                           "\xd8\x9c"),
              "\\u200f\\u061c");
    EXPECT_EQ(TerminalSafe("\xe2\x80\x94"), "\xe2\x80\x94"); // an em dash is text
}

TEST(OneLine, JoinsTheLibraryTimeOutMessage)
{
    EXPECT_EQ(OneLine("The operation timed out.  Check the following: \n1)  Make sure. \n2)  On."),
              "The operation timed out.  Check the following: 1)  Make sure. 2)  On.");
    EXPECT_EQ(OneLine("a\r\nb\n"), "a b");
}

TEST(MetricLabelValue, EscapesWhatTheTextFormatNeedsAndKeepsTerminalsSafe)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Dock", "Dock"},
        {"Q\"uote", "Q\\\"uote"},
        {"back\\slash", "back\\\\slash"},
        {"Caf\xe9", "Caf\xc3\xa9"},     // Windows 8-bit text read as Latin-1, sent as UTF-8
        {"Caf\xc3\xa9", "Caf\xc3\xa9"}, // UTF-8 kept
        {"two\nlines", "two lines"},
        {"evil\x1b[2J", "evil\\\\x1b[2J"}, // shown as \x1b, its backslash escaped
    };
    for (const auto& [text, escaped] : cases)
        EXPECT_EQ(MetricLabelValue(text), escaped) << text;
}

TEST(MetricNumber, ShortestTextThatReadsBack)
{
    const std::pair<double, const char*> cases[] = {
        {1, "1"},
        {0, "0"},
        {2.54, "2.54"},
        {-86400.5, "-86400.5"},
        {1714557600.123, "1714557600.123"},
        {std::nan(""), "NaN"},
        {INFINITY, "+Inf"},
        {-INFINITY, "-Inf"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(MetricNumber(value), text) << value;
}

TEST(MetricsText, KeepsEachFamilyTogetherAndLeavesEmptyOnesOut)
{
    MetricsText m;
    const auto a = m.AddGauge("odomira_a", "First.");
    const auto unused = m.AddGauge("odomira_unused", "Never sampled.");
    const auto b = m.AddGauge("odomira_b_meters", "Second.");
    (void)unused;
    for (const char* name : {"P1", "P2"})
    {
        m.Add(a, {{"name", name}, {"port", "COM3"}}, 1);
        m.Add(b, {{"name", name}}, 0.5);
    }
    m.Add(b, {}, 2);
    EXPECT_EQ(m.Render(), "# HELP odomira_a First.\n"
                          "# TYPE odomira_a gauge\n"
                          "odomira_a{name=\"P1\",port=\"COM3\"} 1\n"
                          "odomira_a{name=\"P2\",port=\"COM3\"} 1\n"
                          "# HELP odomira_b_meters Second.\n"
                          "# TYPE odomira_b_meters gauge\n"
                          "odomira_b_meters{name=\"P1\"} 0.5\n"
                          "odomira_b_meters{name=\"P2\"} 0.5\n"
                          "odomira_b_meters 2\n");
}
