// odomira-cli detect against the simulator's discovery answers on loopback. The search
// window is a real 10 seconds, and UDP port 4201 is shared, hence a binary of its own
// (LABEL slow, RESOURCE_LOCK discovery4201).
#include "CliRunner.h"
#include "MiniJson.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>

namespace
{
SimulatorProcess::Options WithDiscovery()
{
    SimulatorProcess::Options o;
    o.discovery = true;
    return o;
}
} // namespace

TEST(CliDetect, RenamesByPortAddsTheRestAndSendsOnlyToLoopback)
{
    std::string north = SimulatorProcess::UniqueLoopback();
    std::string south = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[Lobby]\nkind = network\naddress = " + north +
                             "\n[Yard]\nkind = network\naddress = " + south + "\n",
                         WithDiscovery());
    CliRunner cli;
    std::string file = cli.File("fleet.vps");
    ASSERT_EQ(cli.Run({"add", file, "--name", "Old name", "--network", north}).status, 0);

    CliResult r = cli.Run({"detect", file, "--broadcast", "127.255.255.255", "--no-usb"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("renamed Old name to Lobby"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("added Yard (" + south + ")"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("Searching"), std::string::npos);

    // Another simulator on this machine (the demo, say) may answer too; what matters is
    // that ours were merged by port: one printer per address, under the announced name.
    auto doc = minijson::Parse(cli.Run({"show", file, "--json"}).out);
    std::map<std::string, std::string> byAddress;
    for (const auto& p : doc["printers"].a)
    {
        EXPECT_EQ(byAddress.count(p["port"]["address"].s), 0u) << p["port"]["address"].s;
        byAddress[p["port"]["address"].s] = p["name"].s;
    }
    EXPECT_EQ(byAddress[north], "Lobby");
    EXPECT_EQ(byAddress[south], "Yard");
    EXPECT_EQ(doc["printers"][0]["name"].s, "Lobby"); // renamed in place, not re-added

    // The one request reached the simulator on the loopback broadcast address.
    auto requests = sim.Log("", "discovery-request");
    ASSERT_FALSE(requests.empty());
    for (const auto& e : requests)
        EXPECT_EQ(e.json["from"].Str().rfind("127.", 0), 0u) << e.json["from"].Str();

    // A second search finds the same printers and changes nothing.
    r = cli.Run({"detect", file, "--broadcast", "127.255.255.255", "--no-usb"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("no new printers found"), std::string::npos) << r.out;
}

TEST(CliDetect, CtrlCCancelsTheSearchAndAddsNothing)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[Lobby]\nkind = network\naddress = " + address + "\n", WithDiscovery());
    CliRunner cli;
    std::string file = cli.File("fleet.vps");
    pid_t pid = cli.Start({"detect", file, "--broadcast", "127.255.255.255", "--no-usb"});
    ASSERT_TRUE(SimulatorProcess::WaitFor(
        [&] { return cli.ErrSoFar().find("Searching") != std::string::npos; }, 10000));
    // The answer has arrived by now, but a cancelled search adds nothing.
    ASSERT_TRUE(
        sim.WaitForLog([](const SimLogEntry& e) { return e.event == "discovery-answer"; }, 5000));
    ::kill(pid, SIGINT);
    CliResult r = cli.Wait(20000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Search cancelled."), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("no new printers found"), std::string::npos);
    EXPECT_FALSE(cli.Run({"detect", "--help"}).out.empty());
}

TEST(CliDetect, RefusesABroadcastAddressThatIsNotIPv4)
{
    CliRunner cli;
    CliResult r = cli.Run({"detect", cli.File("f.vps"), "--broadcast", "everywhere"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("dotted IPv4"), std::string::npos);
}
