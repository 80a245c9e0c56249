// odomira-printer-sim: plays a fleet of label printers for tests and the demo.
// See README.md beside this file for the fleet format, the log and the control socket.
#include "Fleet.h"
#include "Simulator.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/signalfd.h>
#include <unistd.h>

namespace
{

const char* const USAGE = R"(Usage: odomira-printer-sim [options]

Plays label printers: serial, USB and parallel printers on pseudo-terminals linked
from the device override folder, network printers on loopback TCP ports, and the
UDP discovery answers. Prints what it created, then READY; stops on SIGINT/SIGTERM
and removes the links it made.

Options:
  --fleet FILE             printers from a fleet file (see README.md)
  --printer DESC           one more printer, e.g. "name=P1,kind=serial,com=3"
                           (same keys as the fleet file; \, for a comma)
  --device-dir DIR         override folder (default: $VARKO_DEVICE_DIR, else a
                           new private folder in ${TMPDIR:-/tmp}, named on
                           standard error and removed on exit)
  --log FILE               JSON-lines record of everything received and sent
  --control PATH           Unix-domain control socket (state, set, fault, power)
  --no-discovery           do not answer discovery requests
  --discovery-bind ADDR    where broadcasts are received (default 127.255.255.255;
                           0.0.0.0 inside a network namespace)
  --discovery-port N       UDP port (default 4201)
  --allow-non-loopback     allow printer and discovery addresses outside 127/8;
                           only for use inside a network namespace
  --help                   this text
)";

// The folder the programs under test are pointed at; empty when nobody chose one.
std::string ChosenDeviceDir()
{
    if (const char* d = std::getenv("VARKO_DEVICE_DIR"); d && *d)
        return d;
    return {};
}

// Never the user's own device folder by default: a link there named COM1 would stand in
// for the real port in every program the user runs, and outlive a killed simulator.
std::string MakePrivateDeviceDir()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/odomira-printer-sim.XXXXXX";
    if (!::mkdtemp(path.data()))
        return {};
    return path;
}

void RemovePrivateDeviceDir(const std::string& path)
{
    // Only empty folders go: whatever someone else put there stays.
    ::rmdir((path + "/usb").c_str());
    ::rmdir(path.c_str());
}

int Fail(const std::string& message)
{
    std::cerr << "odomira-printer-sim: " << message << "\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    printersim::Fleet fleet;
    printersim::SimulatorOptions options;
    options.deviceDir = ChosenDeviceDir();
    bool anyFleet = false;

    for (int i = 1; i < argc; ++i)
    {
        std::string a = argv[i];
        auto value = [&](std::string& out)
        {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h")
        {
            std::cout << USAGE;
            return 0;
        }
        else if (a == "--fleet")
        {
            if (!value(v))
                return Fail("--fleet needs a file");
            std::ifstream in(v, std::ios::binary);
            if (!in)
                return Fail("cannot read fleet file " + v);
            std::stringstream text;
            text << in.rdbuf();
            std::string error = printersim::ParseFleet(text.str(), fleet);
            if (!error.empty())
                return Fail(v + ": " + error);
            anyFleet = true;
        }
        else if (a == "--printer")
        {
            if (!value(v))
                return Fail("--printer needs a description");
            std::string error = printersim::ParsePrinterSpec(v, fleet);
            if (!error.empty())
                return Fail(error);
            anyFleet = true;
        }
        else if (a == "--device-dir")
        {
            if (!value(options.deviceDir))
                return Fail("--device-dir needs a folder");
        }
        else if (a == "--log")
        {
            if (!value(options.logPath))
                return Fail("--log needs a file");
        }
        else if (a == "--control")
        {
            if (!value(options.controlPath))
                return Fail("--control needs a path");
        }
        else if (a == "--no-discovery")
            options.discovery = false;
        else if (a == "--discovery-bind")
        {
            if (!value(options.discoveryBind))
                return Fail("--discovery-bind needs an address");
        }
        else if (a == "--discovery-port")
        {
            if (!value(v))
                return Fail("--discovery-port needs a number");
            char* end = nullptr;
            long p = std::strtol(v.c_str(), &end, 10);
            if (*end || p < 1 || p > 65535)
                return Fail("--discovery-port must be 1 to 65535");
            options.discoveryPort = static_cast<int>(p);
        }
        else if (a == "--allow-non-loopback")
            options.allowNonLoopback = true;
        else
            return Fail("unknown option " + a + " (see --help)");
    }
    if (!anyFleet)
        return Fail("no printers: give --fleet FILE or --printer DESC (see --help)");
    std::string privateDir;
    if (options.deviceDir.empty())
    {
        privateDir = MakePrivateDeviceDir();
        if (privateDir.empty())
            return Fail("cannot create a private device folder (give --device-dir DIR)");
        options.deviceDir = privateDir;
        std::cerr << "odomira-printer-sim: device folder " << privateDir
                  << " (point the programs at it with VARKO_DEVICE_DIR)\n";
    }

    // Signals arrive through a descriptor so the loop stops between two events, never
    // inside one, and the links are removed on the way out.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGHUP);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    int stopFd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    if (stopFd < 0)
        return Fail("signalfd failed");

    printersim::Simulator sim(std::move(fleet), options);
    std::string error = sim.Start(std::cout);
    if (error.empty())
        sim.Run(stopFd);
    sim.Cleanup();
    close(stopFd);
    if (!privateDir.empty())
        RemovePrivateDeviceDir(privateDir);
    return error.empty() ? 0 : Fail(error);
}
