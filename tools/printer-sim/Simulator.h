#pragma once
// Plays a fleet of printers until told to stop: serial, USB and parallel printers on
// pseudo-terminals published as links in the device override folder, network printers
// on loopback TCP listeners, discovery answers on UDP, a control socket for tests, and a
// JSON-lines event log.
//
// Threading: single-threaded. Run() is one poll() loop that owns every descriptor and
// every printer; nothing else touches them. Timers (slow and split answers, stalls) run
// inside that loop.
#include "CommandParser.h"
#include "EventLog.h"
#include "Fleet.h"
#include "SimPrinter.h"

#include <chrono>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

struct sockaddr_in;

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

class Simulator
{
public:
    using Clock = std::chrono::steady_clock;

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
    struct Device;
    struct ControlClient;
    struct Timer
    {
        Clock::time_point at;
        std::uint64_t id;
        std::function<void()> fn;
    };

    std::string StartPty(Device& d);
    std::string PublishPty(Device& d);
    std::string WriteSidecar(Device& d);
    void UnpublishPty(Device& d);
    std::string StartListener(Device& d);
    void StopNetwork(Device& d, bool reset);
    std::string StartDiscovery();
    std::string StartControl();

    void OnPtyReadable(Device& d);
    void OnPtyWritable(Device& d);
    void OnInotify();
    void OnAccept(Device& d);
    void OnConnectionReadable(Device& d);
    void DropConnection(Device& d);
    void CloseConnection(Device& d, const char* why);
    void OnDiscoveryReadable(int fd, Device* only);
    void AnswerDiscovery(Device& d, const ::sockaddr_in& to);
    void OnControlAccept();
    void OnControlReadable(ControlClient& c);
    std::string HandleControl(const std::string& line);

    std::size_t ReadLimit(Device& d, Clock::time_point now);
    void Consumed(Device& d, std::size_t n, Clock::time_point now);
    void StartStall(Device& d, Clock::time_point now);
    void SendXoff(Device& d);
    void Feed(Device& d, const char* data, std::size_t n);
    void HandleEvents(Device& d, std::vector<ParseEvent> events);
    void SendReply(Device& d, const std::string& reply);
    void WriteReplyPart(Device& d, const std::string& part, int index, int parts);
    void ArmFaultRuntime(Device& d);

    void After(int ms, std::function<void()> fn);
    int RunTimers();

    Device* Find(const std::string& name);
    std::string StateOf(const Device& d) const;

    Fleet m_fleet;
    SimulatorOptions m_options;
    EventLog m_log;
    std::vector<std::unique_ptr<Device>> m_devices;
    std::vector<std::unique_ptr<ControlClient>> m_clients;
    std::vector<Timer> m_timers;
    std::uint64_t m_nextTimer = 1;
    int m_inotifyFd = -1;
    int m_discoveryFd = -1;
    int m_controlFd = -1;
    bool m_controlCreated = false;
    bool m_stopRequested = false;
};

} // namespace printersim
