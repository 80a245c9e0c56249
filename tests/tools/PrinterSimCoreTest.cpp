// The simulator's parsers and formatting, on bytes. What a printer makes of a byte
// stream decides what every end-to-end test asserts, so the hostile cases live here.
#include "CommandParser.h"
#include "Crc32.h"
#include "Fleet.h"
#include "SimPrinter.h"

#include <gtest/gtest.h>

using namespace printersim;

namespace
{

// Feeds the stream in pieces of `step` bytes and renders what came out: commands as
// <NAME>, label data as [bytes].
std::string Render(const std::string& stream, std::size_t step)
{
    CommandParser parser;
    std::string out;
    auto take = [&](const std::vector<ParseEvent>& events)
    {
        for (const auto& e : events)
        {
            if (e.isCommand)
                out += "<" + std::string(CommandName(e.command.kind)) +
                       (e.command.unit ? std::string(1, e.command.unit) : "") + ">";
            else if (!out.empty() && out.back() == ']')
                out.insert(out.size() - 1, e.data); // one run of label data, however read
            else
                out += "[" + e.data + "]";
        }
    };
    for (std::size_t i = 0; i < stream.size(); i += step)
        take(parser.Feed(stream.data() + i, std::min(step, stream.size() - i)));
    take(parser.Flush());
    return out;
}

} // namespace

TEST(PrinterSimParser, RecognisesEveryCommandWhateverTheReadSizes)
{
    const std::string stream = std::string("\nURS\n") + "\nURLi\n" + "\nURLm\n" + "\nURHi\n" +
                               "\nURHm\n" + "\nURLip\n" + "\nURLmp\n" + "\nURHip\n" + "\nURHmp\n" +
                               "\nU\n" + "~WC" + "\nxa\n" + "\noLr\r\n";
    const std::string expected =
        "<URS><URLi><URLm><URHi><URHm><URLpi><URLpm><URHpi><URHpm><U><~WC><xa><oLr>";
    for (std::size_t step : {1u, 2u, 3u, 7u, 1000u})
        EXPECT_EQ(Render(stream, step), expected) << "step " << step;
}

TEST(PrinterSimParser, LabelDataAroundAndBetweenCommands)
{
    EXPECT_EQ(Render("abc\nURS\ndef", 1000), "[abc]<URS>[def]");
    // Near misses stay label data, including the bytes that looked like a start.
    EXPECT_EQ(Render("\nURLx\n", 1000), "[\nURLx\n]");
    EXPECT_EQ(Render("\nURS", 1000), "[\nURS]");
    EXPECT_EQ(Render("\nurs\n", 1000), "[\nurs\n]");
    EXPECT_EQ(Render("~WX~WC", 1), "[~WX]<~WC>");
    // A line feed that ends label data may itself start the next command.
    EXPECT_EQ(Render("x\n\nURS\n", 1), "[x\n]<URS>");
    EXPECT_EQ(Render("\nU\nURS\n", 1000), "<U>[URS\n]");
}

TEST(PrinterSimParser, SetSerialUndoesTheEscaping)
{
    auto parse = [](const std::string& bytes, std::size_t step)
    {
        CommandParser p;
        std::vector<ParseEvent> all;
        for (std::size_t i = 0; i < bytes.size(); i += step)
            for (auto& e : p.Feed(bytes.data() + i, std::min(step, bytes.size() - i)))
                all.push_back(e);
        for (auto& e : p.Flush())
            all.push_back(e);
        return all;
    };
    // x " y \ z escaped as x \" y \\ z
    const std::string cmd = "\nheS\"x\\\"y\\\\z\"\r\n";
    for (std::size_t step : {1u, 4u, 100u})
    {
        auto events = parse(cmd, step);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].command.kind, CommandKind::SetSerial);
        EXPECT_EQ(events[0].command.serial, "x\"y\\z");
        EXPECT_EQ(events[0].command.bytes, cmd);
    }
    // Ends in an escaped quote, then the real one.
    auto quoteEnd = parse("\nheS\"ab\\\"\"\r\n", 100);
    ASSERT_EQ(quoteEnd.size(), 1u);
    EXPECT_EQ(quoteEnd[0].command.serial, "ab\"");
    auto empty = parse("\nheS\"\"\r\n", 100);
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(empty[0].command.serial, "");
    // Without CR LF after the closing quote it is not the command.
    std::string joined;
    for (const auto& e : parse("\nheS\"ab\"\n", 100))
    {
        EXPECT_FALSE(e.isCommand);
        joined += e.data;
    }
    EXPECT_EQ(joined, "\nheS\"ab\"\n");
    // An endless text stays label data instead of being held back for ever.
    std::string endless = "\nheS\"" + std::string(CommandParser::MAX_ESCAPED_SERIAL + 10, 'a');
    CommandParser p;
    auto events = p.Feed(endless.data(), endless.size());
    EXPECT_FALSE(p.HasPending());
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].data, endless);
}

TEST(PrinterSimParser, HoldsBackOnlyWhatMayStillBecomeACommand)
{
    CommandParser p;
    auto e = p.Feed("data\nUR", 7);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].data, "data");
    EXPECT_TRUE(p.HasPending());
    e = p.Feed("S\n", 2);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_TRUE(e[0].isCommand);
    EXPECT_FALSE(p.HasPending());
}

TEST(PrinterSimFormat, OdometersInBothUnits)
{
    EXPECT_EQ(WithThousands(0), "0");
    EXPECT_EQ(WithThousands(999), "999");
    EXPECT_EQ(WithThousands(1000), "1,000");
    EXPECT_EQ(WithThousands(1234567), "1,234,567");
    PrinterConfig c;
    c.headInches = 12345;
    c.totalInches = 678901;
    SimPrinter p(c);
    EXPECT_EQ(p.OdometerReply('i'), "Head usage = 12,345\r\nTotal usage = 678,901\r\n");
    // 12345 * 25.4 = 313563, 678901 * 25.4 = 17244085.4
    EXPECT_EQ(p.OdometerReply('m'), "Head usage = 313,563\r\nTotal usage = 17,244,085\r\n");
    EXPECT_EQ(InUnit(0.5, 'i'), 1);
    EXPECT_EQ(InUnit(0.02, 'm'), 1); // 0.508 mm
}

TEST(PrinterSimFormat, LabelDataMovesOdometersAndChecksum)
{
    PrinterConfig c;
    c.headInches = 1;
    c.totalInches = 10;
    SimPrinter p(c);
    p.AddLabelData(std::string(1500, 'a'));
    p.AddLabelData(std::string(500, 'b'));
    EXPECT_DOUBLE_EQ(p.Config().headInches, 3.0);
    EXPECT_DOUBLE_EQ(p.Config().totalInches, 12.0);
    std::string all = std::string(1500, 'a') + std::string(500, 'b');
    EXPECT_EQ(p.Count().labelCrc32, Crc32Update(0, all.data(), all.size()));
    EXPECT_EQ(Crc32Update(0, "123456789", 9), 0xCBF43926u);
    Command reset;
    reset.kind = CommandKind::ResetHead;
    p.Apply(reset);
    EXPECT_EQ(p.Config().headInches, 0.0);
    EXPECT_EQ(p.Config().totalInches, 12.0);
}

TEST(PrinterSimFleet, ReadsTheFileFormat)
{
    Fleet f;
    ASSERT_EQ(
        ParseFleet("# comment\n"
                   "[Front Desk]\n"
                   "kind = serial\ncom = 3\nserial = A\\\"B\nhead = 1.5\ntotal = 20\n"
                   "history = one\\r\\ntwo\nfault = slow 200\nfault = split 2 30\n"
                   "[Back]\nkind = usb\nmodel = RX9\n"
                   "[Net]\nkind = network\naddress = 127.0.0.9\nport = 6101\ndiscovery = dup\n"
                   "power = off\n",
                   f),
        "");
    ASSERT_EQ(FinishFleet(f, false), "");
    ASSERT_EQ(f.printers.size(), 3u);
    const PrinterConfig& s = f.printers[0];
    EXPECT_EQ(s.name, "Front Desk");
    EXPECT_EQ(s.number, 3);
    EXPECT_EQ(s.serial, "A\"B");
    EXPECT_EQ(s.history, "one\r\ntwo");
    EXPECT_EQ(s.faults.slowMs, 200);
    EXPECT_EQ(s.faults.splitParts, 2);
    EXPECT_EQ(s.faults.splitGapMs, 30);
    EXPECT_EQ(f.printers[1].link, "lp0");
    EXPECT_EQ(f.printers[1].ieee1284, "MFG:Varko;MDL:RX9;CMD:RLX;CLS:PRINTER;");
    EXPECT_EQ(f.printers[2].tcpPort, 6101);
    EXPECT_FALSE(f.printers[2].powered);
    EXPECT_EQ(f.printers[2].faults.discovery, DiscoveryMode::Duplicate);
}

TEST(PrinterSimFleet, RefusesWhatCannotBeServedSafely)
{
    auto finish = [](const std::string& text, bool allow = false)
    {
        Fleet f;
        std::string e = ParseFleet(text, f);
        return e.empty() ? FinishFleet(f, allow) : e;
    };
    EXPECT_NE(finish("[A]\nkind = network\naddress = 192.168.1.5\n"), "");
    EXPECT_EQ(finish("[A]\nkind = network\naddress = 10.77.0.11\n", true), "");
    EXPECT_NE(finish("[A]\nkind = network\naddress = 127.0.0.1\n"), "");
    EXPECT_NE(finish("[A]\nkind = network\naddress = 127.0.0.300\n"), "");
    EXPECT_NE(finish("[A]\nkind = serial\n[A]\nkind = serial\n"), "");
    EXPECT_NE(finish("[A]\nkind = serial\ncom = 2\n[B]\nkind = serial\ncom = 2\n"), "");
    EXPECT_NE(finish("[A]\nkind = usb\nlink = ../x\n"), "");
    EXPECT_NE(finish("[A]\nkind = usb\nlink = lp0.ieee1284\n"), "");
    EXPECT_NE(finish("[A]\nkind = tape\n"), "");
    EXPECT_NE(finish("[A]\nhead = -1\n"), "");
    EXPECT_NE(finish("[A]\nhistory = " + std::string(901, 'h') + "\n"), "");
    EXPECT_NE(finish("kind = serial\n"), "");
    EXPECT_NE(finish("[A]\nfault = wobble\n"), "");
    EXPECT_NE(finish("[A]\nfault = discovery long 100\n"), "");
}

TEST(PrinterSimFleet, CommandLineFormAndDefaults)
{
    Fleet f;
    ASSERT_EQ(ParsePrinterSpec("name=A\\, B,kind=serial", f), "");
    ASSERT_EQ(ParsePrinterSpec("name=C,kind=serial,com=1", f), "");
    ASSERT_EQ(ParsePrinterSpec("name=N,kind=network", f), "");
    ASSERT_EQ(FinishFleet(f, false), "");
    EXPECT_EQ(f.printers[0].name, "A, B");
    EXPECT_EQ(f.printers[0].number, 2); // COM1 is taken by C
    EXPECT_EQ(f.printers[2].address, "127.0.0.2");
    EXPECT_EQ(f.printers[2].tcpPort, 9100);
    EXPECT_NE(ParsePrinterSpec("kind=serial", f), "");
}
