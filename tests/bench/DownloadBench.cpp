// Download throughput, measured, not asserted: how much the download job with its
// 1024-byte pieces and the throttle cost against a plain copy of the same file to a
// loopback TCP sink, and what a fleet of eight printers achieves at throttle limits 1, 2
// and 8. The sinks run in a child process, so the CPU time reported is the sender's.
//
//     download_bench [--size-mib 64] [--fleet-mib 16] [--port network|plain]
//                    [--idle-fleet 10000]
//
// --port network sends through the library's network port (the path a printer uses);
// --port plain through a bare blocking-send port, which isolates the job's own cost.
#include "CNetworkPort.h"
#include "CVarkoPrinter.h"
#include "CWnd.h"
#include "ThreadMessages.h"
#include "UserPrompt.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

// Counts the end notices of all printers.
class EndCounter : public CWnd
{
public:
    ~EndCounter() override { DetachHandle(); }
    void WaitFor(int count)
    {
        std::unique_lock g(m_lock);
        m_changed.wait(g, [&] { return m_ends >= count; });
    }
    int Failures() const
    {
        std::lock_guard g(m_lock);
        return m_failures;
    }

private:
    void OnPostedMessage(UINT message, WPARAM, LPARAM lParam) override
    {
        if (message != WM_DOWNLOAD_END)
            return;
        {
            std::lock_guard g(m_lock);
            ++m_ends;
            if (lParam != eDownloadSucceeded)
                ++m_failures;
        }
        m_changed.notify_all();
    }
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    int m_ends = 0;
    int m_failures = 0;
};

// The simplest port that can feed a TCP sink: blocking connect and send.
class PlainTcpPort : public CPortBase
{
public:
    explicit PlainTcpPort(int tcpPort) : m_tcpPort(tcpPort) {}
    void Open() override
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(m_tcpPort));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            ThrowPortError(WSAECONNREFUSED);
    }
    void Close() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    void Write(const void* buffer, DWORD count, DWORD& written) override
    {
        ssize_t n = ::send(m_fd, buffer, count, MSG_NOSIGNAL);
        if (n < 0)
            ThrowPortError(WSAECONNRESET);
        written = static_cast<DWORD>(n);
    }
    bool IsOpen() const override { return m_fd >= 0; }

private:
    int m_tcpPort;
    int m_fd = -1;
};

// Listeners on 127.0.0.1; a child process accepts on all of them and throws the bytes
// away. Bounded: the child ends when the parent closes the control pipe.
class SinkProcess
{
public:
    explicit SinkProcess(int count)
    {
        for (int i = 0; i < count; ++i)
        {
            int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            int one = 1;
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0)
            {
                std::perror("sink");
                std::exit(2);
            }
            socklen_t len = sizeof a;
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
            m_listeners.push_back(fd);
            m_ports.push_back(ntohs(a.sin_port));
        }
        int control[2];
        if (::pipe(control) != 0)
            std::exit(2);
        m_pid = ::fork();
        if (m_pid == 0)
        {
            ::close(control[1]);
            Serve(control[0]);
            _exit(0);
        }
        ::close(control[0]);
        m_control = control[1];
        for (int fd : m_listeners)
            ::close(fd);
    }
    ~SinkProcess()
    {
        ::close(m_control);
        int status;
        ::waitpid(m_pid, &status, 0);
    }
    int Port(int i) const { return m_ports[static_cast<std::size_t>(i)]; }

private:
    void Serve(int control)
    {
        std::vector<pollfd> fds;
        fds.push_back({control, POLLIN, 0});
        for (int fd : m_listeners)
            fds.push_back({fd, POLLIN, 0});
        std::vector<char> buffer(1 << 20);
        for (;;)
        {
            if (::poll(fds.data(), fds.size(), -1) < 0)
                continue;
            if (fds[0].revents)
                return; // parent closed the pipe
            std::size_t n = fds.size();
            for (std::size_t i = 1 + m_listeners.size(); i < n; ++i)
            {
                if (!fds[i].revents)
                    continue;
                ssize_t r = ::read(fds[i].fd, buffer.data(), buffer.size());
                if (r <= 0)
                {
                    ::close(fds[i].fd);
                    fds[i].fd = -1;
                }
            }
            for (std::size_t i = 1; i <= m_listeners.size(); ++i)
                if (fds[i].revents & POLLIN)
                {
                    int c = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
                    if (c >= 0)
                        fds.push_back({c, POLLIN, 0});
                }
            std::erase_if(fds, [](const pollfd& p) { return p.fd < 0; });
        }
    }

    std::vector<int> m_listeners;
    std::vector<int> m_ports;
    int m_control = -1;
    pid_t m_pid = -1;
};

long RssKiB()
{
    long kib = 0;
    if (FILE* f = std::fopen("/proc/self/status", "r"))
    {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::sscanf(line, "VmRSS: %ld kB", &kib) == 1)
                break;
        std::fclose(f);
    }
    return kib;
}

// What a large fleet costs while it waits for jobs: every printer has its own thread.
void IdleFleet(int count)
{
    EndCounter window;
    std::vector<std::unique_ptr<CVarkoPrinter>> fleet;
    long rss0 = RssKiB();
    auto t0 = Clock::now();
    for (int i = 0; i < count; ++i)
    {
        fleet.push_back(std::make_unique<CVarkoPrinter>(&window));
        fleet.back()->SetPort(new PlainTcpPort(9));
        fleet.back()->StartThread();
    }
    double started = std::chrono::duration<double>(Clock::now() - t0).count();
    long rss = RssKiB() - rss0;
    t0 = Clock::now();
    for (auto& p : fleet)
        p->StopThreads();
    double stopped = std::chrono::duration<double>(Clock::now() - t0).count();
    std::printf("%d idle printer threads: started in %.2f s, stopped in %.2f s, resident "
                "%.1f MiB (%.1f KiB each)\n",
                count, started, stopped, rss / 1024.0, static_cast<double>(rss) / count);
}

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string MakeFile(const std::string& path, std::size_t bytes)
{
    std::vector<char> block(1 << 20);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<char>('A' + (i * 7 + i / 1024) % 26);
    FILE* f = std::fopen(path.c_str(), "wb");
    for (std::size_t left = bytes; left > 0;)
    {
        std::size_t n = std::min(left, block.size());
        std::fwrite(block.data(), 1, n, f);
        left -= n;
    }
    std::fclose(f);
    return path;
}

double PlainCopySeconds(const std::string& file, int tcpPort, bool& usedSocat)
{
    auto t0 = Clock::now();
    usedSocat = ::access("/usr/bin/socat", X_OK) == 0;
    if (usedSocat)
    {
        std::string cmd =
            "/usr/bin/socat -u FILE:'" + file + "' TCP:127.0.0.1:" + std::to_string(tcpPort);
        if (std::system(cmd.c_str()) != 0)
            std::fprintf(stderr, "socat failed\n");
    }
    else
    {
        PlainTcpPort port(tcpPort);
        port.Open();
        int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        std::vector<char> buffer(1 << 16);
        for (ssize_t n; (n = ::read(fd, buffer.data(), buffer.size())) > 0;)
            for (ssize_t off = 0; off < n;)
            {
                DWORD w = 0;
                port.Write(buffer.data() + off, static_cast<DWORD>(n - off), w);
                off += w;
            }
        ::close(fd);
        port.Close();
    }
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

struct Fleet
{
    EndCounter window;
    std::vector<std::unique_ptr<CVarkoPrinter>> printers;

    Fleet(const SinkProcess& sinks, int count, bool network, const std::string& file)
    {
        for (int i = 0; i < count; ++i)
        {
            auto p = std::make_unique<CVarkoPrinter>(&window);
            if (network)
            {
                auto* port = new CNetworkPort;
                port->SetIPAddress(127, 0, 0, 1);
                port->m_tcpPort = static_cast<DWORD>(sinks.Port(i));
                p->SetPort(port);
            }
            else
                p->SetPort(new PlainTcpPort(sinks.Port(i)));
            p->DownloadFile(file.c_str());
            p->StartThread();
            printers.push_back(std::move(p));
        }
    }
    ~Fleet()
    {
        for (auto& p : printers)
            p->StopThreads();
    }
    // Seconds for every printer to receive the file once at that limit.
    double Run(int limit, const std::string& file)
    {
        auto t0 = Clock::now();
        for (auto& p : printers)
        {
            p->DownloadFile(file.c_str());
            p->StartDownload(limit);
        }
        window.WaitFor(static_cast<int>(printers.size()));
        return std::chrono::duration<double>(Clock::now() - t0).count();
    }
};
} // namespace

int main(int argc, char** argv)
{
    std::size_t sizeMiB = 64, fleetMiB = 16;
    int idle = 10000;
    bool network = true;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        std::string a = argv[i];
        if (a == "--size-mib")
            sizeMiB = std::strtoul(argv[i + 1], nullptr, 10);
        else if (a == "--fleet-mib")
            fleetMiB = std::strtoul(argv[i + 1], nullptr, 10);
        else if (a == "--idle-fleet")
            idle = std::atoi(argv[i + 1]);
        else if (a == "--port")
            network = std::string(argv[i + 1]) != "plain";
    }
    std::signal(SIGPIPE, SIG_IGN);
    char dirTemplate[] = "/tmp/odomira-bench-XXXXXX";
    std::string dir = ::mkdtemp(dirTemplate);
    std::string big = MakeFile(dir + "/big.lbl", sizeMiB << 20);
    std::string fleetFile = MakeFile(dir + "/fleet.lbl", fleetMiB << 20);
    const double mib = static_cast<double>(sizeMiB);

    std::printf("port: %s, chunk: 1024 bytes\n", network ? "CNetworkPort" : "plain blocking send");
    {
        SinkProcess sinks(2);
        bool socat = false;
        double plain = PlainCopySeconds(big, sinks.Port(0), socat);
        Fleet single(sinks, 1, network, big);
        double cpu0 = CpuSeconds();
        double job = single.Run(1, big);
        double cpu = CpuSeconds() - cpu0;
        std::printf("single %zu MiB: plain copy (%s) %.1f MiB/s, job+throttle %.1f MiB/s, "
                    "ratio job/plain %.2f, job CPU %.2f s\n",
                    sizeMiB, socat ? "socat" : "own send loop", mib / plain, mib / job, plain / job,
                    cpu);
        if (single.window.Failures())
            std::printf("  FAILED downloads: %d\n", single.window.Failures());
    }
    for (int limit : {1, 2, 8})
    {
        SinkProcess sinks(8);
        Fleet fleet(sinks, 8, network, fleetFile);
        double cpu0 = CpuSeconds();
        double seconds = fleet.Run(limit, fleetFile);
        double cpu = CpuSeconds() - cpu0;
        std::printf("8 printers x %zu MiB, limit %d: %.2f s, aggregate %.1f MiB/s, CPU %.2f s%s\n",
                    fleetMiB, limit, seconds, 8.0 * static_cast<double>(fleetMiB) / seconds, cpu,
                    fleet.window.Failures() ? " (with failures)" : "");
    }
    if (idle > 0)
        IdleFleet(idle);
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
