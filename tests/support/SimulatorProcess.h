#pragma once
// Runs the printer simulator (build/bin/odomira-printer-sim) for one test and talks to
// it. Uses only the standard library and POSIX, never library classes, so a fault in the
// library cannot hide in the way the test looks at the device.
//
//     SimulatorProcess sim("[P1]\nkind = serial\ncom = 3\nserial = ABC\n");
//     std::string com3 = sim.Path("P1");          // <device dir>/COM3 -> pty
//     ... drive the library ...
//     EXPECT_EQ(sim.State("P1").serial, "XYZ");
//     EXPECT_EQ(sim.CommandBytes("P1"), std::vector<std::string>{"\nURS\n"});
//     sim.Fault("P1", "slow 800");   sim.Power("P1", false);
//
// The constructor writes the fleet text to a private temporary folder, starts the
// simulator and waits at
// most Options::readyTimeoutMs for its READY line; a simulator that fails to start
// throws std::runtime_error carrying its error output. The destructor stops it (SIGTERM,
// then SIGKILL after 3 s), which removes the device links, and deletes the folder.
//
// Device folder: by default each simulator gets its own subfolder of the test's
// VARKO_DEVICE_DIR (<VARKO_DEVICE_DIR>/sim-<pid>-<n>), so two simulators never share a
// link, and VARKO_DEVICE_DIR is set to that subfolder in this process for the
// simulator's lifetime (restored by the destructor). Create the simulator before
// starting threads that read the environment. Network printers need an address no
// parallel test uses: UniqueLoopback() gives one per process.
//
// Discovery answers are off unless Options::discovery is set, so that simulators of
// tests running side by side do not answer each other's broadcasts. Tests that use
// discovery share UDP port 4201: register them with RESOURCE_LOCK discovery4201.
//
// Threading: use an object from one thread at a time. Every call is blocking and
// bounded (control requests 5 s). The simulator is told to stop when the thread that
// created the object ends (so a crashed test leaves no simulator behind): create it on
// a thread that outlives it, normally the test's own.
#include "Json.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// A parsed JSON value as the simulator writes it (state replies and log lines), read
// with byte escapes so that texts come back as the exact bytes the simulator holds.
// operator[] throws for a missing member; Get() gives null for one.
using SimJson = json::Value;

// One line of the simulator's event log (see tools/printer-sim/README.md).
struct SimLogEntry
{
    long long seq = 0;
    long long ms = 0;
    std::string event;   // "command", "data", "reply", "open", "close", "drop", ...
    std::string printer; // empty for events of no printer
    std::string command; // "URS", "URL", "heS", "~WC", ... for event "command"
    std::string bytes;   // the "hex" field decoded: exact bytes received or sent
    SimJson json;        // everything else
};

// A printer's state as the simulator reports it.
struct SimPrinterState
{
    std::string name, kind, power, serial, model, history, faults;
    int openClients = 0; // clients holding the device now (network: 1 while connected)
    double headInches = 0, totalInches = 0;
    long long headMm = 0, totalMm = 0;
    std::uint64_t labelBytes = 0;
    std::uint32_t labelCrc32 = 0;
    // serial_queries, odometer_queries, history_queries, odometer_reports,
    // history_reports, test_pages_rlx, test_pages_tpx, calibrations, serial_sets,
    // head_resets, label_bytes, bytes_received, connections, replies_sent
    std::map<std::string, std::uint64_t> counters;
    std::uint64_t Counter(const std::string& key) const;
};

// What the simulator created for one printer, from its start-up lines.
struct SimDevice
{
    std::string kind;     // serial, usb, parallel, network
    std::string name;     // printer name
    std::string portName; // COM3, LPT1, usb/lp0, or address:port
    bool poweredAtStart = true;
    std::string path;    // link in the device folder (empty for network)
    std::string pty;     // /dev/pts/N behind the link
    std::string sidecar; // USB: <link>.ieee1284
    std::string address; // network: dotted address
    int tcpPort = 0;
};

class SimulatorProcess
{
public:
    struct Options
    {
        bool discovery = false;
        int readyTimeoutMs = 10000;
        // Empty: a fresh subfolder of $VARKO_DEVICE_DIR, exported as VARKO_DEVICE_DIR (see
        // above). Otherwise this folder is used as it is and the environment is untouched.
        std::string deviceDir;
        std::vector<std::string> extraArgs; // e.g. {"--discovery-port", "14201"}
        // Runs the simulator through this command (searched in PATH), e.g.
        // {"ip", "netns", "exec", "tp1"} to put it into a network namespace.
        std::vector<std::string> launcher;
    };

    explicit SimulatorProcess(const std::string& fleetText);
    SimulatorProcess(const std::string& fleetText, Options options);
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    const std::vector<SimDevice>& Devices() const { return m_devices; }
    const SimDevice& Device(const std::string& name) const; // throws if unknown
    std::string Path(const std::string& name) const { return Device(name).path; }
    const std::string& DeviceDir() const { return m_deviceDir; }
    const std::string& LogPath() const { return m_logPath; }
    const std::string& StartupText() const { return m_stdout; }
    pid_t Pid() const { return m_pid; }

    // One control request; returns the reply line's JSON. Throws std::runtime_error on
    // a transport failure or when the simulator answers {"ok":false,...}.
    SimJson Control(const std::string& line);
    // The same without judging the answer: the raw reply line (without its line end).
    std::string ControlRaw(const std::string& line);
    SimPrinterState State(const std::string& name);
    std::vector<SimPrinterState> States();
    void Fault(const std::string& name, const std::string& mode);
    void Power(const std::string& name, bool on);
    void Set(const std::string& name, const std::string& key, const std::string& value);
    // Writes {"event":"mark","text":...} into the log, to separate phases of a test.
    void Mark(const std::string& text);

    // The log as it is now; filters are ignored when empty.
    std::vector<SimLogEntry> Log(const std::string& printer = "",
                                 const std::string& event = "") const;
    // The exact bytes of every command a printer received, in order.
    std::vector<std::string> CommandBytes(const std::string& printer) const;
    // Polls pred every 10 ms until it holds or timeoutMs passes; returns its last value.
    static bool WaitFor(const std::function<bool()>& pred, int timeoutMs);
    bool WaitForLog(const std::function<bool(const SimLogEntry&)>& pred, int timeoutMs) const;

    // zlib-compatible CRC-32, as the simulator keeps over label data.
    static std::uint32_t Crc32(const void* data, std::size_t length, std::uint32_t crc = 0);
    static std::uint32_t Crc32(const std::string& bytes)
    {
        return Crc32(bytes.data(), bytes.size());
    }
    // A loopback address (127.a.b.n, n >= 2) that no other test process uses: a and b
    // come from the process id, n counts up from 2 with each call.
    static std::string UniqueLoopback();
    // Quotes a token for a control line (names with spaces, values with line ends).
    static std::string Quote(const std::string& token);

    // Stops the simulator now (SIGTERM, SIGKILL after 3 s). Returns its exit status as
    // waitpid reports it. Idempotent.
    int Stop();
    bool Running() const;

private:
    void Launch(const std::string& fleetText);
    void ParseStartup();
    void RestoreDeviceDir();

    Options m_options;
    std::string m_tempDir;
    std::string m_deviceDir;
    std::string m_logPath;
    std::string m_controlPath;
    std::string m_stderrPath;
    std::string m_stdout;
    std::vector<SimDevice> m_devices;
    pid_t m_pid = -1;
    int m_status = 0;
    bool m_ownDeviceDir = false;
    bool m_hadDeviceEnv = false;
    std::string m_previousDeviceEnv;
};
