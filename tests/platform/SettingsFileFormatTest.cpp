// The settings value file's text, on bytes: what is read, what is written back, and
// what setting or removing a value does to the lines around it.
#include "SettingsFileFormat.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using namespace std::string_literals;

namespace
{
SettingsValue Value(DWORD type, std::string bytes)
{
    return SettingsValue{type, std::vector<BYTE>(bytes.begin(), bytes.end())};
}
SettingsValue Dword(DWORD v)
{
    return Value(REG_DWORD, std::string(reinterpret_cast<const char*>(&v), 4));
}

// Bytes read and written back without a change to any value.
struct RewriteCase
{
    const char* what;
    std::string in;
    std::string out;
};

const RewriteCase kRewrites[] = {
    {"empty file", "", ""},
    {"the store's own lines stay as they are",
     "\"Units\"=dword:0000000a\n\"Placement\"=hex:00,01,fe,ff\n\"Empty\"=hex:\n"
     "\"LastFile\"=\"C:\\\\Labels \\\"new\\\"\\x0aline\"\n@=\"default\"\n\"Multi\"=hex(7):41,00\n",
     "\"Units\"=dword:0000000a\n\"Placement\"=hex:00,01,fe,ff\n\"Empty\"=hex:\n"
     "\"LastFile\"=\"C:\\\\Labels \\\"new\\\"\\x0aline\"\n@=\"default\"\n\"Multi\"=hex(7):41,00\n"},
    {"hand-written values come back in the store's spelling",
     "\"A\"=dword:3\n\"B\"=hex:AB, 0c,\n\"C\"=hex(0007):01\n\"D\"=\"\\x41\\q\"\n",
     "\"A\"=dword:00000003\n\"B\"=hex:ab,0c\n\"C\"=hex(7):01\n\"D\"=\"Aq\"\n"},
    {"a value read from a CRLF line is written with LF", "\"A\"=dword:00000001\r\n",
     "\"A\"=dword:00000001\n"},
    {"unreadable lines keep every carriage return they came with",
     "; installer\r\ngarbage\r\r\n\r\n\n", "; installer\r\ngarbage\r\r\n\r\n\n"},
    {"values that do not parse are kept as written",
     "\"Nine\"=dword:123456789\n\"Odd\"=hex:0\n\"Open\"=\"no end\n\"Future\"=qword:10\n"
     "\"NoEquals\"\n\"Type\"=hex(7:01\n# note\n",
     "\"Nine\"=dword:123456789\n\"Odd\"=hex:0\n\"Open\"=\"no end\n\"Future\"=qword:10\n"
     "\"NoEquals\"\n\"Type\"=hex(7:01\n# note\n"},
    {"a last line without a line feed gets one", "\"A\"=dword:00000001\njunk",
     "\"A\"=dword:00000001\njunk\n"},
    {"a name given twice: the later value at the earlier place",
     "\"A\"=dword:1\n\"B\"=dword:2\n\"a\"=dword:3\n",
     "\"A\"=dword:00000003\n\"B\"=dword:00000002\n"},
    {"control bytes, DEL and a NUL in text are escaped", "\"T\"=\"\\x00\\x7f\\x1b\xc3\xa9\"\n",
     "\"T\"=\"\\x00\\x7f\\x1b\xc3\xa9\"\n"},
    {"\\x without two hex digits is the letter x", "\"T\"=\"\\x4\"\n", "\"T\"=\"x4\"\n"},
};

TEST(SettingsFileFormat, BytesAreReadAndWrittenBack)
{
    for (const RewriteCase& c : kRewrites)
    {
        SCOPED_TRACE(c.what);
        const std::string once = SettingsValueFile::Parse(c.in).Format();
        EXPECT_EQ(once, c.out);
        EXPECT_EQ(SettingsValueFile::Parse(once).Format(), once) << "a second rewrite changes it";
    }
}

struct ReadCase
{
    const char* what;
    std::string in;
    std::string name;
    std::optional<SettingsValue> value;
};

const ReadCase kReads[] = {
    {"a number is kept as four little-endian bytes", "\"Units\"=dword:0000000a\n", "Units",
     Dword(10)},
    {"names are found whatever their case", "\"MaxDownloads\"=dword:3\r\n", "MAXDOWNLOADS",
     Dword(3)},
    {"text has its escapes undone", "\"T\"=\"a\\\"b\\\\c\\x0a\"\n", "T",
     Value(REG_SZ, "a\"b\\c\n")},
    {"a NUL in text is part of the value", "\"T\"=\"a\\x00b\"\n", "T", Value(REG_SZ, "a\0b"s)},
    {"@ is the unnamed value", "@=\"default\"\n", "", Value(REG_SZ, "default")},
    {"a type of a later version keeps its number", "\"M\"=hex(7):41,00,00\n", "M",
     Value(7, "A\0\0"s)},
    {"an empty binary value", "\"E\"=hex:\n", "E", Value(REG_BINARY, "")},
    {"an unreadable line of that name is no value", "\"Future\"=qword:10\n", "Future",
     std::nullopt},
    {"a comment is no value", ";\"A\"=dword:1\n", "A", std::nullopt},
    {"a name is not matched by its prefix", "\"Units\"=dword:1\n", "Unit", std::nullopt},
};

TEST(SettingsFileFormat, ValuesAreFoundByName)
{
    for (const ReadCase& c : kReads)
    {
        SCOPED_TRACE(c.what);
        const SettingsValueFile file = SettingsValueFile::Parse(c.in);
        const SettingsValue* found = file.Find(c.name);
        EXPECT_EQ(found ? std::optional<SettingsValue>(*found) : std::nullopt, c.value);
    }
}

TEST(SettingsFileFormat, SettingAValueKeepsTheLinesAroundIt)
{
    const std::string file = "; installer\r\n\"Units\"=dword:00000001\n\"Future\"=qword:10\n"
                             "hand edit\n\"future\"=\"second\n";
    auto set = [&](const std::string& name, SettingsValue v)
    {
        SettingsValueFile f = SettingsValueFile::Parse(file);
        f.Set(name, std::move(v));
        return f.Format();
    };
    // A new name goes at the end.
    EXPECT_EQ(set("Text", Value(REG_SZ, "a\"b")), file + "\"Text\"=\"a\\\"b\"\n");
    // An existing one keeps its place and its spelling.
    EXPECT_EQ(set("UNITS", Dword(0x1234abcd)),
              "; installer\r\n\"Units\"=dword:1234abcd\n\"Future\"=qword:10\nhand edit\n"
              "\"future\"=\"second\n");
    // The name of unreadable lines: the first takes the value, the others go.
    EXPECT_EQ(set("FUTURE", Dword(16)),
              "; installer\r\n\"Units\"=dword:00000001\n\"Future\"=dword:00000010\nhand edit\n");
    // Values the store never writes as such still read back: a number that is not four
    // bytes, the unnamed value, empty bytes.
    EXPECT_EQ(set("Short", Value(REG_DWORD, "\x01\x02"s)), file + "\"Short\"=hex(4):01,02\n");
    EXPECT_EQ(set("", Value(REG_BINARY, "")), file + "@=hex:\n");
}

TEST(SettingsFileFormat, RemovingAValueDropsEveryLineOfItsName)
{
    SettingsValueFile f = SettingsValueFile::Parse(
        "; installer\n\"Future\"=qword:10\n\"Units\"=dword:1\n\"FUTURE\"=dword:2\n");
    EXPECT_TRUE(f.Remove("future"));
    EXPECT_EQ(f.Format(), "; installer\n\"Units\"=dword:00000001\n");
    EXPECT_FALSE(f.Remove("Missing"));
    EXPECT_FALSE(f.Remove("; installer"));
    EXPECT_EQ(f.Format(), "; installer\n\"Units\"=dword:00000001\n");
}
} // namespace
