#include "SimulatorProcess.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

std::uint64_t SimPrinterState::Counter(const std::string& key) const
{
    auto it = counters.find(key);
    if (it == counters.end())
        throw std::runtime_error("no counter " + key);
    return it->second;
}

// ---------------------------------------------------------------- helpers

namespace
{

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> SplitTabs(const std::string& line)
{
    std::vector<std::string> parts;
    std::size_t i = 0;
    for (;;)
    {
        std::size_t j = line.find('\t', i);
        parts.push_back(line.substr(i, j == std::string::npos ? std::string::npos : j - i));
        if (j == std::string::npos)
            return parts;
        i = j + 1;
    }
}

SimPrinterState ToState(const SimJson& j)
{
    SimPrinterState s;
    s.name = j["name"].Str();
    s.kind = j["kind"].Str();
    s.power = j["power"].Str();
    s.openClients = static_cast<int>(j["open_clients"].Int());
    s.serial = j["serial"].Str();
    s.model = j["model"].Str();
    s.history = j["history"].Str();
    s.faults = j["faults"].Str();
    s.headInches = j["head_in"].Num();
    s.totalInches = j["total_in"].Num();
    s.headMm = j["head_mm"].Int();
    s.totalMm = j["total_mm"].Int();
    s.labelBytes = static_cast<std::uint64_t>(j["label_bytes"].Num());
    s.labelCrc32 = static_cast<std::uint32_t>(j["label_crc32"].Num());
    for (const auto& [k, v] : j["counters"].Members())
        s.counters[k] = static_cast<std::uint64_t>(v.Num());
    return s;
}

void RemoveTree(const std::string& dir)
{
    for (const char* f : {"fleet.txt", "log.jsonl", "control.sock", "stderr.txt"})
        ::unlink((dir + "/" + f).c_str());
    ::rmdir(dir.c_str());
}

} // namespace

// ---------------------------------------------------------------- process

SimulatorProcess::SimulatorProcess(const std::string& fleetText)
    : SimulatorProcess(fleetText, Options{})
{
}

SimulatorProcess::SimulatorProcess(const std::string& fleetText, Options options)
    : m_options(std::move(options))
{
    m_deviceDir = m_options.deviceDir;
    if (m_deviceDir.empty())
    {
        const char* d = std::getenv("VARKO_DEVICE_DIR");
        if (!d || !*d)
            throw std::runtime_error(
                "VARKO_DEVICE_DIR is not set (register the test with odomira_add_test)");
        static int serial = 0;
        m_hadDeviceEnv = true;
        m_previousDeviceEnv = d;
        m_deviceDir = m_previousDeviceEnv + "/sim-" + std::to_string(::getpid()) + "-" +
                      std::to_string(++serial);
        m_ownDeviceDir = true;
        ::setenv("VARKO_DEVICE_DIR", m_deviceDir.c_str(), 1);
    }
    // The control socket's path must fit sockaddr_un, so the folder lives under /tmp.
    char tmpl[] = "/tmp/odomira-sim-XXXXXX";
    if (!::mkdtemp(tmpl))
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    m_tempDir = tmpl;
    m_logPath = m_tempDir + "/log.jsonl";
    m_controlPath = m_tempDir + "/control.sock";
    m_stderrPath = m_tempDir + "/stderr.txt";
    try
    {
        Launch(fleetText);
    }
    catch (...)
    {
        Stop();
        RemoveTree(m_tempDir);
        RestoreDeviceDir();
        throw;
    }
}

SimulatorProcess::~SimulatorProcess()
{
    Stop();
    if (!std::getenv("ODOMIRA_KEEP_SIM_FILES"))
        RemoveTree(m_tempDir);
    RestoreDeviceDir();
}

void SimulatorProcess::RestoreDeviceDir()
{
    if (!m_ownDeviceDir)
        return;
    // The simulator has removed its links by now; only empty folders are left.
    ::rmdir((m_deviceDir + "/usb").c_str());
    ::rmdir(m_deviceDir.c_str());
    if (m_hadDeviceEnv)
        ::setenv("VARKO_DEVICE_DIR", m_previousDeviceEnv.c_str(), 1);
    m_ownDeviceDir = false;
}

std::string SimulatorProcess::UniqueLoopback()
{
    static int next = 2;
    unsigned pid = static_cast<unsigned>(::getpid());
    int n = next++;
    if (next > 254)
        next = 2;
    return "127." + std::to_string((pid >> 8) & 0xFF) + "." + std::to_string(pid & 0xFF) + "." +
           std::to_string(n);
}

void SimulatorProcess::Launch(const std::string& fleetText)
{
    {
        std::ofstream f(m_tempDir + "/fleet.txt", std::ios::binary);
        f << fleetText;
        if (!f)
            throw std::runtime_error("cannot write the fleet file");
    }
    const char* binDir = std::getenv("ODOMIRA_BIN_DIR");
    if (!binDir || !*binDir)
        throw std::runtime_error(
            "ODOMIRA_BIN_DIR is not set (register the test with odomira_add_test)");
    std::string exe = std::string(binDir) + "/odomira-printer-sim";

    std::vector<std::string> args = {exe,
                                     "--fleet",
                                     m_tempDir + "/fleet.txt",
                                     "--device-dir",
                                     m_deviceDir,
                                     "--log",
                                     m_logPath,
                                     "--control",
                                     m_controlPath};
    if (!m_options.discovery)
        args.push_back("--no-discovery");
    args.insert(args.end(), m_options.extraArgs.begin(), m_options.extraArgs.end());
    args.insert(args.begin(), m_options.launcher.begin(), m_options.launcher.end());
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0)
    {
        // A test that dies must not leave a simulator (and its links) behind.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent)
            ::_exit(127);
        ::dup2(out[1], STDOUT_FILENO);
        int err = ::open(m_stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err >= 0)
            ::dup2(err, STDERR_FILENO);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);

    auto deadline = Clock::now() + std::chrono::milliseconds(m_options.readyTimeoutMs);
    bool ready = false;
    while (!ready)
    {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            break;
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
            continue;
        char buf[4096];
        ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0)
            break; // exited
        m_stdout.append(buf, static_cast<std::size_t>(n));
        ready =
            m_stdout.find("\nREADY\n") != std::string::npos || m_stdout.rfind("READY\n", 0) == 0;
    }
    ::close(out[0]);
    if (!ready)
    {
        Stop();
        throw std::runtime_error("printer simulator did not start: " + ReadFile(m_stderrPath) +
                                 (m_stdout.empty() ? "" : " (output: " + m_stdout + ")"));
    }
    ParseStartup();
}

void SimulatorProcess::ParseStartup()
{
    std::istringstream in(m_stdout);
    std::string line;
    while (std::getline(in, line))
    {
        std::vector<std::string> f = SplitTabs(line);
        if (f.size() < 6 || f[0] != "device")
            continue;
        SimDevice d;
        d.kind = f[1];
        d.name = f[2];
        d.portName = f[3];
        d.poweredAtStart = f[4] == "on";
        if (d.kind == "network")
        {
            std::size_t colon = f[5].rfind(':');
            d.address = f[5].substr(0, colon);
            d.tcpPort = std::stoi(f[5].substr(colon + 1));
        }
        else
        {
            d.path = f[5];
            d.pty = f.size() > 6 ? f[6] : "";
            d.sidecar = f.size() > 7 ? f[7] : "";
        }
        m_devices.push_back(d);
    }
}

int SimulatorProcess::Stop()
{
    if (m_pid <= 0)
        return m_status;
    ::kill(m_pid, SIGTERM);
    auto deadline = Clock::now() + std::chrono::seconds(3);
    for (;;)
    {
        pid_t r = ::waitpid(m_pid, &m_status, WNOHANG);
        if (r == m_pid || (r < 0 && errno != EINTR))
            break;
        if (Clock::now() > deadline)
        {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &m_status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = -1;
    return m_status;
}

bool SimulatorProcess::Running() const
{
    return m_pid > 0 && ::kill(m_pid, 0) == 0;
}

const SimDevice& SimulatorProcess::Device(const std::string& name) const
{
    for (const auto& d : m_devices)
        if (d.name == name)
            return d;
    throw std::runtime_error("the simulator has no printer '" + name + "'");
}

// ---------------------------------------------------------------- control

std::string SimulatorProcess::ControlRaw(const std::string& line)
{
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("control socket failed");
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, m_controlPath.c_str(), sizeof a.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    {
        ::close(fd);
        throw std::runtime_error("cannot reach the simulator's control socket: " +
                                 std::string(std::strerror(errno)));
    }
    std::string request = line + "\n";
    if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
    {
        ::close(fd);
        throw std::runtime_error("control request not sent");
    }
    std::string reply;
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (reply.find('\n') == std::string::npos)
    {
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
        {
            ::close(fd);
            throw std::runtime_error("no control reply to: " + line);
        }
        char buf[65536];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        reply.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    std::size_t nl = reply.find('\n');
    if (nl == std::string::npos)
        throw std::runtime_error("incomplete control reply to: " + line);
    return reply.substr(0, nl);
}

SimJson SimulatorProcess::Control(const std::string& line)
{
    std::string raw = ControlRaw(line);
    SimJson j = json::Parse(raw, json::Escaping::Bytes);
    if (!j["ok"].Bool())
        throw std::runtime_error("simulator refused '" + line + "': " + j["error"].Str());
    return j;
}

SimPrinterState SimulatorProcess::State(const std::string& name)
{
    return ToState(Control("state " + Quote(name))["printer"]);
}

std::vector<SimPrinterState> SimulatorProcess::States()
{
    SimJson j = Control("state");
    std::vector<SimPrinterState> out;
    for (std::size_t i = 0; i < j["printers"].Size(); ++i)
        out.push_back(ToState(j["printers"][i]));
    return out;
}

void SimulatorProcess::Fault(const std::string& name, const std::string& mode)
{
    Control("fault " + Quote(name) + " " + mode);
}

void SimulatorProcess::Power(const std::string& name, bool on)
{
    Control("power " + Quote(name) + (on ? " on" : " off"));
}

void SimulatorProcess::Set(const std::string& name, const std::string& key,
                           const std::string& value)
{
    Control("set " + Quote(name) + " " + key + " " + Quote(value));
}

void SimulatorProcess::Mark(const std::string& text)
{
    Control("mark " + Quote(text));
}

std::string SimulatorProcess::Quote(const std::string& token)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (unsigned char c : token)
    {
        if (c == '\\' || c == '"')
        {
            out += '\\';
            out += static_cast<char>(c);
        }
        else if (c < 0x20 || c >= 0x7F)
        {
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
        else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

// ---------------------------------------------------------------- log

std::vector<SimLogEntry> SimulatorProcess::Log(const std::string& printer,
                                               const std::string& event) const
{
    std::vector<SimLogEntry> out;
    // A line being written right now has no line end yet; it is read next time.
    std::string text = ReadFile(m_logPath);
    text.resize(text.rfind('\n') == std::string::npos ? 0 : text.rfind('\n') + 1);
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
    {
        if (line.empty())
            continue;
        SimLogEntry e;
        e.json = json::Parse(line, json::Escaping::Bytes);
        e.seq = e.json["seq"].Int();
        e.ms = e.json["ms"].Int();
        e.event = e.json["event"].Str();
        e.printer = e.json.Get("printer").Str();
        e.command = e.json.Get("command").Str();
        e.bytes = json::BytesFromHex(e.json.Get("hex").Str());
        if ((!printer.empty() && e.printer != printer) || (!event.empty() && e.event != event))
            continue;
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<std::string> SimulatorProcess::CommandBytes(const std::string& printer) const
{
    std::vector<std::string> out;
    for (const auto& e : Log(printer, "command"))
        out.push_back(e.bytes);
    return out;
}

bool SimulatorProcess::WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;)
    {
        if (pred())
            return true;
        if (Clock::now() >= deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool SimulatorProcess::WaitForLog(const std::function<bool(const SimLogEntry&)>& pred,
                                  int timeoutMs) const
{
    return WaitFor(
        [&]
        {
            for (const auto& e : Log())
                if (pred(e))
                    return true;
            return false;
        },
        timeoutMs);
}

std::uint32_t SimulatorProcess::Crc32(const void* data, std::size_t length, std::uint32_t crc)
{
    static const std::array<std::uint32_t, 256> table = []
    {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n)
        {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    const auto* p = static_cast<const unsigned char*>(data);
    crc = ~crc;
    for (std::size_t i = 0; i < length; ++i)
        crc = table[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}
