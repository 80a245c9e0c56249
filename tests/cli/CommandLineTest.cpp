// Option parsing: a misspelt option must be refused, never taken for a printer name,
// and values must be exactly what was typed.
#include "CommandLine.h"

#include <gtest/gtest.h>

using namespace cli;

namespace
{
const OptionRule kOptions[] = {{"units", true}, {"json", false}, {"max", true}};

std::string Parse(CommandLine& cl, std::vector<std::string> words)
{
    return cl.Parse(words, kOptions);
}
} // namespace

TEST(CommandLine, SeparatesOptionsFromOperandsInAnyOrder)
{
    CommandLine cl;
    ASSERT_EQ(Parse(cl, {"fleet.vps", "--units", "mm", "P1", "--json", "--max=3", "P2"}), "");
    EXPECT_EQ(cl.Operands(), (std::vector<std::string>{"fleet.vps", "P1", "P2"}));
    EXPECT_EQ(cl.Value("units"), "mm");
    EXPECT_EQ(cl.Value("max"), "3");
    EXPECT_TRUE(cl.Has("json"));
    EXPECT_FALSE(cl.Value("nothing").has_value());
}

TEST(CommandLine, RefusesWhatItDoesNotKnow)
{
    CommandLine cl;
    EXPECT_NE(Parse(cl, {"f", "--jsn"}), "");
    EXPECT_NE(Parse(cl, {"f", "-j"}), "");
    EXPECT_NE(Parse(cl, {"f", "--units"}), "");    // value missing
    EXPECT_NE(Parse(cl, {"f", "--json=yes"}), ""); // flag with a value
    EXPECT_NE(Parse(cl, {"f", "--units=mm", "--x"}), "");
}

TEST(CommandLine, DoubleDashEndsOptionsSoNamesMayStartWithDashes)
{
    CommandLine cl;
    ASSERT_EQ(Parse(cl, {"f", "--", "--json", "-"}), "");
    EXPECT_EQ(cl.Operands(), (std::vector<std::string>{"f", "--json", "-"}));
    EXPECT_FALSE(cl.Has("json"));
    // A value that looks like an option is still the option's value.
    ASSERT_EQ(Parse(cl, {"--max", "-1"}), "");
    EXPECT_EQ(cl.Value("max"), "-1");
    // The last of repeated values counts.
    ASSERT_EQ(Parse(cl, {"--units", "in", "--units", "mm"}), "");
    EXPECT_EQ(cl.Value("units"), "mm");
}

TEST(CommandLine, ShortFormsAreTheLongOnesAndUnknownLettersAreRefused)
{
    const OptionRule rules[] = {
        {"json", false, 'j'}, {"quiet", false, 'q'}, {"max", true, 'm'}, {"csv", false}};
    struct Case
    {
        std::vector<std::string> words;
        const char* problem; // "" when the words parse
        std::vector<std::string> has;
    };
    const Case cases[] = {
        {{"f", "-j"}, "", {"json"}},
        {{"-qj", "f"}, "", {"quiet", "json"}},
        {{"-jm", "3", "f"}, "", {"json", "max"}},
        {{"f", "-c"}, "unknown option '-c'", {}},
        {{"f", "-jx"}, "unknown option '-x'", {}},
        {{"f", "-m"}, "option '-m' needs a value", {}},
        {{"f", "-mj", "3"}, "option '-m' needs a value", {}},
        {{"f", "-", "--", "-j"}, "", {}}, // a lone dash, and a name after --
    };
    for (const auto& c : cases)
    {
        CommandLine cl;
        EXPECT_EQ(cl.Parse(c.words, rules), c.problem) << c.words[1];
        if (*c.problem)
            continue;
        for (const auto& name : c.has)
            EXPECT_TRUE(cl.Has(name)) << name;
        EXPECT_EQ(cl.Has("json") + cl.Has("quiet") + cl.Has("max"), static_cast<int>(c.has.size()));
        EXPECT_EQ(cl.Operands().front(), "f");
    }
    CommandLine cl;
    ASSERT_EQ(cl.Parse({"-m", "7"}, rules), "");
    EXPECT_EQ(cl.Value("max"), "7");
}

TEST(ParseInteger, AcceptsOnlyWholeNumbersInRange)
{
    EXPECT_EQ(ParseInteger("9600", 1, 1000000), 9600);
    EXPECT_EQ(ParseInteger("-5", -10, 10), -5);
    EXPECT_FALSE(ParseInteger("", 0, 10));
    EXPECT_FALSE(ParseInteger("12a", 0, 100));
    EXPECT_FALSE(ParseInteger(" 1", 0, 100));
    EXPECT_FALSE(ParseInteger("0x10", 0, 100));
    EXPECT_FALSE(ParseInteger("11", 0, 10));
    EXPECT_FALSE(ParseInteger("99999999999999999999", 0, 1LL << 62));
    EXPECT_FALSE(ParseInteger("-", -10, 10));
}
