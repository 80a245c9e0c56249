// The running simulator, driven through its pseudo-terminals and sockets directly (never
// through the library), so that what the library's tests rely on is pinned down here:
// the bytes of every answer, the odometer arithmetic, what the log records.
#include "SimClient.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace simtest;

namespace
{

const char* const SERIAL_FLEET = "[Front Desk]\n"
                                 "kind = serial\n"
                                 "com = 3\n"
                                 "serial = ABC123\n"
                                 "head = 12345\n"
                                 "total = 678901\n"
                                 "history = Head 1 {head} {unit}\\r\\nAll {total} {unit}\\r\\n\n";

bool Exists(const std::string& path)
{
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0;
}

// errno of an open of path by uid 65534, or 0 if it succeeded.
int OpenAsNobody(const std::string& path)
{
    pid_t pid = ::fork();
    if (pid == 0)
    {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(100);
        int fd = OpenDevice(path);
        ::_exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

TEST(PrinterSim, SerialPrinterAnswersEveryQueryWithExactBytes)
{
    SimulatorProcess sim(SERIAL_FLEET);
    const std::string com3 = sim.Path("Front Desk");
    EXPECT_EQ(com3, sim.DeviceDir() + "/COM3");

    EXPECT_EQ(Exchange(com3, "\nURS\n"), "ABC123\r\n");
    EXPECT_EQ(Exchange(com3, "\nURLi\n"), "Head usage = 12,345\r\nTotal usage = 678,901\r\n");
    EXPECT_EQ(Exchange(com3, "\nURLm\n"), "Head usage = 313,563\r\nTotal usage = 17,244,085\r\n");
    EXPECT_EQ(Exchange(com3, "\nURHi\n"), "Head 1 12,345 in\r\nAll 678,901 in\r\n");
    EXPECT_EQ(Exchange(com3, "\nURHm\n"), "Head 1 313,563 mm\r\nAll 17,244,085 mm\r\n");

    EXPECT_EQ(
        sim.CommandBytes("Front Desk"),
        (std::vector<std::string>{"\nURS\n", "\nURLi\n", "\nURLm\n", "\nURHi\n", "\nURHm\n"}));
    auto s = sim.State("Front Desk");
    EXPECT_EQ(s.Counter("serial_queries"), 1u);
    EXPECT_EQ(s.Counter("odometer_queries"), 2u);
    EXPECT_EQ(s.Counter("history_queries"), 2u);
    EXPECT_EQ(s.labelBytes, 0u);
    // Each exchange shows up as one open and one close of the device.
    EXPECT_EQ(sim.Log("Front Desk", "open").size(), 5u);
    EXPECT_TRUE(SimulatorProcess::WaitFor(
        [&] { return sim.Log("Front Desk", "close").size() == 5u; }, 2000));
    EXPECT_EQ(sim.State("Front Desk").openClients, 0);
    int fd = OpenDevice(com3);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(
        SimulatorProcess::WaitFor([&] { return sim.State("Front Desk").openClients == 1; }, 1000));
    ::close(fd);
}

TEST(PrinterSim, SetSerialNumberUndoesTheEscaping)
{
    SimulatorProcess sim(SERIAL_FLEET);
    const std::string com3 = sim.Path("Front Desk");
    // x " y \ z, escaped as the library sends it: 15 bytes.
    const std::string set = "\nheS\"x\\\"y\\\\z\"\r\n";
    ASSERT_EQ(set.size(), 15u);
    EXPECT_EQ(Exchange(com3, set, 100, 300), ""); // no answer
    EXPECT_EQ(Exchange(com3, "\nURS\n"), "x\"y\\z\r\n");
    EXPECT_EQ(sim.State("Front Desk").serial, "x\"y\\z");
    auto commands = sim.Log("Front Desk", "command");
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].command, "heS");
    EXPECT_EQ(commands[0].bytes, set);
    EXPECT_EQ(commands[0].json["serial"].Str(), "x\"y\\z");
}

TEST(PrinterSim, LabelDataMovesOdometersAndHeadResetKeepsTotal)
{
    SimulatorProcess sim("[P]\nkind = usb\nhead = 10\ntotal = 100\n");
    const std::string lp = sim.Path("P");
    std::string label;
    for (int i = 0; i < 5000; ++i)
        label += static_cast<char>('A' + i % 26);
    label[100] = '\n'; // line feeds in label data are data unless they spell a command
    int fd = OpenDevice(lp);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, label));
    ASSERT_TRUE(WriteAll(fd, "\nURLi\n"));
    // 5000 bytes at 1 inch per 1000: 15 and 105 inches.
    EXPECT_EQ(ReadFor(fd, 150, 2000), "Head usage = 15\r\nTotal usage = 105\r\n");
    ::close(fd);
    auto s = sim.State("P");
    EXPECT_EQ(s.labelBytes, 5000u);
    EXPECT_EQ(s.labelCrc32, SimulatorProcess::Crc32(label));
    EXPECT_DOUBLE_EQ(s.headInches, 15.0);

    EXPECT_EQ(Exchange(lp, "\noLr\r\n", 100, 300), "");
    EXPECT_EQ(Exchange(lp, "\nURLm\n"), "Head usage = 0\r\nTotal usage = 2,667\r\n"); // 105 * 25.4
    s = sim.State("P");
    EXPECT_EQ(s.Counter("head_resets"), 1u);
    EXPECT_EQ(s.headMm, 0);
    EXPECT_EQ(s.totalMm, 2667);

    // The log accounts for every label byte, in order, before the query.
    std::uint64_t logged = 0;
    for (const auto& e : sim.Log("P", "data"))
        logged += static_cast<std::uint64_t>(e.json["count"].Int());
    EXPECT_EQ(logged, 5000u);
}

TEST(PrinterSim, PrintingCommandsAreCountedAndNeverAnswered)
{
    SimulatorProcess sim(SERIAL_FLEET);
    int fd = OpenDevice(sim.Path("Front Desk"));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "\nURLip\n\nURLmp\n\nURHip\n\nURHmp\n\nU\n~WC\nxa\n"));
    EXPECT_EQ(ReadFor(fd, 100, 400), "");
    ::close(fd);
    auto s = sim.State("Front Desk");
    EXPECT_EQ(s.Counter("odometer_reports"), 2u);
    EXPECT_EQ(s.Counter("history_reports"), 2u);
    EXPECT_EQ(s.Counter("test_pages_rlx"), 1u);
    EXPECT_EQ(s.Counter("test_pages_tpx"), 1u);
    EXPECT_EQ(s.Counter("calibrations"), 1u);
    EXPECT_EQ(s.labelBytes, 0u);
    EXPECT_EQ(sim.CommandBytes("Front Desk"),
              (std::vector<std::string>{"\nURLip\n", "\nURLmp\n", "\nURHip\n", "\nURHmp\n", "\nU\n",
                                        "~WC", "\nxa\n"}));
}

TEST(PrinterSim, CommandSplitOverWritesIsStillOneCommand)
{
    SimulatorProcess sim(SERIAL_FLEET);
    int fd = OpenDevice(sim.Path("Front Desk"));
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(WriteAll(fd, "\nUR"));
    usleep(50 * 1000); // the rest comes in a read of its own
    ASSERT_TRUE(WriteAll(fd, "S\n"));
    EXPECT_EQ(ReadFor(fd, 150, 2000), "ABC123\r\n");
    // A prefix that is never completed turns into label data once the line is idle.
    ASSERT_TRUE(WriteAll(fd, "\nUR"));
    EXPECT_TRUE(
        SimulatorProcess::WaitFor([&] { return sim.State("Front Desk").labelBytes == 3u; }, 2000));
    ::close(fd);
}

TEST(PrinterSim, UsbPrinterPublishesLinkAndDeviceId)
{
    SimulatorProcess sim("[Back]\nkind = usb\nlink = lp3\nserial = U1\n"
                         "ieee1284 = MFG:Varko;MDL:RX400;CMD:RLX;CLS:PRINTER;\n");
    const SimDevice& d = sim.Device("Back");
    EXPECT_EQ(d.path, sim.DeviceDir() + "/usb/lp3");
    EXPECT_EQ(d.sidecar, sim.DeviceDir() + "/usb/lp3.ieee1284");
    FILE* f = std::fopen(d.sidecar.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[200];
    std::size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    const std::string id = "MFG:Varko;MDL:RX400;CMD:RLX;CLS:PRINTER;";
    // Big-endian length that counts its own two bytes, then the text, no NUL.
    ASSERT_EQ(n, id.size() + 2);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0);
    EXPECT_EQ(static_cast<unsigned char>(buf[1]), id.size() + 2);
    EXPECT_EQ(std::string(buf + 2, n - 2), id);
    EXPECT_EQ(Exchange(d.path, "\nURS\n"), "U1\r\n");

    // Changed at run time; "none" plays a device that refuses the request.
    sim.Set("Back", "ieee1284", "MFG:Other;MDL:Z9;");
    f = std::fopen(d.sidecar.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    EXPECT_EQ(std::string(buf, n), std::string("\0\x13", 2) + "MFG:Other;MDL:Z9;");
    sim.Set("Back", "ieee1284", "none");
    EXPECT_FALSE(Exists(d.sidecar));
    EXPECT_TRUE(Exists(d.path));
}

TEST(PrinterSim, ParallelAndNetworkPrintersTakeCommandsButNeverAnswer)
{
    const std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[L]\nkind = parallel\nlpt = 2\n"
                         "[N]\nkind = network\naddress = " +
                         address + "\nport = 9100\n");
    EXPECT_EQ(sim.Path("L"), sim.DeviceDir() + "/LPT2");
    EXPECT_EQ(Exchange(sim.Path("L"), "\nURS\n", 100, 400), "");

    const SimDevice& n = sim.Device("N");
    EXPECT_EQ(n.address, address);
    EXPECT_EQ(n.tcpPort, 9100);
    int fd = ConnectTcp(address, 9100);
    ASSERT_GE(fd, 0) << std::strerror(errno);
    std::string job = "label one\nURLi\n~WC";
    ASSERT_EQ(::send(fd, job.data(), job.size(), 0), static_cast<ssize_t>(job.size()));
    ::shutdown(fd, SHUT_WR);
    // The printer closes once the client has shut down its side, without a byte back.
    char c;
    EXPECT_EQ(::recv(fd, &c, 1, 0), 0);
    ::close(fd);

    EXPECT_EQ(sim.CommandBytes("L"), std::vector<std::string>{"\nURS\n"});
    EXPECT_EQ(sim.CommandBytes("N"), (std::vector<std::string>{"\nURLi\n", "~WC"}));
    EXPECT_EQ(sim.Log("L", "reply").size(), 0u);
    EXPECT_EQ(sim.Log("N", "reply").size(), 0u);
    auto s = sim.State("N");
    EXPECT_EQ(s.labelBytes, 9u);
    EXPECT_EQ(s.Counter("connections"), 1u);
    auto closes = sim.Log("N", "close");
    ASSERT_EQ(closes.size(), 1u);
    EXPECT_EQ(closes[0].json["reason"].Str(), "eof");
    EXPECT_EQ(closes[0].json["bytes"].Int(), static_cast<long long>(job.size()));
}

TEST(PrinterSim, ExclusiveUseEndsWhenTheClientCloses)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to open the device as a second user";
    SimulatorProcess sim("[S]\nkind = serial\nmode = 0666\n");
    const std::string path = sim.Path("S");
    int fd = OpenDevice(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ioctl(fd, TIOCEXCL), 0);
    EXPECT_EQ(OpenAsNobody(path), EBUSY);
    ::close(fd);
    // The simulator holds the pty open, so the flag would outlive the client; it drops it
    // when the last client has gone, as a real line's driver does.
    ASSERT_TRUE(sim.WaitForLog([](const SimLogEntry& e) { return e.event == "close"; }, 2000));
    EXPECT_TRUE(SimulatorProcess::WaitFor([&] { return OpenAsNobody(path) == 0; }, 1000));
}

TEST(PrinterSim, ControlSocketSetsStateAndRejectsNonsense)
{
    SimulatorProcess sim(SERIAL_FLEET);
    sim.Set("Front Desk", "serial", "NEW 1");
    sim.Set("Front Desk", "head", "2.5");
    sim.Set("Front Desk", "total", "1000.4");
    sim.Set("Front Desk", "history", "a\r\nb");
    const std::string com3 = sim.Path("Front Desk");
    EXPECT_EQ(Exchange(com3, "\nURS\n"), "NEW 1\r\n");
    EXPECT_EQ(Exchange(com3, "\nURLi\n"), "Head usage = 3\r\nTotal usage = 1,000\r\n");
    EXPECT_EQ(Exchange(com3, "\nURHi\n"), "a\r\nb");

    EXPECT_THROW(sim.Set("Nobody", "serial", "x"), std::runtime_error);
    EXPECT_THROW(sim.Set("Front Desk", "head", "-3"), std::runtime_error);
    EXPECT_THROW(sim.Fault("Front Desk", "wobble"), std::runtime_error);
    EXPECT_NE(sim.ControlRaw("frobnicate").find("\"ok\":false"), std::string::npos);
    EXPECT_EQ(sim.States().size(), 1u);
}

TEST(PrinterSim, StopsCleanlyAndRemovesOnlyItsOwnLinks)
{
    std::string dir;
    std::string foreign;
    {
        SimulatorProcess sim(
            "[S]\nkind = serial\ncom = 4\n[U]\nkind = usb\n[L]\nkind = parallel\n");
        dir = sim.DeviceDir();
        foreign = dir + "/COM9";
        ASSERT_EQ(::symlink("/dev/null", foreign.c_str()), 0);
        EXPECT_TRUE(Exists(dir + "/COM4"));
        EXPECT_TRUE(Exists(dir + "/usb/lp0"));
        EXPECT_TRUE(Exists(dir + "/usb/lp0.ieee1284"));
        EXPECT_TRUE(Exists(dir + "/LPT1"));
        int status = sim.Stop();
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_FALSE(Exists(dir + "/COM4"));
        EXPECT_FALSE(Exists(dir + "/usb/lp0"));
        EXPECT_FALSE(Exists(dir + "/usb/lp0.ieee1284"));
        EXPECT_FALSE(Exists(dir + "/LPT1"));
        EXPECT_TRUE(Exists(foreign));
        ::unlink(foreign.c_str());
    }
}

TEST(PrinterSim, RefusesToStartOnABadFleet)
{
    try
    {
        SimulatorProcess sim("[A]\nkind = network\naddress = 192.168.7.7\n");
        FAIL() << "started with a LAN address";
    }
    catch (const std::runtime_error& e)
    {
        EXPECT_NE(std::string(e.what()).find("loopback"), std::string::npos) << e.what();
    }
    EXPECT_THROW(SimulatorProcess("[A]\nkind = serial\n[A]\nkind = usb\n"), std::runtime_error);
}

TEST(PrinterSim, HelpDescribesTheOptions)
{
    std::string cmd = std::string(std::getenv("ODOMIRA_BIN_DIR")) + "/odomira-printer-sim --help";
    FILE* p = ::popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string text;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        text.append(buf, n);
    int status = ::pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    for (const char* option : {"--fleet", "--printer", "--log", "--control", "--discovery-bind",
                               "--allow-non-loopback", "--device-dir"})
        EXPECT_NE(text.find(option), std::string::npos) << option;
}

TEST(PrinterSim, WithoutAFolderGivenItsLinksGoToAPrivateTemporaryOne)
{
    char pattern[] = "/tmp/odomira-sim-home-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string scratch = pattern;
    struct Remove
    {
        std::string path;
        ~Remove()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } removeScratch{scratch};
    const std::string home = scratch + "/home";
    const std::string tmp = scratch + "/tmp";
    ASSERT_EQ(::mkdir(home.c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0);
    const std::string program =
        std::string(std::getenv("ODOMIRA_BIN_DIR")) + "/odomira-printer-sim";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    pid_t pid = ::fork();
    if (pid == 0)
    {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::unsetenv("VARKO_DEVICE_DIR");
        ::unsetenv("XDG_CONFIG_HOME");
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("TMPDIR", tmp.c_str(), 1);
        ::execl(program.c_str(), program.c_str(), "--no-discovery", "--printer",
                "name=P,kind=serial,com=3", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    pollfd p = {out[0], POLLIN, 0};
    while (text.find("READY\n") == std::string::npos && ::poll(&p, 1, 10000) > 0)
    {
        char buf[512];
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    const std::string prefix = tmp + "/odomira-printer-sim.";
    const std::size_t at = text.find(prefix);
    const std::string dir = at == std::string::npos
                                ? std::string()
                                : text.substr(at, text.find('/', at + prefix.size()) - at);
    struct stat st = {};
    const bool made = !dir.empty() && ::lstat(dir.c_str(), &st) == 0;
    const bool linked = made && Exists(dir + "/COM3");
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(out[0]);

    ASSERT_TRUE(made) << text;
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u) << "others must not reach the devices";
    EXPECT_TRUE(linked) << text;
    EXPECT_FALSE(Exists(home + "/.config")) << "the user's own device folder was touched";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_FALSE(Exists(dir)) << "the private folder outlived the simulator";
}
