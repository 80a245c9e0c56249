// odomira-cli detect against the simulator's discovery answers on loopback. The search
// window is a real 10 seconds, and UDP port 4201 is shared, hence a binary of its own
// (LABEL slow, RESOURCE_LOCK discovery4201). Other developers' test runs on the same
// machine broadcast and answer on loopback too, so each search runs in a network
// namespace of its own with only a loopback interface: nothing from outside reaches
// it, and nothing it sends leaves it.
#include "CliRunner.h"
#include "Json.h"
#include "SimulatorOptions.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace
{
bool WriteProcFile(const char* path, const std::string& text)
{
    int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// Moves this test process (and so the simulator and the tool it starts) into a new
// network namespace with its loopback interface up. Empty text on success, else why not.
std::string EnterPrivateLoopback()
{
    if (::unshare(CLONE_NEWNET) != 0)
    {
        // Without the right to make one directly, a user namespace grants it.
        uid_t uid = ::getuid();
        gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0)
            return std::string("unshare: ") + std::strerror(errno);
        if (!WriteProcFile("/proc/self/setgroups", "deny") ||
            !WriteProcFile("/proc/self/uid_map",
                           std::to_string(uid) + " " + std::to_string(uid) + " 1") ||
            !WriteProcFile("/proc/self/gid_map",
                           std::to_string(gid) + " " + std::to_string(gid) + " 1"))
            return "cannot map the user in the new namespace";
    }
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::string("socket: ") + std::strerror(errno);
    struct ifreq ifr = {};
    std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
    ifr.ifr_flags |= IFF_UP;
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
    std::string why = up ? std::string() : std::string("lo up: ") + std::strerror(errno);
    ::close(fd);
    return why;
}

#define ENTER_PRIVATE_LOOPBACK()                                                                   \
    do                                                                                             \
    {                                                                                              \
        if (std::string why = EnterPrivateLoopback(); !why.empty())                                \
            GTEST_SKIP() << "no private network namespace here (" << why << ")";                   \
    } while (0)
} // namespace

TEST(CliDetect, RenamesByPortAddsTheRestAndSendsOnlyToLoopback)
{
    ENTER_PRIVATE_LOOPBACK();
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

    // Merged by port: one printer per address, under the announced name.
    auto doc = json::Parse(cli.Run({"show", file, "--json"}).out);
    ASSERT_EQ(doc["printers"].Size(), 2u);
    std::map<std::string, std::string> byAddress;
    for (const auto& p : doc["printers"].Items())
    {
        EXPECT_EQ(byAddress.count(p["port"]["address"].Str()), 0u) << p["port"]["address"].Str();
        byAddress[p["port"]["address"].Str()] = p["name"].Str();
    }
    EXPECT_EQ(byAddress[north], "Lobby");
    EXPECT_EQ(byAddress[south], "Yard");
    EXPECT_EQ(doc["printers"][0]["name"].Str(), "Lobby"); // renamed in place, not re-added

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
    ENTER_PRIVATE_LOOPBACK();
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

namespace
{
// Printers whose connections are never accepted nor refused (each connect waits until it
// gives up), plus one real printer and answers that claim addresses no printer has.
std::string HostileFleet(std::string& real)
{
    std::string fleet;
    for (int i = 1; i <= 4; ++i)
        fleet += "[Tarpit " + std::to_string(i) +
                 "]\nkind = network\naddress = " + SimulatorProcess::UniqueLoopback() +
                 "\nfault = tarpit\n";
    for (const char* claim : {"224.0.0.1", "255.255.255.255", "127.255.255.255", "0.1.2.3"})
        fleet += std::string("[Claims ") + claim +
                 "]\nkind = network\naddress = " + SimulatorProcess::UniqueLoopback() +
                 "\nfault = discovery claim " + claim + "\n";
    real = SimulatorProcess::UniqueLoopback();
    return fleet + "[Real]\nkind = network\naddress = " + real + "\n";
}

long long SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            start)
        .count();
}
} // namespace

// Answers come from anyone on the network: a handful that lead nowhere must not hold the
// search (and the lock) for a connect time-out each, and an answer that claims a
// broadcast or multicast address is no printer.
TEST(CliDetect, AnswersThatLeadNowhereCostSecondsAndNonUnicastClaimsAreDropped)
{
    ENTER_PRIVATE_LOOPBACK();
    std::string real;
    SimulatorProcess sim(HostileFleet(real), WithDiscovery());
    CliRunner cli;
    std::string file = cli.File("fleet.vps");
    const auto start = std::chrono::steady_clock::now();
    CliResult r = cli.Run({"detect", file, "--broadcast", "127.255.255.255", "--no-usb"}, 110000);
    const long long took = SecondsSince(start);
    EXPECT_EQ(r.status, 0) << r.err;
    // The 10-second search, then at most 5 seconds of test connections, side by side.
    EXPECT_LE(took, 18) << r.err;
    EXPECT_NE(r.out.find("added Real (" + real + ")"), std::string::npos) << r.out;
    auto doc = json::Parse(cli.Run({"show", file, "--json"}).out);
    ASSERT_EQ(doc["printers"].Size(), 1u) << r.out;
    EXPECT_EQ(doc["printers"][0]["port"]["address"].Str(), real);
    EXPECT_EQ(r.err.find("224.0.0.1"), std::string::npos) << r.err;
}

TEST(CliDetect, CtrlCDuringTheConnectionTestsEndsThemAtOnce)
{
    ENTER_PRIVATE_LOOPBACK();
    std::string real;
    SimulatorProcess sim(HostileFleet(real), WithDiscovery());
    CliRunner cli;
    std::string file = cli.File("fleet.vps");
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = cli.Start({"detect", file, "--broadcast", "127.255.255.255", "--no-usb"});
    ASSERT_TRUE(SimulatorProcess::WaitFor(
        [&] { return cli.ErrSoFar().find("Searching") != std::string::npos; }, 10000));
    // The search window is over after ten seconds; the test connections then wait on
    // printers that never answer.
    while (SecondsSince(start) < 12)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto interrupted = std::chrono::steady_clock::now();
    ::kill(pid, SIGINT);
    CliResult r = cli.Wait(20000);
    EXPECT_LE(SecondsSince(interrupted), 2) << r.err;
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Search cancelled."), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("no new printers found"), std::string::npos) << r.out;
}

TEST(CliDetect, RefusesABroadcastAddressThatIsNotIPv4)
{
    CliRunner cli;
    CliResult r = cli.Run({"detect", cli.File("f.vps"), "--broadcast", "everywhere"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("dotted IPv4"), std::string::npos);
}

TEST(CliDetect, FindsUsbPrintersOfTheDeviceFolderOnce)
{
    ENTER_PRIVATE_LOOPBACK();
    SimulatorProcess sim("[Front]\nkind = usb\nlink = lp0\n[Back]\nkind = usb\nlink = lp1\n");
    CliRunner cli;
    std::string file = cli.File("fleet.vps");
    ASSERT_EQ(cli.Run({"add", file, "--name", "Front desk", "--usb", sim.Path("Front")}).status, 0);

    CliResult r = cli.Run({"detect", file, "--broadcast", "127.255.255.255"});
    ASSERT_EQ(r.status, 0) << r.err;
    // Real USB printers of this machine may be listed too; only ours are looked at.
    auto doc = json::Parse(cli.Run({"show", file, "--json"}).out);
    std::map<std::string, std::vector<std::string>> namesByPath;
    for (const auto& p : doc["printers"].Items())
        namesByPath[p["port"]["device_path"].Str()].push_back(p["name"].Str());
    EXPECT_EQ(namesByPath[sim.Path("Front")], std::vector<std::string>{"Front desk"});
    ASSERT_EQ(namesByPath[sim.Path("Back")].size(), 1u);
    // USB detection carries no name: the new printer gets the default one.
    EXPECT_EQ(namesByPath[sim.Path("Back")][0].rfind("Printer#", 0), 0u);
    EXPECT_NE(
        r.out.find("added " + namesByPath[sim.Path("Back")][0] + " (USB " + sim.Path("Back") + ")"),
        std::string::npos)
        << r.out;
}
