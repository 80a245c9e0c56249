// Download throughput, measured, not asserted: the real download job with its
// 1024-byte pieces and the throttle, each figure beside a reference measured in the
// same run, as a ratio.
//
//   network  one printer, one file: against socat copying the same file into the same
//            loopback sink, with its default buffer and with -b 1024, and against a
//            plain loop that sends the file in 1024-byte pieces as the job does, without
//            the job around it; throughput and CPU per MiB.
//   fleet    eight printers at throttle limits 1, 2 and 8: against eight socat copies
//            run as many at a time.
//   lines    serial, USB and parallel printers of the simulator, its line throttled to
//            115200 and 921600 bit/s (8N1: ten bits a byte): against the line's rate
//            and a plain write loop into the same device.
//   idle     what a large fleet of printer threads costs while it waits: against as
//            many bare threads with the same stack.
//
//     download_bench [--size-mib 64] [--fleet-mib 16] [--runs 5] [--line-seconds 5]
//                    [--idle-fleet 10000] [--only network,fleet,lines,idle]
//                    [--port network|plain]
//
// Network figures are medians of --runs runs, the references and the job taking turns.
// A transfer counts as done when both ends are: the sink has read the end of the data,
// and the sender has finished (socat has exited, the job has posted its end notice).
// The sinks run in a child process, so the CPU time of the job is the sender's alone, as
// socat's is. --port plain sends through a bare blocking-send port instead of the
// library's network port, which isolates the cost of the job itself.
#include "BenchSupport.h"
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinter.h"
#include "CWinThread.h"
#include "CWnd.h"
#include "LoopbackSink.h"
#include "ScriptedPrompt.h"
#include "SimulatorProcess.h"
#include "ThreadMessages.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using bench::Now;

namespace
{
const char kSocat[] = "/usr/bin/socat";

// Counts the end notices of all printers and stamps the last one.
class EndCounter : public CWnd
{
public:
    ~EndCounter() override { DetachHandle(); }
    // Waits until count notices have arrived in all; the time of the last one.
    double WaitFor(int count)
    {
        std::unique_lock g(m_lock);
        if (!m_changed.wait_for(g, std::chrono::minutes(5), [&] { return m_ends >= count; }))
        {
            std::fprintf(stderr, "download_bench: a job never ended\n");
            std::exit(3);
        }
        return m_last;
    }
    int Ends() const
    {
        std::lock_guard g(m_lock);
        return m_ends;
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
            m_last = Now();
            if (lParam != eDownloadSucceeded)
                ++m_failures;
        }
        m_changed.notify_all();
    }
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    int m_ends = 0;
    int m_failures = 0;
    double m_last = 0;
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

// Printable bytes with neither a line feed nor a tilde, so the simulator takes all of it
// as label data.
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

// One transfer or one group of them: wall time until both ends were done, the sender's
// CPU time, and whether every byte arrived.
struct Figure
{
    double seconds = 0;
    double cpu = 0;
    bool complete = true;
};

struct Medians
{
    std::vector<double> seconds, cpu;
    bool complete = true;
    void Add(const Figure& f)
    {
        seconds.push_back(f.seconds);
        cpu.push_back(f.cpu);
        complete = complete && f.complete;
    }
    double Seconds() const { return bench::Median(seconds); }
    double Cpu() const { return bench::Median(cpu); }
};

// What copies a file into a sink for reference: socat with its default buffer or with
// -b 1024, or the least a sender of 1024-byte pieces could do (PlainPieces).
enum class Copier
{
    Socat,
    Socat1k,
    PlainPieces
};

// The file read in 64 KiB blocks and sent in 1024-byte pieces with blocking sends, every
// piece but a connection's first marked as followed by more: what the download job does
// without the job, the port or the throttle around it. Exits 0 when all was sent.
[[noreturn]] void PlainPieces(const std::string& file, int tcpPort)
{
    int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(tcpPort));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (in < 0 || out < 0 || ::connect(out, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        _exit(1);
    std::vector<char> block(64 * 1024);
    bool first = true;
    for (ssize_t n; (n = ::read(in, block.data(), block.size())) > 0;)
        for (ssize_t off = 0; off < n; off += 1024)
        {
            const std::size_t piece = static_cast<std::size_t>(std::min<ssize_t>(1024, n - off));
            const int flags = MSG_NOSIGNAL | (first ? 0 : MSG_MORE);
            first = false;
            if (::send(out, block.data() + off, piece, flags) != static_cast<ssize_t>(piece))
                _exit(1);
        }
    ::shutdown(out, SHUT_WR);
    ::close(out);
    _exit(0);
}

pid_t SpawnCopier(Copier copier, const std::string& file, int tcpPort)
{
    pid_t pid = ::fork();
    if (pid == 0)
    {
        if (copier == Copier::PlainPieces)
            PlainPieces(file, tcpPort);
        std::string from = "FILE:" + file;
        std::string to = "TCP:127.0.0.1:" + std::to_string(tcpPort);
        if (copier == Copier::Socat1k)
            ::execl(kSocat, "socat", "-u", "-b", "1024", from.c_str(), to.c_str(), nullptr);
        else
            ::execl(kSocat, "socat", "-u", from.c_str(), to.c_str(), nullptr);
        _exit(127);
    }
    return pid;
}

// count copies into listeners 0..count-1, at most `parallel` at a time.
Figure Copies(SinkProcess& sinks, const std::string& file, std::size_t bytes, int count,
              int parallel, Copier copier)
{
    Figure f;
    const double t0 = Now();
    double exited = t0;
    int next = 0;
    std::set<pid_t> running;
    while (next < count || !running.empty())
    {
        while (next < count && static_cast<int>(running.size()) < parallel)
            running.insert(SpawnCopier(copier, file, sinks.Port(next++)));
        int status = 0;
        rusage u{};
        pid_t pid = ::wait4(-1, &status, 0, &u);
        if (pid <= 0)
            break;
        if (!running.erase(pid))
            continue; // not a copy of ours

        f.cpu += bench::Seconds(u.ru_utime) + bench::Seconds(u.ru_stime);
        f.complete = f.complete && WIFEXITED(status) && WEXITSTATUS(status) == 0;
        exited = Now();
    }
    double last = exited;
    for (const auto& e : sinks.Collect(count))
    {
        last = std::max(last, e.at);
        f.complete = f.complete && static_cast<std::size_t>(e.bytes) == bytes;
    }
    f.seconds = last - t0;
    return f;
}

struct Fleet
{
    EndCounter window;
    std::vector<std::unique_ptr<CVarkoPrinter>> printers;

    Fleet(const SinkProcess& sinks, int count, bool network)
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
            p->StartThread();
            printers.push_back(std::move(p));
        }
    }
    ~Fleet()
    {
        for (auto& p : printers)
            p->StopThreads();
    }
    // Every printer receives the file once, at that limit.
    Figure Run(SinkProcess& sinks, int limit, const std::string& file, std::size_t bytes)
    {
        Figure f;
        const int ends = window.Ends();
        const int failures = window.Failures();
        const double cpu0 = bench::CpuSeconds();
        const double t0 = Now();
        for (auto& p : printers)
        {
            p->DownloadFile(file.c_str());
            p->StartDownload(limit);
        }
        double last = window.WaitFor(ends + static_cast<int>(printers.size()));
        f.cpu = bench::CpuSeconds() - cpu0;
        // A reconnect would add a connection; the bytes of all of them are what arrived.
        std::map<int, long long> received;
        for (const auto& e : sinks.Collect(static_cast<int>(printers.size())))
        {
            last = std::max(last, e.at);
            received[e.listener] += e.bytes;
        }
        for (const auto& [listener, got] : received)
            f.complete = f.complete && static_cast<std::size_t>(got) == bytes;
        f.complete = f.complete && window.Failures() == failures;
        f.seconds = last - t0;
        return f;
    }
};

double MiB(std::size_t bytes)
{
    return static_cast<double>(bytes) / (1 << 20);
}

const char* Incomplete(const Medians& m)
{
    return m.complete ? "" : "   INCOMPLETE (bytes missing or a job failed)";
}

void NetworkSingle(const std::string& dir, std::size_t sizeMiB, int runs, bool network)
{
    const std::size_t bytes = sizeMiB << 20;
    const std::string file = MakeFile(dir + "/single.lbl", bytes);
    SinkProcess sinks(1);
    Fleet single(sinks, 1, network);
    Medians socat, socat1k, plain, job;
    for (int r = 0; r < runs; ++r)
    {
        socat.Add(Copies(sinks, file, bytes, 1, 1, Copier::Socat));
        socat1k.Add(Copies(sinks, file, bytes, 1, 1, Copier::Socat1k));
        plain.Add(Copies(sinks, file, bytes, 1, 1, Copier::PlainPieces));
        job.Add(single.Run(sinks, 1, file, bytes));
    }
    const double mib = MiB(bytes);
    const double refRate = mib / socat.Seconds();
    const double refCpu = socat.Cpu() / mib * 1000;
    std::printf("one network printer, %zu MiB, median of %d runs (%s)\n", sizeMiB, runs,
                network ? "the library's network port" : "a bare blocking-send port");
    std::printf("  throughput:\n");
    bench::Row("socat, default buffer", refRate, "MiB/s", 0);
    bench::Row("socat -b 1024", mib / socat1k.Seconds(), "MiB/s",
               socat.Seconds() / socat1k.Seconds());
    bench::Row("plain loop of 1024-byte sends", mib / plain.Seconds(), "MiB/s",
               socat.Seconds() / plain.Seconds());
    bench::Row("download job + throttle", mib / job.Seconds(), "MiB/s",
               socat.Seconds() / job.Seconds(), "(target >= 0.80)");
    bench::Row("download job against the plain loop", mib / job.Seconds(), "MiB/s",
               plain.Seconds() / job.Seconds());
    std::printf("  CPU per MiB:\n");
    bench::Row("socat, default buffer", refCpu, "ms/MiB", 0);
    bench::Row("socat -b 1024", socat1k.Cpu() / mib * 1000, "ms/MiB", socat1k.Cpu() / socat.Cpu());
    bench::Row("plain loop of 1024-byte sends", plain.Cpu() / mib * 1000, "ms/MiB",
               plain.Cpu() / socat.Cpu());
    bench::Row("download job + throttle", job.Cpu() / mib * 1000, "ms/MiB", job.Cpu() / socat.Cpu(),
               "(target <= 1.20)");
    bench::Row("download job against the plain loop", job.Cpu() / mib * 1000, "ms/MiB",
               job.Cpu() / plain.Cpu());
    std::printf("%s%s%s%s", Incomplete(socat), Incomplete(socat1k), Incomplete(plain),
                Incomplete(job));
    std::printf("\n");
}

void NetworkFleet(const std::string& dir, std::size_t fleetMiB, int runs, bool network)
{
    const std::size_t bytes = fleetMiB << 20;
    const std::string file = MakeFile(dir + "/fleet.lbl", bytes);
    const int count = 8;
    SinkProcess sinks(count);
    Fleet fleet(sinks, count, network);
    std::printf("eight network printers, %zu MiB each, median of %d runs\n", fleetMiB, runs);
    for (int limit : {1, 2, 8})
    {
        Medians socat, job;
        for (int r = 0; r < runs; ++r)
        {
            socat.Add(Copies(sinks, file, bytes, count, limit, Copier::Socat));
            job.Add(fleet.Run(sinks, limit, file, bytes));
        }
        const double total = MiB(bytes) * count;
        std::string ref = "8 socat copies, " + std::to_string(limit) + " at a time";
        std::string mine = "limit " + std::to_string(limit) + ": aggregate";
        bench::Row(ref, total / socat.Seconds(), "MiB/s", 0);
        bench::Row(mine, total / job.Seconds(), "MiB/s", socat.Seconds() / job.Seconds(),
                   limit == 8 ? "(target >= 0.80)" : "");
        bench::Row(mine + ", CPU per MiB", job.Cpu() / total * 1000, "ms/MiB",
                   job.Cpu() / socat.Cpu());
        std::printf("%s%s", Incomplete(socat), Incomplete(job));
    }
    std::printf("\n");
}

// Bytes the simulator has taken as label data from that printer.
std::uint64_t LabelBytes(SimulatorProcess& sim, const std::string& name)
{
    return sim.State(name).labelBytes;
}

// Seconds until the simulator has taken bytes more label bytes from the printer, the
// clock started by start().
double UntilReceived(SimulatorProcess& sim, const std::string& name, std::size_t bytes,
                     const std::function<void()>& start, int limitMs)
{
    const std::uint64_t before = LabelBytes(sim, name);
    const double t0 = Now();
    start();
    double done = -1;
    SimulatorProcess::WaitFor(
        [&]
        {
            if (LabelBytes(sim, name) < before + bytes)
                return false;
            done = Now();
            return true;
        },
        limitMs);
    return done < 0 ? -1 : done - t0;
}

// Writes the whole file into the device with blocking writes of 64 KiB.
void PlainDeviceWrite(const std::string& device, const std::string& file)
{
    int in = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open(device.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    std::vector<char> buffer(1 << 16);
    for (ssize_t n; in >= 0 && out >= 0 && (n = ::read(in, buffer.data(), buffer.size())) > 0;)
        for (ssize_t off = 0; off < n;)
        {
            ssize_t w = ::write(out, buffer.data() + off, static_cast<std::size_t>(n - off));
            if (w <= 0)
                break;
            off += w;
        }
    if (in >= 0)
        ::close(in);
    if (out >= 0)
        ::close(out);
}

void Lines(const std::string& dir, double seconds)
{
    ScriptedPrompt quiet; // a failed job's boxes are answered at once
    SimulatorProcess sim("[Serial]\nkind = serial\n[USB]\nkind = usb\n[Parallel]\nkind = "
                         "parallel\n");
    EndCounter window;
    std::map<std::string, std::unique_ptr<CVarkoPrinter>> printers;
    for (const char* name : {"Serial", "USB", "Parallel"})
    {
        const SimDevice& d = sim.Device(name);
        CPortBase* port;
        if (d.kind == "serial")
            port = new CSerialPort;
        else if (d.kind == "usb")
            port = new CUSBPort;
        else
            port = new CParallelPort;
        port->SetPortName(d.kind == "usb" ? d.path.c_str() : d.portName.c_str());
        auto p = std::make_unique<CVarkoPrinter>(&window);
        p->SetPort(port);
        p->StartThread();
        printers[name] = std::move(p);
    }
    std::printf("serial, USB and parallel lines of the simulator, about %.0f s a transfer\n",
                seconds);
    for (int bits : {115200, 921600})
    {
        const int rate = bits / 10; // 8N1: a start bit, eight data bits, a stop bit
        const std::size_t bytes =
            static_cast<std::size_t>(rate * seconds) / 1024 * 1024; // whole pieces
        const std::string file = MakeFile(dir + "/line-" + std::to_string(bits) + ".lbl", bytes);
        const int limitMs = static_cast<int>(seconds * 4000) + 10000;
        std::printf("  line at %d bit/s = %d bytes/s, %zu bytes:\n", bits, rate, bytes);
        bench::Row("the line's rate", rate / 1024.0, "KiB/s", 0);
        for (const char* name : {"Serial", "USB", "Parallel"})
        {
            CVarkoPrinter& printer = *printers[name];
            const std::string throttle = "throttle " + std::to_string(rate);
            // Setting the fault restarts its budget: each transfer starts on an idle line.
            sim.Fault(name, throttle);
            double plain = UntilReceived(
                sim, name, bytes, [&] { PlainDeviceWrite(sim.Path(name), file); }, limitMs);
            sim.Fault(name, throttle);
            const int ends = window.Ends();
            const int failures = window.Failures();
            double job = UntilReceived(
                sim, name, bytes,
                [&]
                {
                    printer.DownloadFile(file.c_str());
                    printer.StartDownload(1);
                },
                limitMs);
            window.WaitFor(ends + 1);
            sim.Fault(name, "throttle 0");
            std::string kind = name;
            if (plain < 0 || job < 0 || window.Failures() != failures)
            {
                std::printf("  %-40s INCOMPLETE (the bytes did not all arrive)\n", kind.c_str());
                continue;
            }
            const double plainRate = static_cast<double>(bytes) / plain;
            const double jobRate = static_cast<double>(bytes) / job;
            bench::Row(kind + ": plain write loop", plainRate / 1024, "KiB/s", plainRate / rate);
            bench::Row(kind + ": download job", jobRate / 1024, "KiB/s", jobRate / rate,
                       "(target >= 0.95)");
            bench::Row(kind + ": download job against the loop", jobRate / 1024, "KiB/s",
                       jobRate / plainRate);
        }
    }
    for (auto& [name, p] : printers)
        p->StopThreads();
    std::printf("\n");
}

// What a large fleet costs while it waits for jobs: every printer has its own thread.
void IdleFleet(int count)
{
    EndCounter window;
    std::vector<std::unique_ptr<CVarkoPrinter>> fleet;
    long rss0 = bench::RssKiB();
    double t0 = Now();
    for (int i = 0; i < count; ++i)
    {
        fleet.push_back(std::make_unique<CVarkoPrinter>(&window));
        fleet.back()->SetPort(new PlainTcpPort(9));
        fleet.back()->StartThread();
    }
    const double started = Now() - t0;
    const long rss = bench::RssKiB() - rss0;
    t0 = Now();
    for (auto& p : fleet)
        p->StopThreads();
    const double stopped = Now() - t0;
    fleet.clear();
    const bench::PlainThreadFigures plain = bench::PlainThreads(count, DEFAULT_THREAD_STACK);
    std::printf("%d idle printers, each with its thread, against %d bare threads\n", count,
                plain.started);
    bench::Row("bare threads: started", plain.startSeconds, "s", 0);
    bench::Row("printer threads: started", started, "s", started / plain.startSeconds);
    bench::Row("bare threads: stopped", plain.stopSeconds, "s", 0);
    bench::Row("printer threads: stopped", stopped, "s", stopped / plain.stopSeconds);
    bench::Row("bare threads: resident", plain.residentKiB / 1024.0, "MiB", 0);
    bench::Row("printer threads: resident", rss / 1024.0, "MiB",
               plain.residentKiB > 0 ? static_cast<double>(rss) / plain.residentKiB : 0);
    std::printf("\n");
}

bool Wanted(const std::set<std::string>& only, const std::string& section)
{
    return only.empty() || only.count(section);
}
} // namespace

int main(int argc, char** argv)
{
    std::size_t sizeMiB = 64, fleetMiB = 16;
    int idle = 10000, runs = 5;
    double lineSeconds = 5;
    bool network = true;
    std::set<std::string> only;
    for (int i = 1; i + 1 < argc; i += 2)
    {
        std::string a = argv[i];
        if (a == "--size-mib")
            sizeMiB = std::strtoul(argv[i + 1], nullptr, 10);
        else if (a == "--fleet-mib")
            fleetMiB = std::strtoul(argv[i + 1], nullptr, 10);
        else if (a == "--idle-fleet")
            idle = std::atoi(argv[i + 1]);
        else if (a == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
        else if (a == "--line-seconds")
            lineSeconds = std::max(0.5, std::atof(argv[i + 1]));
        else if (a == "--port")
            network = std::string(argv[i + 1]) != "plain";
        else if (a == "--only")
        {
            std::stringstream list(argv[i + 1]);
            for (std::string s; std::getline(list, s, ',');)
                only.insert(s);
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    if (::access(kSocat, X_OK) != 0)
    {
        std::fprintf(stderr, "download_bench: %s is needed as the reference (scripts/setup)\n",
                     kSocat);
        return 2;
    }
    std::string base = (std::filesystem::temp_directory_path() / "odomira-bench-XXXXXX").string();
    if (!::mkdtemp(base.data()))
        return 1;
    // The simulator's devices and anything the library stores stay in this folder.
    for (const char* sub : {"/settings", "/devices"})
        std::filesystem::create_directories(base + sub);
    ::setenv("VARKO_SETTINGS_ROOT", (base + "/settings").c_str(), 1);
    ::setenv("VARKO_DEVICE_DIR", (base + "/devices").c_str(), 1);

    std::printf("download benchmark: 1024-byte pieces; ratios against the reference "
                "measured in this run\n\n");
    std::fflush(stdout);
    if (Wanted(only, "network"))
        NetworkSingle(base, sizeMiB, runs, network);
    std::fflush(stdout);
    if (Wanted(only, "fleet"))
        NetworkFleet(base, fleetMiB, runs, network);
    std::fflush(stdout);
    if (Wanted(only, "lines"))
    {
        if (std::getenv("ODOMIRA_BIN_DIR"))
            Lines(base, lineSeconds);
        else
            std::printf("lines: skipped, ODOMIRA_BIN_DIR (where odomira-printer-sim is) is "
                        "not set\n\n");
    }
    std::fflush(stdout);
    if (Wanted(only, "idle") && idle > 0)
        IdleFleet(idle);
    std::filesystem::remove_all(base);
    return 0;
}
