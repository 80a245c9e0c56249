#pragma once
// Plays a fleet of printers until told to stop: serial, USB and parallel printers on
// pseudo-terminals published as links in the device override folder, network printers
// on loopback TCP listeners, discovery answers on UDP, a control socket for tests, and a
// JSON-lines event log.
//
// Threading: single-threaded. Run() is one poll() loop that owns every descriptor and
// every printer; nothing else touches them. Timers (slow and split answers, stalls) run
// inside that loop. Each transport (PtyTransport, NetTransport, DiscoveryTransport,
// ControlTransport) serves its descriptors; what is left here is what all printers
// share: read faults, command parsing, replies, and the control commands.
#include "ControlTransport.h"
#include "DiscoveryTransport.h"
#include "Fleet.h"
#include "NetTransport.h"
#include "PtyTransport.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace printersim
{

struct SimulatorOptions
{
    std::string deviceDir;
    std::string logPath;     // empty: no log
    std::string controlPath; // empty: no control socket
    bool discovery = true;
    std::string discoveryBind = "127.255.255.255";
    int discoveryPort = 4201;
    bool allowNonLoopback = false;
};

class Simulator : private TransportHost
{
public:
    using Clock = printersim::Clock;

    Simulator(Fleet fleet, SimulatorOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Creates every device and prints what it made, one line each, to out. Returns "" or
    // an error; on error whatever was created is removed again.
    std::string Start(std::ostream& out);
    // Serves until stopFd (a signalfd) becomes readable.
    void Run(int stopFd);
    // Removes the links, side files and control socket this run created. Idempotent.
    void Cleanup();

private:
    struct Timer
    {
        Clock::time_point at;
        std::uint64_t id;
        std::function<void()> fn;
    };

    // TransportHost
    EventLog& Log() override { return m_log; }
    void After(int ms, std::function<void()> fn) override;
    std::size_t ReadLimit(Device& d, Clock::time_point now) override;
    void Received(Device& d, const char* data, std::size_t n, Clock::time_point now) override;
    void FlushPending(Device& d) override;

    // Before polling: stalls that ended, held command prefixes that are due, and whether
    // each printer may read this round.
    void Tick(Wake& wake);
    void Consumed(Device& d, std::size_t n, Clock::time_point now);
    void StartStall(Device& d, Clock::time_point now);
    void HandleEvents(Device& d, std::vector<ParseEvent> events);
    void SendReply(Device& d, const std::string& reply);
    void ArmFaultRuntime(Device& d);
    int RunTimers();

    std::string HandleControl(const std::string& line);
    Device* Find(const std::string& name);
    std::string StateOf(const Device& d) const;

    Fleet m_fleet;
    SimulatorOptions m_options;
    EventLog m_log;
    std::vector<std::unique_ptr<Device>> m_devices;
    std::vector<Timer> m_timers;
    std::uint64_t m_nextTimer = 1;
    PtyTransport m_pty;
    NetTransport m_net;
    std::optional<DiscoveryTransport> m_discovery;
    std::optional<ControlTransport> m_control;
    bool m_stopRequested = false;
};

} // namespace printersim
