#pragma once
// What the simulator's loop drives. Each way printers and tests reach the simulator
// (pseudo-terminals, TCP, UDP discovery, the control socket) is one Transport: it names
// the descriptors to poll this round, each with what to do when it is ready, and tidies
// up after the round. The loop itself only runs timers, lets the shared read faults
// decide which printers may read, polls and dispatches.
//
// Threading: single-threaded, like the loop.
#include "Device.h"
#include "EventLog.h"

#include <functional>
#include <poll.h>
#include <string>
#include <vector>

struct in_addr;

namespace printersim
{

// The most a transport reads from one client at a time.
constexpr std::size_t READ_CHUNK = 65536;

// The latest time the loop must wake: the next timer, stall end, held command prefix.
class Wake
{
public:
    // timeoutMs: what the timers ask for, -1 for nothing due.
    Wake(Clock::time_point now, int timeoutMs) : m_now(now), m_timeout(timeoutMs) {}
    Clock::time_point Now() const { return m_now; }
    void At(Clock::time_point t);
    // For poll(): once a second when nothing is due.
    int PollTimeout() const { return m_timeout < 0 ? 1000 : m_timeout; }

private:
    Clock::time_point m_now;
    int m_timeout;
};

// The descriptors of one round.
class PollSet
{
public:
    using Handler = std::function<void(short revents)>;
    // first: handled before every other descriptor of the round, as the opens and closes
    // of a device must be before the bytes its client wrote after opening it.
    void Add(int fd, short events, Handler onReady, bool first = false);
    // ::poll() over everything added; its result.
    int Poll(int timeoutMs);
    // Runs the handler of every ready descriptor: the first ones, then the rest in the
    // order they were added.
    void Dispatch();

private:
    std::vector<pollfd> m_fds;
    std::vector<Handler> m_handlers;
    std::vector<bool> m_first;
};

// What transports need of the simulator around them: the log, timers, and the handling
// of received bytes that all printers share (read faults, command parsing, replies).
class TransportHost
{
public:
    virtual EventLog& Log() = 0;
    virtual void After(int ms, std::function<void()> fn) = 0;
    // How many bytes d may take now; 0 while a fault holds reading back.
    virtual std::size_t ReadLimit(Device& d, Clock::time_point now) = 0;
    // Bytes d's client sent, read at now: counted against the faults, then parsed.
    virtual void Received(Device& d, const char* data, std::size_t n, Clock::time_point now) = 0;
    // The client has gone: a command prefix still held back is label data after all.
    virtual void FlushPending(Device& d) = 0;

protected:
    ~TransportHost() = default;
};

class Transport
{
public:
    virtual ~Transport() = default;
    // The descriptors to poll this round (Device::readable says whether a printer may
    // read), with their handlers.
    virtual void AddFds(PollSet& set) = 0;
    // After every handler of the round has run.
    virtual void AfterRound() {}
};

std::string Errno(const std::string& what);
void CloseFd(int& fd);
std::string Dotted(const in_addr& a);

} // namespace printersim
