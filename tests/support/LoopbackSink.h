#pragma once
// Printers that take raw-print connections on 127.0.0.1 and read everything they are
// sent, for the network download tests and the download benchmark: listeners on ports
// the system picks, and one loop that accepts on all of them, reads every connection to
// its end and tells what arrived. Tests serve it on a thread of their own; the
// benchmark serves it in a child process (SinkProcess), so that the sender's CPU time
// is its own.
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

class LoopbackSink
{
public:
    // A connection that ended: which listener took it, how many bytes it brought, and
    // when its end was read (CLOCK_MONOTONIC seconds, the same clock in every process).
    struct Ended
    {
        int listener;
        long long bytes;
        double at;
    };
    struct Handlers
    {
        // Called for each connection accepted; false drops it at once (a printer that
        // hangs up), and a dropped connection is not reported as ended.
        std::function<bool(int listener)> accepted;
        // Each piece of data, as it is read.
        std::function<void(const char* data, std::size_t size)> received;
        std::function<void(const Ended&)> ended;
    };

    explicit LoopbackSink(int listeners = 1);
    ~LoopbackSink();
    LoopbackSink(const LoopbackSink&) = delete;
    LoopbackSink& operator=(const LoopbackSink&) = delete;

    // False when a listener could not be set up.
    bool Ok() const { return m_ok; }
    int Port(int i = 0) const { return m_ports[static_cast<std::size_t>(i)]; }

    // Accepts and reads until stopFd becomes readable or is closed by its other end.
    void Serve(int stopFd, const Handlers& handlers);
    // Closes the listeners in this process (after another one has taken them over).
    void CloseListeners();

private:
    std::vector<int> m_listeners;
    std::vector<int> m_ports;
    bool m_ok = true;
};

// A LoopbackSink served in a child process, which reports every connection that ended
// through a pipe. Bounded: the child ends when this object goes. Exits the program when
// the sink cannot be set up or a connection never ends (it serves benchmarks only).
class SinkProcess
{
public:
    using Ended = LoopbackSink::Ended;

    explicit SinkProcess(int count);
    ~SinkProcess();
    SinkProcess(const SinkProcess&) = delete;
    SinkProcess& operator=(const SinkProcess&) = delete;

    int Port(int i) const { return m_sink.Port(i); }
    // The next count connections that end, waiting at most 120 s for each.
    std::vector<Ended> Collect(int count);

private:
    LoopbackSink m_sink;
    int m_control = -1;
    int m_results = -1;
    pid_t m_pid = -1;
};
