// odomira-cli end to end: the built tool against the printer simulator, as a user or a
// script runs it (no terminal on standard input).
#include "CliRunner.h"
#include "Json.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

namespace
{
std::string FleetText(const std::string& address)
{
    return "[Dock]\nkind = serial\ncom = 3\nserial = RX4-1\nhead = 100\ntotal = 2000\n"
           "history = Head history\\r\\nHead: {head} {unit}\\r\\n\n"
           "[Office]\nkind = usb\nlink = lp0\nmodel = RX200\nserial = RX2-9\nhead = 5\n"
           "total = 60\n"
           "[Line]\nkind = parallel\nlpt = 2\nserial = TP1\n"
           "[North]\nkind = network\naddress = " +
           address + "\nserial = RX6\n";
}

class CliSim : public ::testing::Test
{
protected:
    CliSim() : address(SimulatorProcess::UniqueLoopback()), sim(FleetText(address))
    {
        file = cli.File("fleet.vps");
    }

    // Adds the four printers of the fleet; every add must succeed.
    void AddAll()
    {
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {"add", file, "--name", "Dock", "--serial", "COM3"},
                 {"add", file, "--name", "Office", "--usb", sim.Path("Office")},
                 {"add", file, "--name", "Line", "--parallel", "LPT2", "--model", "TP10"},
                 {"add", file, "--name", "North", "--network", address + ":9100"}})
        {
            CliResult r = cli.Run(args);
            ASSERT_EQ(r.status, 0) << r.err;
        }
    }

    static const json::Value* Find(const json::Value& printers, const std::string& name)
    {
        for (const auto& p : printers.Items())
            if (p["name"].Str() == name)
                return &p;
        return nullptr;
    }

    std::string address;
    SimulatorProcess sim;
    CliRunner cli;
    std::string file;
};
} // namespace

TEST_F(CliSim, ListShowsSerialNumbersAndOdometersAndParsesBackAsJson)
{
    AddAll();
    CliResult r = cli.Run({"list", file, "--json", "--units", "mm"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto doc = json::Parse(r.out);
    EXPECT_EQ(doc["units"].Str(), "mm");
    ASSERT_EQ(doc["printers"].Size(), 4u);
    // In the file's order.
    EXPECT_EQ(doc["printers"][0]["name"].Str(), "Dock");
    EXPECT_EQ(doc["printers"][3]["name"].Str(), "North");

    const auto& dock = *Find(doc["printers"], "Dock");
    EXPECT_EQ(dock["port"].Str(), "COM3");
    EXPECT_EQ(dock["serial_number"].Str(), "RX4-1");
    EXPECT_EQ(dock["head_usage"].Num(), 2540);   // 100 in
    EXPECT_EQ(dock["total_usage"].Num(), 50800); // 2000 in
    EXPECT_TRUE(dock["error"].IsNull());

    const auto& office = *Find(doc["printers"], "Office");
    EXPECT_EQ(office["port"].Str(), "USB");
    EXPECT_EQ(office["serial_number"].Str(), "RX2-9");
    EXPECT_EQ(office["total_usage"].Num(), 1524);

    for (const char* oneWay : {"Line", "North"})
    {
        const auto& p = *Find(doc["printers"], oneWay);
        EXPECT_TRUE(p["serial_number"].IsNull()) << oneWay;
        EXPECT_EQ(p["serial_number_state"].Str(), "not_available");
        EXPECT_TRUE(p["head_usage"].IsNull());
        EXPECT_TRUE(p["total_usage"].IsNull());
    }
    EXPECT_EQ(Find(doc["printers"], "North")->operator[]("port").Str(), address);
    // Printers that cannot answer were never asked.
    EXPECT_EQ(sim.State("Line").Counter("serial_queries"), 0u);
    EXPECT_EQ(sim.State("North").Counter("connections"), 0u);

    // The table: headings with the unit, "N/A" for what cannot be known.
    r = cli.Run({"list", file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Total Usage (in.)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Head Usage (in.)"), std::string::npos);
    EXPECT_NE(r.out.find("RX4-1"), std::string::npos);
    EXPECT_NE(r.out.find("N/A"), std::string::npos);

    r = cli.Run({"list", file, "--csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("name,model,port,serial_number,total_usage,head_usage,units,state\n", 0),
              0u)
        << r.out;
    EXPECT_NE(r.out.find("Dock,,COM3,RX4-1,2000,100,in,ok\n"), std::string::npos) << r.out;
}

TEST_F(CliSim, ShowGivesStoredFieldsWithoutTalkingToPrinters)
{
    AddAll();
    ASSERT_EQ(cli.Run({"add", file, "--name", "Slow", "--serial", "com7", "--baud", "19200",
                       "--data-bits", "7", "--parity", "even", "--stop-bits", "2", "--flow", "xon"})
                  .status,
              0);
    auto before = sim.State("Dock").Counter("bytes_received");
    CliResult r = cli.Run({"show", file, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto doc = json::Parse(r.out);
    const auto& slow = *Find(doc["printers"], "Slow");
    EXPECT_EQ(slow["port_class"].Str(), "CSerialPort");
    EXPECT_EQ(slow["port"]["device_path"].Str(), "\\\\.\\COM7");
    EXPECT_EQ(slow["port"]["port_name"].Str(), "COM7");
    EXPECT_EQ(slow["port"]["baud_rate"].Num(), 19200);
    EXPECT_EQ(slow["port"]["data_bits"].Num(), 7);
    EXPECT_EQ(slow["port"]["parity"].Str(), "even");
    EXPECT_EQ(slow["port"]["stop_bits"].Num(), 2);
    EXPECT_EQ(slow["port"]["flow_control"].Str(), "xon");
    EXPECT_FALSE(slow["calibrate"].Bool());
    const auto& dock = *Find(doc["printers"], "Dock");
    EXPECT_EQ(dock["port"]["baud_rate"].Num(), 9600);
    EXPECT_EQ(dock["port"]["flow_control"].Str(), "hardware");
    const auto& north = *Find(doc["printers"], "North");
    EXPECT_EQ(north["port_class"].Str(), "CNetworkPort");
    EXPECT_EQ(north["port"]["address"].Str(), address);
    EXPECT_EQ(north["port"]["tcp_port"].Num(), 9100);
    EXPECT_EQ(Find(doc["printers"], "Office")->operator[]("port")["device_path"].Str(),
              sim.Path("Office"));
    EXPECT_EQ(Find(doc["printers"], "Line")->operator[]("model").Str(), "TP10");
    EXPECT_EQ(sim.State("Dock").Counter("bytes_received"), before);
}

TEST_F(CliSim, RefusedAddsLeaveTheFileByteForByte)
{
    AddAll();
    const std::string original = CliRunner::ReadFile(file);
    struct Case
    {
        std::vector<std::string> args;
        int status;
        const char* message;
    };
    const Case cases[] = {
        {{"--name", "Dock", "--serial", "COM9"}, 1, "That printer name has already been used."},
        {{"--name", "Other", "--serial", "com3"}, 1, "That printer port has already been used."},
        {{"--name", "Fast", "--serial", "COM9", "--baud", "9601"}, 1, "Invalid Baud Rate setting."},
        {{"--name", "Fast", "--serial", "COM9", "--data-bits", "9"}, 1, "Invalid Data bits"},
        {{"--name", "Fast", "--serial", "COM9", "--parity", "mark"}, 1, "Invalid Parity"},
        {{"--name", "Fast", "--serial", "COM9", "--stop-bits", "3"}, 1, "Invalid Stop bits"},
        {{"--name", "Fast", "--serial", "COM9", "--flow", "none"}, 1, "Invalid Flow control"},
        {{"--name", "Two", "--serial", "COM9", "--parallel", "LPT1"}, 2, "exactly one port"},
        {{"--name", "Net", "--network", "10.0.0"}, 2, "dotted IPv4"},
        {{"--name", "Net", "--network", "10.0.0.1:70000"}, 2, "1 to 65535"},
        {{"--name", "Par", "--parallel", "LPT1", "--baud", "9600"}, 2, "--serial ports only"},
        {{"--serial", "COM9"}, 2, "--name is required"},
    };
    for (const auto& c : cases)
    {
        std::vector<std::string> args = {"add", file};
        args.insert(args.end(), c.args.begin(), c.args.end());
        CliResult r = cli.Run(args);
        EXPECT_EQ(r.status, c.status) << c.message << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(CliRunner::ReadFile(file), original) << c.message;
    }
}

TEST_F(CliSim, BadFileIsReportedAndNeverOverwritten)
{
    const std::string garbage = std::string("\x05\x00\x00\x00\x09Printer#1", 14);
    CliRunner::WriteFile(file, garbage);
    for (const auto& args :
         std::vector<std::vector<std::string>>{{"list", file},
                                               {"show", file},
                                               {"add", file, "--name", "X", "--serial", "COM9"},
                                               {"remove", file, "Printer#1"}})
    {
        CliResult r = cli.Run(args);
        EXPECT_EQ(r.status, 1) << args[0] << r.err;
        EXPECT_NE(r.err.find(file), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "") << args[0];
        EXPECT_EQ(CliRunner::ReadFile(file), garbage) << args[0];
    }
    CliResult r = cli.Run({"list", cli.File("missing.vps")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("missing.vps"), std::string::npos);
}

TEST_F(CliSim, UnknownNameAndSwitchedOffPrinterDoNotStopTheBatch)
{
    ASSERT_EQ(cli.Run({"add", file, "--name", "Dock", "--serial", "COM3"}).status, 0);
    ASSERT_EQ(cli.Run({"add", file, "--name", "Office", "--usb", sim.Path("Office")}).status, 0);
    ASSERT_EQ(cli.Run({"add", file, "--name", "Line", "--parallel", "LPT2"}).status, 0);
    // Office sits between Dock and Line in the file.
    sim.Power("Office", false);

    CliResult r = cli.Run({"list", file, "--json"});
    EXPECT_EQ(r.status, 1);
    auto doc = json::Parse(r.out);
    ASSERT_EQ(doc["printers"].Size(), 3u);
    EXPECT_EQ(Find(doc["printers"], "Dock")->operator[]("serial_number").Str(), "RX4-1");
    const auto& off = *Find(doc["printers"], "Office");
    EXPECT_EQ(off["serial_number_state"].Str(), "error");
    EXPECT_EQ(off["odometers_state"].Str(), "error");
    EXPECT_EQ(off["error"].Str(), "That port is unavailable.");
    // One line, naming the printer, with the library's message.
    EXPECT_EQ(r.err, "odomira-cli: Office: That port is unavailable.\n");

    r = cli.Run({"list", file});
    EXPECT_NE(r.out.find("Error!"), std::string::npos);

    r = cli.Run({"print-odometers", file, "Dock", "Nobody", "Office", "Line"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("odomira-cli: Nobody: no printer of that name"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("odomira-cli: Office: That port is unavailable."), std::string::npos)
        << r.err;
    EXPECT_EQ(sim.State("Dock").Counter("odometer_reports"), 1u);
    EXPECT_EQ(sim.State("Line").Counter("odometer_reports"), 1u);
    EXPECT_NE(r.out.find("Dock: odometer report requested"), std::string::npos);
    EXPECT_EQ(r.out.find("Office:"), std::string::npos);

    r = cli.Run({"print-head-history", file, "--units", "mm"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(sim.State("Dock").Counter("history_reports"), 1u);
    EXPECT_EQ(sim.State("Line").Counter("history_reports"), 1u);
    EXPECT_NE(sim.CommandBytes("Dock").back().find("URHmp"), std::string::npos);

    sim.Power("Office", true);
    r = cli.Run({"list", file, "Office", "--csv"});
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(CliSim, SerialNumberHeadHistoryResetAndTestPages)
{
    AddAll();
    CliResult r = cli.Run({"set-serial", file, "Dock", "NEW\"7\\x"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim.State("Dock").serial, "NEW\"7\\x");
    r = cli.Run({"set-serial", file, "Dock", std::string(33, 'A')});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(sim.State("Dock").serial, "NEW\"7\\x");

    r = cli.Run({"head-history", file, "Dock", "--units", "mm"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Head history\nHead: 2,540 mm\n");
    r = cli.Run({"head-history", file, "Line"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "N/A\n");

    // No terminal and no --yes: the question counts as No and nothing is sent.
    r = cli.Run({"reset-head", file, "Dock", "Office"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Dock: Are you sure you want to Reset the Head Odometer? no"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(sim.State("Dock").Counter("head_resets"), 0u);
    EXPECT_NE(r.out.find("Dock: left as it was"), std::string::npos);
    r = cli.Run({"reset-head", file, "Dock", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim.State("Dock").Counter("head_resets"), 1u);
    EXPECT_EQ(sim.State("Dock").headInches, 0);
    EXPECT_EQ(sim.State("Office").Counter("head_resets"), 0u);
    EXPECT_NE(r.out.find("Dock: head odometer reset"), std::string::npos);

    // At a terminal the question is asked there, once per printer.
    r = cli.RunAtTerminal({"reset-head", file, "Dock", "Office"}, "y\nmaybe\nno\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim.State("Dock").Counter("head_resets"), 2u);
    EXPECT_EQ(sim.State("Office").Counter("head_resets"), 0u);
    EXPECT_NE(r.err.find("Office: Are you sure you want to Reset the Head Odometer? [y/N]"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("Office: left as it was"), std::string::npos);

    r = cli.Run({"test-page", file});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* n : {"Dock", "Office", "Line", "North"})
        EXPECT_EQ(sim.State(n).Counter("test_pages_rlx"), 1u) << n;
    r = cli.Run({"test-page", file, "North", "--tpx"});
    EXPECT_EQ(sim.State("North").Counter("test_pages_tpx"), 1u);
    EXPECT_EQ(sim.State("Dock").Counter("test_pages_tpx"), 0u);

    r = cli.Run({"remove", file, "North", "Ghost"});
    EXPECT_EQ(r.status, 1);
    r = cli.Run({"show", file, "--json"});
    auto doc = json::Parse(r.out);
    EXPECT_EQ(doc["printers"].Size(), 3u);
    EXPECT_EQ(Find(doc["printers"], "North"), nullptr);
}

TEST_F(CliSim, SendDeliversTheFileAndClearsItsDownloadFile)
{
    AddAll();
    std::string label(30000, '\0');
    for (std::size_t i = 0; i < label.size(); ++i)
        label[i] = static_cast<char>('A' + i % 26);
    std::string labelPath = cli.File("label.prn");
    CliRunner::WriteFile(labelPath, label);

    CliResult r = cli.Run({"send", file, "--file", labelPath, "Dock", "North", "--max", "1"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (const char* n : {"Dock", "North"})
    {
        auto st = sim.State(n);
        EXPECT_EQ(st.labelBytes, label.size()) << n;
        EXPECT_EQ(st.labelCrc32, SimulatorProcess::Crc32(label)) << n;
        EXPECT_NE(r.err.find(std::string(n) + ": done"), std::string::npos) << r.err;
    }
    EXPECT_EQ(sim.State("Office").labelBytes, 0u);
    // Plain progress lines without a terminal.
    EXPECT_NE(r.err.find("Dock: sending 30000 bytes"), std::string::npos) << r.err;
    auto doc = json::Parse(cli.Run({"show", file, "--json"}).out);
    EXPECT_EQ(Find(doc["printers"], "Dock")->operator[]("download_file").Str(), "");

    // A printer that is off keeps its download file for next time.
    sim.Power("Dock", false);
    r = cli.Run({"send", file, "--file", labelPath, "Dock"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Dock: failed"), std::string::npos) << r.err;
    doc = json::Parse(cli.Run({"show", file, "--json"}).out);
    EXPECT_NE(Find(doc["printers"], "Dock")->operator[]("download_file").Str(), "");

    r = cli.Run({"send", file, "--file", cli.File("nothing-here.prn")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("cannot be read"), std::string::npos);
    r = cli.Run({"send", file, "--file", labelPath, "--max", "0"});
    EXPECT_EQ(r.status, 2);
}

TEST_F(CliSim, CtrlCCancelsARunningSendAndAnotherProgramIsLockedOut)
{
    AddAll();
    std::string labelPath = cli.File("big.prn");
    CliRunner::WriteFile(labelPath, std::string(400000, 'x'));
    // 20 kB/s through a pty, whose small buffer cannot take the file at once: the
    // transfer takes far longer than the test waits.
    sim.Fault("Dock", "throttle 20000");
    pid_t pid = cli.Start({"send", file, "--file", labelPath, "Dock"});
    ASSERT_TRUE(SimulatorProcess::WaitFor(
        [&] { return cli.ErrSoFar().find("Dock: sending") != std::string::npos; }, 15000))
        << cli.ErrSoFar();

    // While it runs, a second program on the same machine is refused clearly.
    {
        CliRunner other;
        other.SetEnv("XDG_RUNTIME_DIR", cli.Dir() + "/run");
        CliResult locked = other.Run({"list", file});
        EXPECT_EQ(locked.status, 75);
        EXPECT_NE(locked.err.find("another program"), std::string::npos) << locked.err;
        // show asks no printer and needs no lock.
        EXPECT_EQ(other.Run({"show", file}).status, 0);
    }

    auto interrupted = std::chrono::steady_clock::now();
    ASSERT_EQ(::kill(pid, SIGINT), 0);
    CliResult r = cli.Wait(30000);
    auto took = std::chrono::steady_clock::now() - interrupted;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Cancelling"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Dock: cancelled"), std::string::npos) << r.err;
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_LT(sim.State("Dock").labelBytes, 400000u);
    // The cancelled printer keeps its download file.
    auto doc = json::Parse(cli.Run({"show", file, "--json"}).out);
    EXPECT_NE(Find(doc["printers"], "Dock")->operator[]("download_file").Str(), "");
}
