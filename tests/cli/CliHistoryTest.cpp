// The odometer history from the command line, end to end: `list` keeps what it reads,
// downloads move the odometers between two lists, and `history`, `forecast` and
// `head-life` are parsed back as a script would read them.
#include "CReadingStore.h"
#include "CliRunner.h"
#include "CsvReader.h"
#include "Json.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace
{
class CliHistory : public ::testing::Test
{
protected:
    CliHistory()
        : sim("[Dock]\nkind = serial\ncom = 3\nmodel = RX400\nserial = RX4-1\nhead = 100\n"
              "total = 2000\n"
              "[Office]\nkind = usb\nlink = lp0\nmodel = RX200\nserial = RX2-9\nhead = 5\n"
              "total = 60\n"
              "[Line]\nkind = parallel\nlpt = 2\nserial = TP1\n")
    {
        file = cli.File("fleet.vps");
        store = std::string(std::getenv("VARKO_SETTINGS_ROOT")) + "/data/Odomira/odometers.sqlite";
    }

    void SetUp() override
    {
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {"add", file, "--name", "Dock", "--serial", "COM3", "--model", "RX400"},
                 {"add", file, "--name", "Office", "--usb", sim.Path("Office")},
                 {"add", file, "--name", "Line", "--parallel", "LPT2"}})
        {
            CliResult r = cli.Run(args);
            ASSERT_EQ(r.status, 0) << r.err;
        }
    }

    // Sends `bytes` of label data to a printer: 1 inch on both odometers per 1000 bytes.
    void Print(const std::string& printer, std::size_t bytes)
    {
        const std::string label = cli.File("label.prn");
        CliRunner::WriteFile(label, std::string(bytes, 'L'));
        CliResult r = cli.Run({"send", file, "--file", label, printer});
        ASSERT_EQ(r.status, 0) << r.err;
    }

    json::Value Json(const std::vector<std::string>& args, int status = 0)
    {
        CliResult r = cli.Run(args);
        EXPECT_EQ(r.status, status) << r.err;
        return json::Parse(r.out);
    }

    // A reading of an hour ago, as another program would have recorded it.
    static OdometerReading HourAgo(const std::string& serial, const std::string& name,
                                   const std::string& model, const std::string& port,
                                   long long head, long long total)
    {
        OdometerReading r;
        r.time = NowUtcMillis() - 3600000;
        r.serial = serial;
        r.name = name;
        r.model = model;
        r.port = port;
        r.head = head;
        r.total = total;
        return r;
    }

    static const json::Value& Named(const json::Value& printers, const std::string& name)
    {
        for (const auto& p : printers.Items())
            if (p["name"].Str() == name)
                return p;
        throw std::runtime_error("no printer " + name);
    }

    SimulatorProcess sim;
    CliRunner cli;
    std::string file;
    std::string store;
};

} // namespace

TEST_F(CliHistory, DownloadsBetweenTwoListsShowAsTwoReadingsAndARate)
{
    ASSERT_EQ(cli.Run({"list", file}).status, 0);
    // Nothing changed: the same entry is seen again.
    ASSERT_EQ(cli.Run({"list", file, "--units", "in"}).status, 0);
    Print("Dock", 25000);
    ASSERT_EQ(sim.State("Dock").headInches, 125);
    ASSERT_EQ(cli.Run({"list", file}).status, 0);

    auto doc = Json({"history", file, "--json"});
    ASSERT_EQ(doc["printers"].Size(), 3u);
    const auto& dock = Named(doc["printers"], "Dock");
    EXPECT_EQ(dock["serial_number"].Str(), "RX4-1");
    ASSERT_EQ(dock["readings"].Size(), 2u) << "three lists, and the first two saw the same";
    EXPECT_EQ(dock["readings"][0]["head_usage"].Num(), 100);
    EXPECT_EQ(dock["readings"][0]["total_usage"].Num(), 2000);
    EXPECT_EQ(dock["readings"][1]["head_usage"].Num(), 125);
    EXPECT_EQ(dock["readings"][1]["total_usage"].Num(), 2025);
    EXPECT_EQ(dock["readings"][1]["port"].Str(), "COM3");
    EXPECT_EQ(dock["readings"][1]["units"].Str(), "in");
    EXPECT_TRUE(dock["head_changes"].Items().empty());
    const auto& office = Named(doc["printers"], "Office");
    EXPECT_EQ(office["readings"].Size(), 1u);
    EXPECT_EQ(office["readings"][0]["port"].Str(), sim.Path("Office")) << "the device, not \"USB\"";
    // A one-way printer is never read.
    const auto& line = Named(doc["printers"], "Line");
    EXPECT_TRUE(line["serial_number"].IsNull());
    EXPECT_TRUE(line["readings"].Items().empty());

    // The same as CSV and as text, for one printer.
    CliResult r = cli.Run({"history", file, "Dock", "--csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = ReadCsv(r.out);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][0], "Printer Name");
    EXPECT_EQ(rows[2], (std::vector<std::string>{"Dock", "RX4-1", "RX400", "COM3",
                                                 dock["readings"][1]["first_seen"].Str(),
                                                 dock["readings"][1]["last_seen"].Str(), "125",
                                                 "2025", "in", ""}));
    r = cli.Run({"history", file, "Dock"});
    EXPECT_NE(r.out.find("Head Usage"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2025"), std::string::npos) << r.out;

    // The forecast: 25 inches between two readings seconds apart is no rate to plan by;
    // without a head life, no date either.
    auto forecast = Json({"forecast", file, "Dock", "--json"});
    const auto& f = forecast["printers"][0];
    EXPECT_EQ(f["head_usage"].Num(), 125);
    EXPECT_TRUE(f["inches_per_day"].IsNull());
    EXPECT_EQ(f["readings_used"].Num(), 2);
    EXPECT_TRUE(f["head_life"].IsNull());
    EXPECT_TRUE(f["days_left"].IsNull());

    r = cli.Run({"head-life", "RX400", "1000000"});
    ASSERT_EQ(r.status, 0) << r.err;
    forecast = Json({"forecast", file, "--json"});
    const auto& withLife = Named(forecast["printers"], "Dock");
    EXPECT_EQ(withLife["head_life"].Num(), 1000000);
    EXPECT_TRUE(withLife["days_left"].IsNull()) << "no rate, no days";
    EXPECT_TRUE(Named(forecast["printers"], "Office")["head_life"].IsNull()) << "another model";
}

TEST_F(CliHistory, NoRecordKeepsNothingAndResetHeadNotesANewHead)
{
    ASSERT_EQ(cli.Run({"list", file, "--no-record"}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(store));
    CliResult r = cli.Run({"history", file, "--json"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Dock: no readings are kept for this printer"), std::string::npos)
        << r.err;

    ASSERT_EQ(cli.Run({"list", file, "Dock"}).status, 0);
    r = cli.Run({"reset-head", file, "Dock", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(cli.Run({"list", file, "Dock"}).status, 0);

    auto doc = Json({"history", file, "Dock", "--json"});
    const auto& dock = doc["printers"][0];
    ASSERT_EQ(dock["head_changes"].Size(), 1u);
    EXPECT_EQ(dock["head_changes"][0]["kind"].Str(), "reset");
    EXPECT_EQ(dock["head_changes"][0]["head_before"].Num(), 100);
    ASSERT_EQ(dock["readings"].Size(), 2u);
    EXPECT_EQ(dock["readings"][1]["head_usage"].Num(), 0);
    auto forecast = Json({"forecast", file, "Dock", "--json"});
    EXPECT_EQ(forecast["printers"][0]["head_since_kind"].Str(), "reset");
    EXPECT_EQ(forecast["printers"][0]["readings_used"].Num(), 1);

    // A No leaves no trace.
    ASSERT_EQ(cli.Run({"reset-head", file, "Office"}).status, 0);
    doc = Json({"history", file, "Office", "--json"});
    EXPECT_TRUE(doc["printers"][0]["head_changes"].Items().empty());
}

TEST_F(CliHistory, APrinterNeverReadShowsNoOtherPrintersNumbers)
{
    // Another file's printers: one on Dock's port, one named like the USB printer.
    {
        CReadingStore s(store);
        s.Open();
        s.RecordFill({HourAgo("OTHER-1", "Gone", "RX400", "COM3", 777, 8888),
                      HourAgo("Office", "Office", "RX400", "10.0.0.5", 777, 8888)});
    }
    CliResult r = cli.Run({"history", file, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doc = json::Parse(r.out);
    for (const char* name : {"Dock", "Office"})
    {
        EXPECT_TRUE(Named(doc["printers"], name)["readings"].Items().empty()) << name;
        EXPECT_TRUE(Named(doc["printers"], name)["serial_number"].IsNull()) << name;
        EXPECT_NE(r.err.find(std::string(name) + ": no readings are kept for this printer"),
                  std::string::npos)
            << r.err;
    }
    r = cli.Run({"forecast", file, "Dock", "--json"});
    EXPECT_TRUE(json::Parse(r.out)["printers"][0]["head_usage"].IsNull()) << r.out;
}

TEST_F(CliHistory, AnotherPrinterUnderTheKeyIsShownAsAnEarlierOneNotMixedIn)
{
    // Before today a printer with Dock's serial number had printed far more than Dock
    // has: it was another printer, whose history must neither end in a head change nor
    // be shown as Dock's.
    {
        CReadingStore s(store);
        s.Open();
        s.RecordFill({HourAgo("RX4-1", "Dock", "RX300", "COM3", 900, 50000)});
    }
    ASSERT_EQ(cli.Run({"list", file}).status, 0);
    const auto doc = Json({"history", file, "Dock", "--json"});
    EXPECT_EQ(doc["format"].Num(), 1);
    const auto& dock = Named(doc["printers"], "Dock");
    ASSERT_EQ(dock["readings"].Items().size(), 1u);
    EXPECT_EQ(dock["readings"][0]["total_usage"].Num(), 2000);
    EXPECT_TRUE(dock["head_changes"].Items().empty());
    ASSERT_EQ(dock["earlier_printers"].Items().size(), 1u);
    EXPECT_EQ(dock["earlier_printers"][0]["model"].Str(), "RX300");
    EXPECT_EQ(dock["earlier_printers"][0]["readings"].Num(), 1);
    EXPECT_FALSE(dock["earlier_printers"][0]["replaced_at"].IsNull());

    CliResult r = cli.Run({"history", file, "Dock"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Dock: an earlier printer that reported serial number RX4-1 (model "
                         "RX300"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("50000"), std::string::npos) << r.out;
}

TEST_F(CliHistory, TheForecastGivesItsRangeInEveryFormat)
{
    // Ten days of Dock at about 10 inches a day, unevenly.
    const UtcMillis now = NowUtcMillis();
    {
        CReadingStore s(store);
        s.Open();
        const int heads[] = {0, 8, 21, 30, 38, 52, 60, 69, 81, 90, 100};
        for (int day = 0; day <= 10; ++day)
        {
            OdometerReading r;
            r.time = now - (10 - day) * 86400000LL;
            r.serial = "RX4-1";
            r.name = "Dock";
            r.model = "RX400";
            r.port = "COM3";
            r.head = heads[day];
            r.total = 2000 + heads[day];
            s.RecordFill({r});
        }
        s.SetHeadLife("RX400", 1100);
    }
    auto doc = Json({"forecast", file, "Dock", "--json"});
    const auto& f = doc["printers"][0];
    ASSERT_FALSE(f["inches_per_day"].IsNull()) << "eleven readings over ten days";
    EXPECT_NEAR(f["inches_per_day"].Num(), 10, 0.5);
    EXPECT_LT(f["inches_per_day_low"].Num(), f["inches_per_day"].Num());
    EXPECT_GT(f["inches_per_day_high"].Num(), f["inches_per_day"].Num());
    EXPECT_NEAR(f["days_left"].Num(), 100, 5);
    EXPECT_LT(f["days_left_low"].Num(), f["days_left"].Num());
    EXPECT_GT(f["days_left_high"].Num(), f["days_left"].Num());
    EXPECT_EQ(f["due_date"].Str().size(), 10u);

    CliResult r = cli.Run({"forecast", file, "Dock", "--csv"});
    const auto rows = ReadCsv(r.out);
    ASSERT_EQ(rows.size(), 2u) << r.out;
    const auto column = std::find(rows[0].begin(), rows[0].end(), "Days Left Range");
    ASSERT_NE(column, rows[0].end());
    const std::string range = rows[1][std::size_t(column - rows[0].begin())];
    EXPECT_NE(range.find('-'), std::string::npos) << range;
    r = cli.Run({"forecast", file, "Dock"});
    EXPECT_NE(r.out.find(range), std::string::npos) << r.out;

    // For cron: silent and 0 while no head is due within the days, else 1 and the list.
    r = cli.Run({"forecast", file, "--due-within", "30"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = cli.Run({"forecast", file, "--due-within", "365"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("Dock"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("Office"), std::string::npos) << "not due: no readings" << r.out;
    doc = Json({"forecast", file, "--due-within", "365", "--json"}, 1);
    ASSERT_EQ(doc["printers"].Size(), 1u);
    EXPECT_EQ(doc["printers"][0]["name"].Str(), "Dock");
    for (const char* bad : {"-1", "soon", "0x10", "1e9"})
        EXPECT_EQ(cli.Run({"forecast", file, "--due-within", bad}).status, 2) << bad;

    // A consistent copy of the whole history, which never replaces a file.
    const std::string copy = cli.File("copy.sqlite");
    r = cli.Run({"history", "--backup", copy});
    ASSERT_EQ(r.status, 0) << r.err;
    {
        CReadingStore s(copy);
        s.Open(CReadingStore::OpenMode::readOnly);
        const auto dock = s.FindPrinter("RX4-1", "", "");
        ASSERT_TRUE(dock);
        EXPECT_EQ(s.History(dock->id).readings.size(), 11u);
        EXPECT_EQ(s.HeadLife("RX400"), 1100.0);
    }
    r = cli.Run({"history", "--backup", copy});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("exists already"), std::string::npos) << r.err;
    EXPECT_EQ(cli.Run({"history", file, "--backup", copy}).status, 2);
}

TEST_F(CliHistory, SetSerialCarriesThePrintersHistory)
{
    ASSERT_EQ(cli.Run({"list", file, "Dock"}).status, 0);
    CliResult r = cli.Run({"set-serial", file, "Dock", "RX4-NEW"});
    ASSERT_EQ(r.status, 0) << r.err;
    Print("Dock", 5000);
    ASSERT_EQ(cli.Run({"list", file, "Dock"}).status, 0);
    const auto doc = Json({"history", file, "Dock", "--json"});
    const auto& dock = doc["printers"][0];
    EXPECT_EQ(dock["serial_number"].Str(), "RX4-NEW");
    ASSERT_EQ(dock["readings"].Size(), 2u) << "the readings before the change came along";
    EXPECT_EQ(dock["readings"][0]["head_usage"].Num(), 100);
    EXPECT_EQ(dock["readings"][1]["head_usage"].Num(), 105);
}

TEST_F(CliHistory, DatesCutTheHistoryAndBadOnesAreUsageErrors)
{
    ASSERT_EQ(cli.Run({"list", file}).status, 0);
    auto doc = Json({"history", file, "Dock", "--json", "--since", "2000-01-01"});
    EXPECT_EQ(doc["printers"][0]["readings"].Size(), 1u);
    doc = Json({"history", file, "Dock", "--json", "--until", "2000-01-01T10:00"});
    EXPECT_TRUE(doc["printers"][0]["readings"].Items().empty());
    doc = Json({"history", file, "Dock", "--json", "--since", "2999-01-01"});
    EXPECT_TRUE(doc["printers"][0]["readings"].Items().empty());

    for (const char* bad : {"yesterday", "2024-02-30", "2024-01-01T25:00"})
    {
        CliResult r = cli.Run({"history", file, "--since", bad});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("--since"), std::string::npos) << r.err;
    }
    CliResult r = cli.Run({"history", file, "--since", "2024-05-02", "--until", "2024-05-01"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("is after --until"), std::string::npos) << r.err;
    EXPECT_EQ(cli.Run({"history", file, "--since", "2024-05-01", "--until", "2024-05-01"}).status,
              0)
        << "one whole day";
    EXPECT_EQ(cli.Run({"history", file, "--json", "--csv"}).status, 2);
    EXPECT_EQ(cli.Run({"history"}).status, 2);
    EXPECT_EQ(cli.Run({"history", file, "Nobody"}).status, 1);
}

TEST_F(CliHistory, HeadLifeIsSetShownListedAndCleared)
{
    EXPECT_EQ(cli.Run({"head-life", "RX400", "1500000"}).out, "RX400: head life 1500000 in.\n");
    EXPECT_EQ(cli.Run({"head-life", "Varko RX200;CMD:RLX;", "800000.4"}).status, 0);
    EXPECT_EQ(cli.Run({"head-life", "RX400"}).out, "RX400: head life 1500000 in.\n");
    CliResult r = cli.Run({"head-life"});
    EXPECT_NE(r.out.find("Varko RX200;CMD:RLX;  800000"), std::string::npos) << r.out;
    EXPECT_EQ(cli.Run({"head-life", "RX400", "none"}).out, "RX400: head life not set\n");
    EXPECT_EQ(cli.Run({"head-life", "RX400"}).out, "RX400: head life not set\n");
    for (const char* bad : {"0", "-5", "lots", "1e999", "", "0x10", "1e300", "inf"})
        EXPECT_EQ(cli.Run({"head-life", "RX400", bad}).status, 2) << bad;
    EXPECT_EQ(cli.Run({"head-life", "a", "1", "2"}).status, 2);
}

TEST_F(CliHistory, ADamagedStoreNeverStopsTheListAndIsToldOnce)
{
    std::filesystem::create_directories(std::filesystem::path(store).parent_path());
    const std::string garbage(4096, 'x');
    {
        std::ofstream f(store, std::ios::binary);
        f << garbage;
    }
    CliResult r = cli.Run({"list", file, "--json"});
    EXPECT_EQ(r.status, 0) << "the list itself worked";
    EXPECT_EQ(json::Parse(r.out)["printers"].Size(), 3u);
    const std::string warning = "odomira-cli: Odometer history " + store + ": the file is damaged";
    ASSERT_NE(r.err.find(warning), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(warning), r.err.rfind(warning)) << "once";
    EXPECT_NE(r.err.find("no odometer history is kept for this run"), std::string::npos);

    r = cli.Run({"history", file});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("damaged"), std::string::npos) << r.err;
    EXPECT_EQ(cli.Run({"head-life", "RX400", "10"}).status, 1);
    std::ifstream f(store, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    EXPECT_TRUE(s.str() == garbage) << "the damaged file was changed";
}
