#include "CArchive.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

namespace
{
using SerialFake = ScriptedPortOf<CSerialPort>;
using ParallelFake = ScriptedPortOf<CParallelPort>;

// A printer over a scripted serial port; the printer owns the port.
struct Bench
{
    CVarkoPrinter printer;
    SerialFake* port = new SerialFake;
    Bench() { printer.SetPort(port); }
};

DWORD codeOf(const std::function<void()>& f)
{
    try
    {
        f();
    }
    catch (const CVarkoPrinterException& e)
    {
        return e.GetErrorCode();
    }
    return 0;
}

// Written field by field, so that building a record takes no printer number.
Bytes recordBytes(const CString& name, const CString& model, const CString& file)
{
    CArchive ar(CArchive::store);
    ar << name << model << file;
    return ar.Buffer();
}

Bytes storedRecord(const CString& name, const CString& model, const CString& file)
{
    CVarkoPrinter p;
    p.SetName(name);
    p.Model(model);
    p.DownloadFile(file);
    CArchive ar(CArchive::store);
    p.CVarkoPrinterData::Serialize(ar);
    return ar.Buffer();
}

// As the collection loads: a new printer, then its record.
std::unique_ptr<CVarkoPrinter> loadRecord(const CString& name)
{
    auto p = std::make_unique<CVarkoPrinter>();
    CArchive ar(recordBytes(name, "", ""));
    p->CVarkoPrinterData::Serialize(ar);
    return p;
}
} // namespace

TEST(PrinterNumbering, DefaultNamesCountRecordsAndGiveNumbersBack)
{
    auto a = std::make_unique<CVarkoPrinter>();
    auto b = std::make_unique<CVarkoPrinter>();
    EXPECT_EQ(a->Name(), "Printer#1");
    EXPECT_EQ(b->Name(), "Printer#2");
    b.reset();
    EXPECT_EQ(CVarkoPrinter().Name(), "Printer#2");
    a.reset();
    EXPECT_EQ(CVarkoPrinter().Name(), "Printer#1");

    // Destroying the first of two hands out the name the second already has.
    a = std::make_unique<CVarkoPrinter>();
    b = std::make_unique<CVarkoPrinter>();
    a.reset();
    CVarkoPrinter c;
    EXPECT_EQ(c.Name(), "Printer#2");
    EXPECT_EQ(b->Name(), "Printer#2");
}

TEST(PrinterNumbering, LoadingRaisesTheCounterPastLoadedNumbers)
{
    {
        auto seven = loadRecord("Printer#7");
        auto office = loadRecord("Office");
        EXPECT_EQ(CVarkoPrinter().Name(), "Printer#8");
    }
    // Each leaves the counter where it was before loading (1 in a fresh state).
    for (const char* name : {"Printer#0", "Printer#", "Printer#x", "Big Printer#5", "Printer#-3",
                             "Printer#2147483647"})
    {
        auto loaded = loadRecord(name);
        EXPECT_EQ(loaded->Name(), name);
        EXPECT_EQ(CVarkoPrinter().Name(), "Printer#1") << name;
    }
}

// The highest number a name can carry: the next default names stop there instead of
// running past the end of the counter (the collection makes the repeated name unique).
TEST(PrinterNumbering, TheCounterStopsAtTheLargestNumber)
{
    auto loaded = loadRecord("Printer#2147483646");
    CVarkoPrinter last;
    CVarkoPrinter beyond;
    EXPECT_EQ(last.Name(), "Printer#2147483647");
    EXPECT_EQ(beyond.Name(), "Printer#2147483647");
}

TEST(PrinterRecord, StoresNameModelAndDownloadFileInThatOrder)
{
    Bytes b = storedRecord("Lobby", "RX4", "/tmp/a.lbl");
    Bytes expected{5, 'L', 'o', 'b', 'b', 'y', 3, 'R', 'X', '4'};
    for (char c : std::string("\x0a/tmp/a.lbl"))
        expected.push_back(static_cast<std::uint8_t>(c));
    EXPECT_EQ(b, expected);

    CVarkoPrinter p;
    CArchive in(b);
    p.CVarkoPrinterData::Serialize(in);
    EXPECT_EQ(p.Name(), "Lobby");
    EXPECT_EQ(p.DownloadFile(), "/tmp/a.lbl");
    EXPECT_EQ(in.Remaining(), 0u);
}

TEST(PrinterRecord, TruncatedRecordThrowsArchiveException)
{
    Bytes b = storedRecord("Lobby", "RX4", "x");
    b.pop_back();
    CVarkoPrinter p;
    CArchive in(b);
    EXPECT_THROW(p.CVarkoPrinterData::Serialize(in), CArchiveException);
}

TEST(SerialNumberQuery, SendsTheQueryAndTakesTextUpToTheLineEnd)
{
    Bench t;
    t.port->QueueReply("ABC123\r\nmore");
    EXPECT_EQ(t.printer.SerialNumber(), "ABC123");
    EXPECT_EQ(t.port->Written(), std::string("\x0a\x55\x52\x53\x0a"));
    EXPECT_EQ(t.port->Calls(), (std::vector<PortCall>{PortCall::Open, PortCall::Write,
                                                      PortCall::Read, PortCall::Close}));
}

TEST(SerialNumberQuery, RetriesOnceSilentlyWhenNothingCame)
{
    Bench t;
    t.port->QueueReply("");
    t.port->QueueReply("SN9\n");
    EXPECT_EQ(t.printer.SerialNumber(), "SN9");
    EXPECT_EQ(t.port->CountOf(PortCall::Open), 2);
    EXPECT_EQ(t.port->Written(), std::string("\nURS\n\nURS\n"));

    Bench silent;
    EXPECT_EQ(silent.printer.SerialNumber(), "");
    EXPECT_EQ(silent.port->CountOf(PortCall::Write), 2);
    EXPECT_FALSE(silent.port->WasLeftOpen());
}

TEST(SerialNumberQuery, OddRepliesAreHandledWithinTheBuffer)
{
    Bench noLineEnd;
    noLineEnd.port->QueueReply("ABC123");
    EXPECT_EQ(noLineEnd.printer.SerialNumber(), "");

    Bench nul;
    nul.port->QueueReply(std::string("AB\0CD\r\n", 7));
    EXPECT_EQ(nul.printer.SerialNumber(), "");

    // A full buffer: the terminator goes after the 1000th byte, not over it.
    Bench full;
    full.port->QueueReply(std::string(998, 'Z') + "\r\n" + "overflow");
    EXPECT_EQ(full.printer.SerialNumber(), CString(std::string(998, 'Z')));
}

TEST(SerialNumberQuery, PrintersThatCannotAnswerAreNotAsked)
{
    CVarkoPrinter p;
    auto* port = new ParallelFake;
    p.SetPort(port);
    EXPECT_EQ(p.SerialNumber(), "N/A");
    EXPECT_EQ(p.HeadHistory(eUnitsInches), "N/A");
    int head = 0, total = 0;
    p.Odometers(head, total, eUnitsInches);
    EXPECT_EQ(head, -1);
    EXPECT_EQ(total, -1);
    EXPECT_TRUE(port->Calls().empty());
    EXPECT_FALSE(p.IsBidirectional());
}

TEST(OdometerQuery, ParsesBothValuesWithThousandsSeparators)
{
    for (auto [units, letter] : {std::pair{eUnitsInches, 'i'}, std::pair{eUnitsMillimeters, 'm'}})
    {
        Bench t;
        t.port->QueueReply("Head usage = 12,345\r\nTotal usage = 678,901\r\n");
        int head = 0, total = 0;
        t.printer.Odometers(head, total, units);
        EXPECT_EQ(head, 12345);
        EXPECT_EQ(total, 678901);
        EXPECT_EQ(t.port->Written(), std::string("\nURL") + letter + "\n");
    }
}

TEST(OdometerQuery, MissingValuesStayMinusOne)
{
    auto parse = [](const char* reply)
    {
        int a = 0, b = 0;
        CVarkoPrinterData::ParseOdometerReply(reply, a, b);
        return std::pair{a, b};
    };
    EXPECT_EQ(parse(""), std::pair(-1, -1));
    EXPECT_EQ(parse("no markers here"), std::pair(-1, -1));
    EXPECT_EQ(parse("Head usage = 7"), std::pair(7, -1));
    EXPECT_EQ(parse("usage = -12 usage =  +3,0"), std::pair(-12, 30));
    EXPECT_EQ(parse("Usage = 5 usage = 9"), std::pair(9, -1));
    // A number too large for the counters is clamped, not undefined.
    EXPECT_EQ(parse("usage = 99999999999 usage = 1"), std::pair(2147483647, 1));

    Bench empty;
    int head = 0, total = 0;
    empty.printer.Odometers(head, total, eUnitsInches);
    EXPECT_EQ(head, -1);
    EXPECT_EQ(total, -1);
    EXPECT_EQ(empty.port->CountOf(PortCall::Write), 1);
}

TEST(HeadHistoryQuery, ReturnsTheReplyAsItCame)
{
    Bench t;
    t.port->QueueReply("Head 1: 100 in\r\nHead 2: 250 in\r\n");
    EXPECT_EQ(t.printer.HeadHistory(eUnitsInches), "Head 1: 100 in\r\nHead 2: 250 in\r\n");
    EXPECT_EQ(t.port->Written(), std::string("\x0a\x55\x52\x48\x69\x0a"));

    Bench none;
    EXPECT_EQ(none.printer.HeadHistory(eUnitsMillimeters), "");
    EXPECT_EQ(none.port->Written(), std::string("\nURHm\n"));
}

TEST(SetSerialNumber, EscapesBackslashesThenQuotes)
{
    Bench t;
    t.printer.SetSerialNumber("x\"y\\z");
    EXPECT_EQ(t.port->Written(), std::string("\x0a\x68\x65\x53\x22\x78\x5c\x22\x79\x5c\x5c\x7a"
                                             "\x22\x0d\x0a"));
    EXPECT_EQ(t.port->Written().size(), 15u);
    EXPECT_EQ(t.port->CountOf(PortCall::Read), 0);
}

TEST(SetSerialNumber, RefusesTextLongerThanThePrinterTakes)
{
    Bench fits;
    fits.printer.SetSerialNumber(CString('"', 32));
    EXPECT_EQ(fits.port->Written().size(), 64u + 8u);

    Bench tooLong;
    EXPECT_EQ(codeOf([&] { tooLong.printer.SetSerialNumber(CString('\\', 33)); }), 10u);
    EXPECT_TRUE(tooLong.port->Calls().empty());
}

TEST(ResetHeadOdometer, AsksFirstAndSendsOnlyOnYes)
{
    ScriptedPrompt prompt;
    Bench no;
    prompt.Answer(IDNO);
    no.printer.ResetHeadOdometer();
    EXPECT_TRUE(no.port->Calls().empty());

    Bench yes;
    prompt.Answer(IDYES);
    yes.printer.ResetHeadOdometer();
    EXPECT_EQ(yes.port->Written(), std::string("\x0a\x6f\x4c\x72\x0d\x0a"));

    auto records = prompt.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].text, "Are you sure you want to Reset the Head Odometer?");
    EXPECT_EQ(records[0].type, MB_YESNO | MB_ICONQUESTION);
}

TEST(PrinterExchange, ClosesThePortAndPassesFailuresOn)
{
    Bench openFails;
    openFails.port->FailOn(PortCall::Open, 1, 7);
    EXPECT_EQ(codeOf([&] { openFails.printer.SerialNumber(); }), 7u);
    EXPECT_FALSE(openFails.port->WasLeftOpen());

    Bench readFails;
    readFails.port->FailOn(PortCall::Read, 1, 121, true);
    int a, b;
    EXPECT_EQ(codeOf([&] { readFails.printer.Odometers(a, b, eUnitsInches); }), 121u);
    EXPECT_FALSE(readFails.port->WasLeftOpen());
    EXPECT_EQ(readFails.port->Calls().back(), PortCall::Close);

    // A command the printer did not take in full is a time-out, not a success.
    Bench partial;
    partial.port->AcceptAtMost(3);
    EXPECT_EQ(codeOf([&] { partial.printer.SetSerialNumber("ABC"); }), 12u);
    EXPECT_FALSE(partial.port->WasLeftOpen());
}

namespace
{
struct ModelPort : ScriptedPortOf<CUSBPort>
{
    int asked = 0;
    CString DeviceModel() override
    {
        ++asked;
        return "Acme M7;CMD:X;";
    }
};
} // namespace

TEST(PrinterModel, IsLearnedFromTheDeviceOnceAndKept)
{
    CVarkoPrinter p;
    auto* port = new ModelPort;
    p.SetPort(port);
    EXPECT_TRUE(p.IsBidirectional());
    EXPECT_EQ(p.Model(), "Acme M7;CMD:X;");
    EXPECT_EQ(p.Model(), "Acme M7;CMD:X;");
    EXPECT_EQ(port->asked, 1);
    EXPECT_EQ(p.PortDisplayName(), "USB");
}
