// The tools' shared JSON: the exact bytes each escaping writes (the command-line tool's
// output and the simulator's log are compared byte for byte), both writer styles, and a
// reader that refuses what is not JSON instead of guessing.
#include "Json.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

using json::Escaping;

namespace
{
std::string Bytes(const char* text, std::size_t n)
{
    return std::string(text, n);
}
} // namespace

TEST(JsonQuote, EscapesEachByteAsItsStyleDemands)
{
    struct Case
    {
        std::string in, utf8, bytes;
    };
    const Case cases[] = {
        {"", R"("")", R"("")"},
        {"plain text", R"("plain text")", R"("plain text")"},
        {"say \"hi\"", R"("say \"hi\"")", R"("say \"hi\"")"},
        {"C:\\dir", R"("C:\\dir")", R"("C:\\dir")"},
        {"a\nb\rc\td", R"("a\nb\rc\td")", R"("a\nb\rc\td")"},
        {"\b\f", R"("\b\f")", R"("\u0008\u000c")"},
        {Bytes("\0\x01\x1b\x1f", 4), R"("\u0000\u0001\u001b\u001f")",
         R"("\u0000\u0001\u001b\u001f")"},
        {"\x7f", R"("\u007f")", R"("\u007f")"},
        {"/", R"("/")", R"("/")"},
        // Well-formed UTF-8 is text to the one, bytes to the other.
        {"Caf\xc3\xa9", "\"Caf\xc3\xa9\"", R"("Caf\u00c3\u00a9")"},
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\"", R"("\u00f0\u009f\u0098\u0080")"},
        // A byte that starts no well-formed sequence is read as Latin-1.
        {"Caf\xe9", R"("Caf\u00e9")", R"("Caf\u00e9")"},
        {"\xc0\xaf", R"("\u00c0\u00af")", R"("\u00c0\u00af")"},
        {"\xed\xa0\x80", R"("\u00ed\u00a0\u0080")", R"("\u00ed\u00a0\u0080")"},
        {"ab\xe2\x82", R"("ab\u00e2\u0082")", R"("ab\u00e2\u0082")"},
    };
    for (const Case& c : cases)
    {
        EXPECT_EQ(json::Quote(c.in, Escaping::Utf8), c.utf8) << c.in;
        EXPECT_EQ(json::Quote(c.in, Escaping::Bytes), c.bytes) << c.in;
    }
}

TEST(JsonQuote, EveryByteStringComesBackFromTheReader)
{
    std::string all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    EXPECT_EQ(json::Parse(json::Quote(all, Escaping::Bytes), Escaping::Bytes).Str(), all);
    const std::string text = "Z\xc3\xbcrich \xe2\x82\xac \xf0\x9f\x98\x80 \"q\" \\ \x01";
    EXPECT_EQ(json::Parse(json::Quote(text)).Str(), text);
    // Read as text, a Latin-1 byte becomes its character.
    EXPECT_EQ(json::Parse(json::Quote("\xe9")).Str(), "\xc3\xa9");
}

TEST(JsonWriter, WritesBothStylesExactly)
{
    auto write = [](json::Writer& w)
    {
        w.BeginObject();
        w.Member("name", "A");
        w.Key("list");
        w.BeginArray();
        w.Number(1);
        w.BeginObject();
        w.Key("deep");
        w.BeginArray();
        w.EndArray();
        w.EndObject();
        w.Null();
        w.EndArray();
        w.Member("ok", true);
        w.Key("empty");
        w.BeginObject();
        w.EndObject();
        w.EndObject();
    };
    json::Writer indented;
    write(indented);
    EXPECT_EQ(indented.Text(), "{\n"
                               "  \"name\": \"A\",\n"
                               "  \"list\": [\n"
                               "    1,\n"
                               "    {\n"
                               "      \"deep\": []\n"
                               "    },\n"
                               "    null\n"
                               "  ],\n"
                               "  \"ok\": true,\n"
                               "  \"empty\": {}\n"
                               "}\n");
    json::Writer compact(json::Writer::Style::Compact, Escaping::Bytes);
    write(compact);
    EXPECT_EQ(compact.Text(), R"({"name":"A","list":[1,{"deep":[]},null],"ok":true,"empty":{}})");
}

TEST(JsonWriter, WritesNumbersWhole)
{
    json::Writer w(json::Writer::Style::Compact);
    w.BeginArray();
    w.Number(LLONG_MIN);
    w.Number(ULLONG_MAX);
    w.Number(-7);
    w.Number(7u);
    w.OptionalNumber(std::nullopt);
    w.Real(2.5, 1);
    w.Real(-0.125, 2);
    w.Real(1.0 / 3, 6);
    w.Real(std::nan(""), 6);
    w.Real(std::numeric_limits<double>::infinity(), 2);
    w.OptionalReal(std::nullopt, 2);
    w.EndArray();
    EXPECT_EQ(w.Text(), "[-9223372036854775808,18446744073709551615,-7,7,null,2.5,-0.12,"
                        "0.333333,null,null,null]");
    // The largest double is written in full, not cut off at some buffer's end.
    json::Writer big(json::Writer::Style::Compact);
    big.Real(std::numeric_limits<double>::max(), 1);
    EXPECT_EQ(big.Text().size(), 311u);
    EXPECT_DOUBLE_EQ(json::Parse(big.Text()).Num(), std::numeric_limits<double>::max());
}

TEST(JsonObject, ChainsACompactLine)
{
    json::Object inner;
    inner.Add("n", 3u);
    std::string line = json::Object()
                           .Add("seq", std::uint64_t{1})
                           .Add("event", "mark")
                           .Add("text", std::string("\xff\n"))
                           .Add("in", 1.5)
                           .Add("ok", false)
                           .AddRaw("inner", inner.Str())
                           .Str();
    EXPECT_EQ(line, R"({"seq":1,"event":"mark","text":"\u00ff\n","in":1.500000,"ok":false,)"
                    R"("inner":{"n":3}})");
    EXPECT_EQ(json::Object().Str(), "{}");
}

TEST(JsonReader, ReadsValuesAndKeepsMemberOrder)
{
    json::Value v = json::Parse(" {\"b\": [1, -0, 2.5e2, 1E-2, true, false, null],"
                                " \"a\": {\"s\": \"x\\/y\\u00e9\\ud83d\\ude00\"}}\n");
    ASSERT_EQ(v.GetType(), json::Type::Object);
    ASSERT_EQ(v.Members().size(), 2u);
    EXPECT_EQ(v.Members()[0].first, "b");
    EXPECT_EQ(v.Members()[1].first, "a");
    const json::Value& b = v["b"];
    ASSERT_EQ(b.Size(), 7u);
    EXPECT_EQ(b[0].Int(), 1);
    EXPECT_EQ(b[1].Num(), 0);
    EXPECT_EQ(b[2].Num(), 250);
    EXPECT_EQ(b[2].Str(), "2.5e2"); // a number as it was written
    EXPECT_DOUBLE_EQ(b[3].Num(), 0.01);
    EXPECT_TRUE(b[4].Bool());
    EXPECT_EQ(b[5].GetType(), json::Type::Bool);
    EXPECT_FALSE(b[5].Bool());
    EXPECT_TRUE(b[6].IsNull());
    EXPECT_EQ(v["a"]["s"].Str(), "x/y\xc3\xa9\xf0\x9f\x98\x80");
    EXPECT_EQ(json::Parse(R"("\u00e9")", Escaping::Bytes).Str(), "\xe9");
    EXPECT_EQ(json::Parse(R"("\u20ac")", Escaping::Bytes).Str(), "\xe2\x82\xac");
}

TEST(JsonReader, MissingMembersThrowUnlessAskedForGently)
{
    json::Value v = json::Parse(R"({"a": [1], "n": null})");
    EXPECT_THROW(v["missing"], std::out_of_range);
    EXPECT_THROW(v["a"][1], std::out_of_range);
    EXPECT_THROW(v["a"]["x"], std::out_of_range);
    EXPECT_THROW(v[0], std::out_of_range);
    EXPECT_TRUE(v["n"].IsNull());
    EXPECT_TRUE(v.Has("n"));
    EXPECT_FALSE(v.Has("missing"));
    EXPECT_TRUE(v.Get("missing").IsNull());
    EXPECT_EQ(v.Get("missing").Str(), "");
    EXPECT_EQ(v.Get("a").Size(), 1u);
}

TEST(JsonReader, ARepeatedMemberIsKeptAndTheFirstIsFound)
{
    json::Value v = json::Parse(R"({"ms":5,"event":"stall","ms":1500})");
    EXPECT_EQ(v["ms"].Int(), 5);
    EXPECT_EQ(v.Get("ms").Int(), 5);
    ASSERT_EQ(v.Size(), 3u);
    EXPECT_EQ(v.Members()[2].first, "ms");
    EXPECT_EQ(v.Members()[2].second.Int(), 1500);
}

TEST(JsonReader, RefusesWhatIsNotJson)
{
    const std::string bad[] = {
        "",
        "   ",
        "{",
        "[1,]",
        "[1 2]",
        R"({"a":1,})",
        R"({"a" 1})",
        R"({a:1})",
        "01",
        "1.",
        ".5",
        "-",
        "+1",
        "1e",
        "1e+",
        "0x10",
        "NaN",
        "Infinity",
        "tru",
        "nul",
        "'a'",
        "[1] x",
        "{} {}",
        R"("abc)",
        "\"a\nb\"",
        Bytes("\"a\0b\"", 5),
        R"("\x41")",
        R"("\u12g4")",
        R"("\u12")",
        R"("\ud800")",
        R"("\ud800\u0041")",
        R"("\udc00")",
        std::string(300, '[') + std::string(300, ']'),
    };
    for (const std::string& text : bad)
    {
        EXPECT_THROW(json::Parse(text), json::ParseError) << text;
        EXPECT_THROW(json::Parse(text, Escaping::Bytes), json::ParseError) << text;
    }
    // Nesting up to the limit is fine.
    EXPECT_NO_THROW(json::Parse(std::string(200, '[') + std::string(200, ']')));
}

TEST(JsonHex, BytesRoundTripInLowerCase)
{
    const std::string bytes = Bytes("\x00\x0a\xab\xff", 4);
    EXPECT_EQ(json::HexBytes(bytes), "000aabff");
    EXPECT_EQ(json::BytesFromHex("000aabff"), bytes);
    EXPECT_EQ(json::BytesFromHex("000AABFF"), bytes);
    EXPECT_EQ(json::BytesFromHex(""), "");
    EXPECT_THROW(json::BytesFromHex("zz"), std::invalid_argument);
}
