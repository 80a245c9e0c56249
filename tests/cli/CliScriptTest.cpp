// odomira-cli as scripts, cron and service managers run it: what the exit status and the
// machine-readable outputs promise when a printer stays silent, the lock is held, or
// the results cannot be written.
#include "CliRunner.h"
#include "CsvReader.h"
#include "InstanceLock.h"
#include "Json.h"
#include "SimulatorProcess.h"
#include "UtcTime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <regex>
#include <thread>
#include <unistd.h>

namespace
{
using namespace std::chrono;

class CliScript : public ::testing::Test
{
protected:
    CliScript()
        : sim("[Dock]\nkind = serial\ncom = 3\nmodel = RX400\nserial = RX4-1\nhead = 100\n"
              "total = 2000\n"
              "[Office]\nkind = usb\nlink = lp0\nmodel = RX200\nserial = RX2-9\nhead = 5\n"
              "total = 60\n"
              "[Line]\nkind = parallel\nlpt = 2\nserial = TP1\n")
    {
        file = cli.File("fleet.vps");
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
};
} // namespace

TEST_F(CliScript, APrinterThatNeverAnswersIsAFailureNamedOnStandardError)
{
    ASSERT_EQ(cli.Run({"list", file, "--csv"}).status, 0);
    // The library gives up on a silent line without an error: nothing but the empty
    // answers tells it from a printer without a serial number.
    sim.Fault("Office", "silent");
    CliResult r = cli.Run({"list", file, "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "odomira-cli: Office: did not answer: it gave neither its serial number "
                     "nor its odometers\n");
    const auto doc = json::Parse(r.out);
    const auto& office = Named(doc["printers"], "Office");
    EXPECT_EQ(office["state"].Str(), "no_answer");
    EXPECT_EQ(office["serial_number_state"].Str(), "no_answer");
    EXPECT_EQ(office["odometers_state"].Str(), "no_answer");
    EXPECT_TRUE(office["serial_number"].IsNull());
    EXPECT_TRUE(office["head_usage"].IsNull());
    EXPECT_EQ(Named(doc["printers"], "Dock")["state"].Str(), "ok");

    // The table keeps the window's texts for it.
    r = cli.Run({"list", file, "Office"});
    EXPECT_EQ(r.status, 1);
    const std::string row = r.out.substr(r.out.find("\nOffice") + 1);
    EXPECT_TRUE(std::regex_search(row, std::regex("USB +Not Set +N/A +N/A\n$"))) << r.out;

    // Monitoring sees it as read before, but not at the fleet's latest reading; it asks
    // no printer for that.
    const auto asked = sim.State("Dock").Counter("bytes_received");
    r = cli.Run({"metrics", file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim.State("Dock").Counter("bytes_received"), asked);
    auto has = [&](const std::string& pattern)
    { return std::regex_search(r.out, std::regex(pattern)); };
    EXPECT_TRUE(has("\nodomira_printer_answered\\{name=\"Office\",[^\n]*\\} 0\n")) << r.out;
    EXPECT_TRUE(has("\nodomira_printer_answered\\{name=\"Dock\",[^\n]*\\} 1\n")) << r.out;
    EXPECT_TRUE(has("\nodomira_last_reading_timestamp_seconds\\{name=\"Office\",")) << r.out;
}

TEST_F(CliScript, CsvAndJsonCarryFixedNamesValuesOnlyAndTheirState)
{
    sim.Power("Office", false);
    const UtcMillis before = NowUtcMillis() / 1000 * 1000;
    CliResult r = cli.Run({"list", file, "--csv", "--units", "mm"});
    EXPECT_EQ(r.status, 1) << r.err;
    const auto rows = ReadCsv(r.out);
    ASSERT_EQ(rows.size(), 4u) << r.out;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"name", "model", "port", "serial_number",
                                                 "total_usage", "head_usage", "units", "state"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"Dock", "RX400", "COM3", "RX4-1", "50800", "2540",
                                                 "mm", "ok"}));
    // Where the table says Error! and N/A, the cells are empty and the state says why.
    EXPECT_EQ(rows[2], (std::vector<std::string>{"Office", "", "USB", "", "", "", "mm", "error"}));
    EXPECT_EQ(rows[3],
              (std::vector<std::string>{"Line", "", "LPT2", "", "", "", "mm", "not_available"}));

    sim.Power("Office", true);
    r = cli.Run({"list", "-j", file});
    ASSERT_EQ(r.status, 0) << r.err;
    const UtcMillis after = NowUtcMillis();
    const auto doc = json::Parse(r.out);
    EXPECT_EQ(doc["format"].Num(), 1);
    const std::string readAt = Named(doc["printers"], "Dock")["read_at"].Str();
    ASSERT_TRUE(std::regex_match(readAt, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")))
        << readAt;
    EXPECT_GE(*ParseUtc(readAt), before);
    EXPECT_LE(*ParseUtc(readAt), after);
    EXPECT_TRUE(Named(doc["printers"], "Line")["read_at"].IsNull()) << "never read";
    EXPECT_EQ(Named(doc["printers"], "Line")["state"].Str(), "not_available");
    EXPECT_EQ(json::Parse(cli.Run({"show", "-j", file}).out)["format"].Num(), 1);
}

TEST_F(CliScript, AHeldLockIsTryAgainLaterAndWaitLockWaitsForIt)
{
    // The lock the window holds while it is open.
    auto window = std::make_unique<CInstanceLock>("VarkoPrinters");
    ASSERT_EQ(window->Acquire(), CInstanceLock::eAcquired);
    const std::string message = "another program that uses the printers is running";

    CliResult r = cli.Run({"list", file});
    EXPECT_EQ(r.status, 75);
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(cli.Run({"remove", file, "Line"}).status, 75);
    EXPECT_EQ(cli.Run({"reset-head", file, "Dock", "--yes"}).status, 75);
    EXPECT_EQ(cli.Run({"show", file}).status, 0) << "needs no lock";
    EXPECT_EQ(cli.Run({"metrics", file}).status, 0) << "needs no lock";

    auto start = steady_clock::now();
    r = cli.Run({"list", file, "--wait-lock", "1", "-q"});
    EXPECT_EQ(r.status, 75);
    EXPECT_GE(steady_clock::now() - start, milliseconds(1000));
    EXPECT_EQ(r.err.find("Waiting"), std::string::npos) << "--quiet: errors only\n" << r.err;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;

    // Released while a command waits: it goes on at once.
    start = steady_clock::now();
    cli.Start({"list", file, "--wait-lock", "60"});
    std::this_thread::sleep_for(milliseconds(1500));
    window.reset();
    r = cli.Wait(60000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Waiting up to 60 s"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("RX4-1"), std::string::npos) << r.out;
    EXPECT_LT(steady_clock::now() - start, seconds(20));

    for (const char* bad : {"-1", "soon", "+3", ""})
        EXPECT_EQ(cli.Run({"list", file, "--wait-lock", bad}).status, 2) << bad;
    EXPECT_EQ(cli.Run({"show", file, "--wait-lock", "5"}).status, 2) << "show takes no lock";
}

TEST_F(CliScript, ResultsThatCannotBeWrittenAreAFailure)
{
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"show", file}, {"list", file, "Dock", "-j"}, {"--help"}})
    {
        CliResult r = cli.RunWithStdout(args, full, false);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, "odomira-cli: cannot write the results to standard output: No space "
                         "left on device\n")
            << args[0];
    }
    ::close(full);

    // A reader that has gone: SIGPIPE ends the tool as it ends any filter, unless it is
    // ignored, and then the failed write must still fail the command.
    for (bool ignored : {false, true})
    {
        int pipe[2];
        ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
        ::close(pipe[0]);
        CliResult r = cli.RunWithStdout({"show", file}, pipe[1], ignored);
        ::close(pipe[1]);
        if (ignored)
        {
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.err.find("cannot write the results to standard output: Broken pipe"),
                      std::string::npos)
                << r.err;
        }
        else
            EXPECT_EQ(r.status, 128 + SIGPIPE) << r.err;
    }
}
