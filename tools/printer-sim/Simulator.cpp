#include "Simulator.h"

#include "Json.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <ostream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <termios.h>
#include <unistd.h>

namespace printersim
{

namespace
{

constexpr std::size_t READ_CHUNK = 65536;
constexpr std::size_t MAX_LOGGED_DATA = 1024;
// A command prefix that sits this long without the rest arriving is label data after all.
constexpr int PENDING_FLUSH_MS = 300;
constexpr std::size_t RECORD_SIZE = 432;

std::string Errno(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string Dotted(const in_addr& a)
{
    char buf[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

bool EnsureDir(const std::string& path)
{
    // mkdir -p, since the default override folder sits several levels below $HOME.
    std::string partial;
    std::size_t i = 0;
    while (i <= path.size())
    {
        std::size_t j = path.find('/', i);
        if (j == std::string::npos)
            j = path.size();
        partial = path.substr(0, j);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        i = j + 1;
    }
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> Tokenize(const std::string& line, std::string& error)
{
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i >= line.size())
            break;
        std::string raw;
        bool quoted = line[i] == '"';
        if (quoted)
            ++i;
        bool closed = !quoted;
        while (i < line.size())
        {
            char c = line[i];
            if (c == '\\' && i + 1 < line.size())
            {
                raw += c;
                raw += line[i + 1];
                i += 2;
                continue;
            }
            if (quoted && c == '"')
            {
                closed = true;
                ++i;
                break;
            }
            if (!quoted && std::isspace(static_cast<unsigned char>(c)))
                break;
            raw += c;
            ++i;
        }
        if (!closed)
        {
            error = "unterminated quote";
            return {};
        }
        std::string value;
        if (!UnescapeValue(raw, value))
        {
            error = "bad escape in '" + raw + "'";
            return {};
        }
        tokens.push_back(value);
    }
    return tokens;
}

std::string ErrorJson(const std::string& error)
{
    return json::Object().Add("ok", false).Add("error", error).Str();
}

} // namespace

struct Simulator::Device
{
    explicit Device(PrinterConfig config) : printer(std::move(config)) {}
    const PrinterConfig& Cfg() const { return printer.Config(); }
    PrinterConfig& Cfg() { return printer.Config(); }
    const std::string& Name() const { return printer.Config().name; }

    SimPrinter printer;
    CommandParser parser;
    Clock::time_point flushAt{};

    // Serial, USB, parallel.
    int master = -1;
    int slave = -1; // held so the master never sees a hang-up between client opens
    int watch = -1;
    int openers = 0;
    std::string pts;
    std::string portName; // COM3, LPT1, usb/lp0
    std::string linkPath;
    std::string sidecarPath;
    bool published = false;
    std::string out;

    // Network.
    int listenFd = -1;
    int connFd = -1;
    std::uint64_t connBytes = 0;
    std::uint64_t connId = 0;
    int drops = 0;
    int udpFd = -1;

    // Read faults at run time.
    bool stallArmed = false;
    std::int64_t stallCounter = 0;
    Clock::time_point stallUntil{};
    bool stalled = false;
    double budget = 0;
    Clock::time_point budgetAt{};
    bool xoffArmed = false;
    std::int64_t xoffCounter = 0;
};

struct Simulator::ControlClient
{
    int fd = -1;
    std::string in;
    std::string out;
    bool closing = false;
};

Simulator::Simulator(Fleet fleet, SimulatorOptions options)
    : m_fleet(std::move(fleet)), m_options(std::move(options))
{
}

Simulator::~Simulator()
{
    Cleanup();
    for (auto& d : m_devices)
    {
        CloseFd(d->master);
        CloseFd(d->slave);
        CloseFd(d->listenFd);
        CloseFd(d->connFd);
        CloseFd(d->udpFd);
    }
    for (auto& c : m_clients)
        CloseFd(c->fd);
    CloseFd(m_inotifyFd);
    CloseFd(m_discoveryFd);
    CloseFd(m_controlFd);
}

std::string Simulator::StateOf(const Device& d) const
{
    return d.printer.StateJson(d.Cfg().kind == Kind::Network ? (d.connFd >= 0 ? 1 : 0) : d.openers);
}

Simulator::Device* Simulator::Find(const std::string& name)
{
    for (auto& d : m_devices)
        if (d->Name() == name)
            return d.get();
    return nullptr;
}

void Simulator::After(int ms, std::function<void()> fn)
{
    m_timers.push_back(
        {Clock::now() + std::chrono::milliseconds(ms), m_nextTimer++, std::move(fn)});
}

int Simulator::RunTimers()
{
    // Timers may add timers; run the due ones in deadline order, then report the wait.
    for (;;)
    {
        auto now = Clock::now();
        auto it = std::min_element(m_timers.begin(), m_timers.end(),
                                   [](const Timer& a, const Timer& b)
                                   { return a.at != b.at ? a.at < b.at : a.id < b.id; });
        if (it == m_timers.end())
            return -1;
        if (it->at > now)
            return static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(it->at - now).count() + 1);
        auto fn = std::move(it->fn);
        m_timers.erase(it);
        fn();
    }
}

// ---------------------------------------------------------------- start and stop

std::string Simulator::Start(std::ostream& out)
{
    std::string error = FinishFleet(m_fleet, m_options.allowNonLoopback);
    if (!error.empty())
        return error;
    if (!m_options.allowNonLoopback && m_options.discovery &&
        !IsLoopbackAddress(m_options.discoveryBind))
        return "--discovery-bind outside 127.0.0.0/8 needs --allow-non-loopback (use it only "
               "inside a network namespace)";
    if (!m_options.logPath.empty() && !m_log.Open(m_options.logPath))
        return Errno("cannot open log " + m_options.logPath);

    bool needPty = std::any_of(m_fleet.printers.begin(), m_fleet.printers.end(),
                               [](const PrinterConfig& p) { return p.kind != Kind::Network; });
    if (needPty)
    {
        if (!EnsureDir(m_options.deviceDir) || !EnsureDir(m_options.deviceDir + "/usb"))
            return Errno("cannot create device folder " + m_options.deviceDir);
        m_inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_inotifyFd < 0)
            return Errno("inotify_init1");
    }

    for (const auto& config : m_fleet.printers)
        m_devices.push_back(std::make_unique<Device>(config));

    for (auto& dp : m_devices)
    {
        Device& d = *dp;
        if (d.Cfg().kind == Kind::Network)
        {
            if (d.Cfg().powered)
                error = StartListener(d);
        }
        else
            error = StartPty(d);
        if (!error.empty())
        {
            Cleanup();
            return "printer '" + d.Name() + "': " + error;
        }
        ArmFaultRuntime(d);
    }
    if (m_options.discovery)
    {
        error = StartDiscovery();
        if (!error.empty())
        {
            Cleanup();
            return error;
        }
    }
    if (!m_options.controlPath.empty())
    {
        error = StartControl();
        if (!error.empty())
        {
            Cleanup();
            return error;
        }
    }

    for (auto& dp : m_devices)
    {
        Device& d = *dp;
        const char* power = d.Cfg().powered ? "on" : "off";
        json::Object e = m_log.Begin("device", d.Name());
        e.Add("kind", KindName(d.Cfg().kind)).Add("power", power);
        out << "device\t" << KindName(d.Cfg().kind) << '\t' << d.Name() << '\t';
        if (d.Cfg().kind == Kind::Network)
        {
            std::string where = d.Cfg().address + ":" + std::to_string(d.Cfg().tcpPort);
            out << where << '\t' << power << '\t' << where;
            e.Add("address", d.Cfg().address).Add("tcp_port", d.Cfg().tcpPort);
        }
        else
        {
            out << d.portName << '\t' << power << '\t' << d.linkPath << '\t' << d.pts;
            e.Add("port", d.portName).Add("path", d.linkPath).Add("pty", d.pts);
            if (d.Cfg().kind == Kind::Usb)
            {
                out << '\t' << d.sidecarPath;
                e.Add("ieee1284_file", d.sidecarPath);
            }
        }
        out << '\n';
        m_log.Write(e);
    }
    if (m_discoveryFd >= 0)
        out << "discovery\t" << m_options.discoveryBind << ':' << m_options.discoveryPort << '\n';
    if (!m_options.controlPath.empty())
        out << "control\t" << m_options.controlPath << '\n';
    if (!m_options.logPath.empty())
        out << "log\t" << m_options.logPath << '\n';
    out << "READY" << std::endl;
    m_log.Write(m_log.Begin("ready"));
    return "";
}

void Simulator::Cleanup()
{
    for (auto& d : m_devices)
        UnpublishPty(*d);
    if (m_controlCreated)
    {
        ::unlink(m_options.controlPath.c_str());
        m_controlCreated = false;
    }
}

std::string Simulator::StartPty(Device& d)
{
    const PrinterConfig& c = d.Cfg();
    switch (c.kind)
    {
    case Kind::Serial:
        d.portName = "COM" + std::to_string(c.number);
        break;
    case Kind::Parallel:
        d.portName = "LPT" + std::to_string(c.number);
        break;
    default:
        d.portName = "usb/" + c.link;
        d.sidecarPath = m_options.deviceDir + "/usb/" + c.link + ".ieee1284";
        break;
    }
    d.linkPath = m_options.deviceDir + "/" + d.portName;

    d.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (d.master < 0)
        return Errno("posix_openpt");
    if (::grantpt(d.master) != 0 || ::unlockpt(d.master) != 0)
        return Errno("grantpt/unlockpt");
    const char* name = ::ptsname(d.master);
    if (!name)
        return Errno("ptsname");
    d.pts = name;
    d.slave = ::open(d.pts.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (d.slave < 0)
        return Errno("open " + d.pts);
    // Raw once, on the slave: settings made on the master would land on the slave too
    // and, for instance, clear the IXON a client asks for.
    if (c.ptyMode >= 0 && ::fchmod(d.slave, static_cast<mode_t>(c.ptyMode)) != 0)
        return Errno("chmod " + d.pts);
    termios t{};
    if (::tcgetattr(d.slave, &t) == 0)
    {
        ::cfmakeraw(&t);
        ::tcsetattr(d.slave, TCSANOW, &t);
    }
    // Watching opens and closes of the slave tells when a client holds the device: a
    // reply sent to nobody is lost, as on a real line, and the exclusive flag a client set
    // is dropped when it lets go (our own slave descriptor would keep it forever).
    d.watch = ::inotify_add_watch(m_inotifyFd, d.pts.c_str(), IN_OPEN | IN_CLOSE);
    if (d.watch < 0)
        return Errno("inotify_add_watch " + d.pts);
    if (c.powered)
        return PublishPty(d);
    return "";
}

std::string Simulator::PublishPty(Device& d)
{
    if (d.published)
        return "";
    struct stat st = {};
    if (::lstat(d.linkPath.c_str(), &st) == 0)
    {
        // A link left by a run that was killed is replaced; anything else is not ours.
        if (!S_ISLNK(st.st_mode))
            return d.linkPath + " exists and is not a link";
        ::unlink(d.linkPath.c_str());
    }
    if (::symlink(d.pts.c_str(), d.linkPath.c_str()) != 0)
        return Errno("symlink " + d.linkPath);
    d.published = true;
    if (d.Cfg().kind == Kind::Usb)
        return WriteSidecar(d);
    return "";
}

std::string Simulator::WriteSidecar(Device& d)
{
    // "none" plays a device that refuses the identification request: no file at all.
    const std::string& id = d.Cfg().ieee1284;
    if (id == "none")
    {
        ::unlink(d.sidecarPath.c_str());
        return "";
    }
    // What LPIOC_GET_DEVICE_ID returns: a big-endian length that counts itself, then the
    // ID text without a terminator.
    std::size_t total = id.size() + 2;
    std::string bytes;
    bytes += static_cast<char>((total >> 8) & 0xFF);
    bytes += static_cast<char>(total & 0xFF);
    bytes += id;
    std::string tmp = d.sidecarPath + ".tmp";
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return Errno("create " + tmp);
    bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    ::close(fd);
    // Renamed into place, so a reader never sees half an identification.
    if (!ok || ::rename(tmp.c_str(), d.sidecarPath.c_str()) != 0)
    {
        ::unlink(tmp.c_str());
        return Errno("write " + d.sidecarPath);
    }
    return "";
}

void Simulator::UnpublishPty(Device& d)
{
    if (!d.published)
        return;
    char target[PATH_MAX] = {};
    ssize_t n = ::readlink(d.linkPath.c_str(), target, sizeof target - 1);
    if (n > 0 && d.pts == std::string(target, static_cast<std::size_t>(n)))
        ::unlink(d.linkPath.c_str());
    if (!d.sidecarPath.empty())
        ::unlink(d.sidecarPath.c_str());
    d.published = false;
}

std::string Simulator::StartListener(Device& d)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(d.Cfg().tcpPort));
    if (::inet_pton(AF_INET, d.Cfg().address.c_str(), &a.sin_addr) != 1)
        return "bad address " + d.Cfg().address;
    d.listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (d.listenFd < 0)
        return Errno("socket");
    int one = 1;
    ::setsockopt(d.listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(d.listenFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
    {
        std::string e = Errno("bind " + d.Cfg().address + ":" + std::to_string(d.Cfg().tcpPort));
        CloseFd(d.listenFd);
        return e;
    }
    if (::listen(d.listenFd, 8) != 0)
    {
        std::string e = Errno("listen");
        CloseFd(d.listenFd);
        return e;
    }
    return "";
}

void Simulator::StopNetwork(Device& d, bool reset)
{
    if (d.connFd >= 0)
    {
        if (reset)
        {
            linger l{1, 0};
            ::setsockopt(d.connFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        CloseConnection(d, "power-off");
    }
    CloseFd(d.listenFd);
}

std::string Simulator::StartDiscovery()
{
    auto makeSocket = [&](const std::string& address, int& fd) -> std::string
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<std::uint16_t>(m_options.discoveryPort));
        if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1)
            return "bad discovery address " + address;
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return Errno("socket");
        // The requester and every simulator share the port: all of them set
        // SO_REUSEADDR, or the second bind fails.
        int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        {
            std::string e =
                Errno("bind udp " + address + ":" + std::to_string(m_options.discoveryPort));
            CloseFd(fd);
            return e;
        }
        return "";
    };
    std::string error = makeSocket(m_options.discoveryBind, m_discoveryFd);
    if (!error.empty())
        return error;
    for (auto& d : m_devices)
    {
        if (d->Cfg().kind != Kind::Network)
            continue;
        // Answers leave from the printer's own address: a requester that filters by
        // sender sees each printer as itself, and the answer is not taken by a socket
        // bound to the wildcard address on this side.
        error = makeSocket(d->Cfg().address, d->udpFd);
        if (!error.empty())
            return "printer '" + d->Name() + "': " + error;
    }
    return "";
}

std::string Simulator::StartControl()
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (m_options.controlPath.size() >= sizeof a.sun_path)
        return "control path too long: " + m_options.controlPath;
    std::strcpy(a.sun_path, m_options.controlPath.c_str());
    struct stat st = {};
    if (::lstat(m_options.controlPath.c_str(), &st) == 0)
    {
        if (!S_ISSOCK(st.st_mode))
            return m_options.controlPath + " exists and is not a socket";
        ::unlink(m_options.controlPath.c_str());
    }
    m_controlFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_controlFd < 0)
        return Errno("socket");
    if (::bind(m_controlFd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return Errno("bind " + m_options.controlPath);
    m_controlCreated = true;
    if (::listen(m_controlFd, 8) != 0)
        return Errno("listen " + m_options.controlPath);
    return "";
}

// ---------------------------------------------------------------- the loop

void Simulator::Run(int stopFd)
{
    enum class Role
    {
        Stop,
        Inotify,
        Master,
        Listen,
        Conn,
        Udp,
        Discovery,
        ControlListen,
        Control
    };
    struct Slot
    {
        Role role;
        Device* device;
        ControlClient* client;
    };
    std::vector<pollfd> fds;
    std::vector<Slot> slots;

    while (!m_stopRequested)
    {
        int timeout = RunTimers();
        auto now = Clock::now();
        auto wakeAt = [&](Clock::time_point t)
        {
            int ms = static_cast<int>(
                std::chrono::duration_cast<std::chrono::milliseconds>(t - now).count() + 1);
            ms = std::max(ms, 1);
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        };

        fds.clear();
        slots.clear();
        auto add =
            [&](int fd, short events, Role role, Device* d = nullptr, ControlClient* c = nullptr)
        {
            fds.push_back({fd, events, 0});
            slots.push_back({role, d, c});
        };
        add(stopFd, POLLIN, Role::Stop);
        if (m_inotifyFd >= 0)
            add(m_inotifyFd, POLLIN, Role::Inotify);
        if (m_discoveryFd >= 0)
            add(m_discoveryFd, POLLIN, Role::Discovery);
        if (m_controlFd >= 0)
            add(m_controlFd, POLLIN, Role::ControlListen);
        for (auto& c : m_clients)
            add(c->fd, static_cast<short>(POLLIN | (c->out.empty() ? 0 : POLLOUT)), Role::Control,
                nullptr, c.get());
        for (auto& dp : m_devices)
        {
            Device& d = *dp;
            if (d.stalled)
            {
                if (d.stallUntil <= now)
                {
                    d.stalled = false;
                    m_log.Write(m_log.Begin("stall-end", d.Name()));
                    // The rest of a command cut by the stall is still to be read.
                    if (d.parser.HasPending())
                        d.flushAt = now + std::chrono::milliseconds(PENDING_FLUSH_MS);
                }
                else
                    wakeAt(d.stallUntil);
            }
            if (d.parser.HasPending() && !d.stalled)
            {
                if (d.flushAt <= now)
                    HandleEvents(d, d.parser.Flush());
                else
                    wakeAt(d.flushAt);
            }
            std::size_t limit = ReadLimit(d, now);
            if (d.stalled)
                wakeAt(d.stallUntil);
            else if (limit == 0 && d.Cfg().faults.throttleBps > 0)
                wakeAt(now + std::chrono::milliseconds(10));
            short in = limit > 0 ? POLLIN : 0;
            if (d.master >= 0)
                add(d.master, static_cast<short>(in | (d.out.empty() ? 0 : POLLOUT)), Role::Master,
                    &d);
            if (d.listenFd >= 0 && d.connFd < 0)
                add(d.listenFd, POLLIN, Role::Listen, &d);
            if (d.connFd >= 0)
                add(d.connFd, in, Role::Conn, &d);
            if (d.udpFd >= 0)
                add(d.udpFd, POLLIN, Role::Udp, &d);
        }

        int n = ::poll(fds.data(), fds.size(), timeout < 0 ? 1000 : timeout);
        if (n < 0)
        {
            if (errno == EINTR)
                continue;
            break;
        }
        // Opens and closes first: a client's open always precedes the bytes it writes.
        for (std::size_t i = 0; i < fds.size(); ++i)
            if (slots[i].role == Role::Inotify && fds[i].revents)
                OnInotify();
        for (std::size_t i = 0; i < fds.size(); ++i)
        {
            short r = fds[i].revents;
            if (!r)
                continue;
            Slot& s = slots[i];
            switch (s.role)
            {
            case Role::Stop:
                m_stopRequested = true;
                break;
            case Role::Inotify:
                break;
            case Role::Master:
                if (r & POLLOUT)
                    OnPtyWritable(*s.device);
                if (r & (POLLIN | POLLHUP | POLLERR))
                    OnPtyReadable(*s.device);
                break;
            case Role::Listen:
                OnAccept(*s.device);
                break;
            case Role::Conn:
                if (s.device->connFd == fds[i].fd)
                    OnConnectionReadable(*s.device);
                break;
            case Role::Udp:
                OnDiscoveryReadable(fds[i].fd, s.device);
                break;
            case Role::Discovery:
                OnDiscoveryReadable(fds[i].fd, nullptr);
                break;
            case Role::ControlListen:
                OnControlAccept();
                break;
            case Role::Control:
                OnControlReadable(*s.client);
                break;
            }
        }
        m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                       [](const std::unique_ptr<ControlClient>& c)
                                       {
                                           if (c->closing && c->out.empty())
                                           {
                                               ::close(c->fd);
                                               return true;
                                           }
                                           return false;
                                       }),
                        m_clients.end());
    }
    for (auto& d : m_devices)
        if (d->parser.HasPending())
            HandleEvents(*d, d->parser.Flush());
    m_log.Write(m_log.Begin("stop"));
}

// ---------------------------------------------------------------- reading, with faults

void Simulator::ArmFaultRuntime(Device& d)
{
    const Faults& f = d.Cfg().faults;
    d.stallArmed = f.stallAfter >= 0;
    d.stallCounter = 0;
    if (f.stallAfter < 0)
        d.stalled = false;
    d.budget = 0;
    d.budgetAt = Clock::now();
    d.drops = 0;
    d.xoffArmed = f.xoffAfter >= 0 && d.Cfg().kind != Kind::Network;
    d.xoffCounter = 0;
    if (d.xoffArmed && f.xoffAfter == 0)
        SendXoff(d);
}

std::size_t Simulator::ReadLimit(Device& d, Clock::time_point now)
{
    const Faults& f = d.Cfg().faults;
    if (d.stalled)
        return 0;
    std::size_t limit = READ_CHUNK;
    if (d.stallArmed)
    {
        if (d.stallCounter >= f.stallAfter)
        {
            StartStall(d, now);
            return 0;
        }
        limit =
            std::min<std::size_t>(limit, static_cast<std::size_t>(f.stallAfter - d.stallCounter));
    }
    if (d.xoffArmed)
        limit = std::min<std::size_t>(limit, static_cast<std::size_t>(f.xoffAfter - d.xoffCounter));
    if (f.throttleBps > 0)
    {
        double elapsed = std::chrono::duration<double>(now - d.budgetAt).count();
        d.budgetAt = now;
        // A tenth of a second of burst keeps the pace even without hogging the loop, and
        // reads come in quanta of about 10 ms rather than a few bytes per wake-up.
        double bps = static_cast<double>(f.throttleBps);
        double cap = std::max(1.0, bps / 10.0);
        d.budget = std::min(cap, d.budget + elapsed * bps);
        if (d.budget < std::min(cap, std::max(1.0, bps / 100.0)))
            return 0;
        limit = std::min<std::size_t>(limit, static_cast<std::size_t>(d.budget));
    }
    if (d.connFd >= 0 && f.dropAfter >= 0 && (f.dropTimes == 0 || d.drops < f.dropTimes))
        limit = std::min<std::size_t>(
            limit, static_cast<std::size_t>(std::max<std::int64_t>(
                       0, f.dropAfter - static_cast<std::int64_t>(d.connBytes))));
    return limit;
}

void Simulator::Consumed(Device& d, std::size_t n, Clock::time_point now)
{
    const Faults& f = d.Cfg().faults;
    if (f.throttleBps > 0)
        d.budget -= static_cast<double>(n);
    if (d.stallArmed)
    {
        d.stallCounter += static_cast<std::int64_t>(n);
        if (d.stallCounter >= f.stallAfter)
            StartStall(d, now);
    }
    if (d.xoffArmed)
    {
        d.xoffCounter += static_cast<std::int64_t>(n);
        if (d.xoffCounter >= f.xoffAfter)
            SendXoff(d);
    }
}

void Simulator::StartStall(Device& d, Clock::time_point now)
{
    const Faults& f = d.Cfg().faults;
    d.stallArmed = false;
    d.stalled = true;
    d.stallUntil = now + std::chrono::milliseconds(f.stallMs);
    m_log.Write(m_log.Begin("stall", d.Name()).Add("after", d.stallCounter).Add("ms", f.stallMs));
}

void Simulator::SendXoff(Device& d)
{
    // DC3 now and DC1 later, as a printer whose buffer is full: a sender with output
    // flow control (IXON) stops writing in between; one without it reads the two bytes.
    const Faults& f = d.Cfg().faults;
    d.xoffArmed = false;
    if (d.master < 0)
        return;
    m_log.Write(m_log.Begin("xoff", d.Name()).Add("after", d.xoffCounter).Add("ms", f.xoffMs));
    d.out += '\x13';
    OnPtyWritable(d);
    After(f.xoffMs,
          [this, dev = &d]
          {
              m_log.Write(m_log.Begin("xon", dev->Name()));
              dev->out += '\x11';
              OnPtyWritable(*dev);
          });
}

void Simulator::OnPtyReadable(Device& d)
{
    auto now = Clock::now();
    std::size_t limit = ReadLimit(d, now);
    if (limit == 0)
        return;
    char buf[READ_CHUNK];
    ssize_t n = ::read(d.master, buf, std::min(limit, sizeof buf));
    if (n <= 0)
        return;
    Consumed(d, static_cast<std::size_t>(n), now);
    Feed(d, buf, static_cast<std::size_t>(n));
}

void Simulator::OnPtyWritable(Device& d)
{
    while (!d.out.empty())
    {
        ssize_t n = ::write(d.master, d.out.data(), d.out.size());
        if (n <= 0)
            return;
        d.out.erase(0, static_cast<std::size_t>(n));
    }
}

void Simulator::OnInotify()
{
    alignas(inotify_event) char buf[4096];
    for (;;)
    {
        ssize_t n = ::read(m_inotifyFd, buf, sizeof buf);
        if (n <= 0)
            return;
        for (char* p = buf; p < buf + n;)
        {
            auto* e = reinterpret_cast<inotify_event*>(p);
            p += sizeof(inotify_event) + e->len;
            for (auto& dp : m_devices)
            {
                Device& d = *dp;
                if (d.watch != e->wd)
                    continue;
                if (e->mask & IN_OPEN)
                {
                    ++d.openers;
                    m_log.Write(m_log.Begin("open", d.Name()).Add("openers", d.openers));
                }
                if (e->mask & IN_CLOSE)
                {
                    d.openers = std::max(0, d.openers - 1);
                    if (d.openers == 0)
                    {
                        // Nobody is listening any more: what was sent and not read is
                        // gone, and the device is free for the next (exclusive) opener.
                        ::tcflush(d.slave, TCIFLUSH);
                        ::ioctl(d.slave, TIOCNXCL);
                        // An XOFF the client obeyed would otherwise stop the next one.
                        ::tcflow(d.slave, TCOON);
                        d.out.clear();
                    }
                    m_log.Write(m_log.Begin("close", d.Name()).Add("openers", d.openers));
                }
            }
        }
    }
}

void Simulator::OnAccept(Device& d)
{
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept4(d.listenFd, reinterpret_cast<sockaddr*>(&peer), &len,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    d.connFd = fd;
    d.connBytes = 0;
    ++d.connId;
    ++d.printer.Count().connections;
    m_log.Write(
        m_log.Begin("open", d.Name())
            .Add("connection", d.connId)
            .Add("from", Dotted(peer.sin_addr) + ":" + std::to_string(ntohs(peer.sin_port))));
    const Faults& f = d.Cfg().faults;
    if (f.dropAfter == 0 && (f.dropTimes == 0 || d.drops < f.dropTimes))
        DropConnection(d);
}

void Simulator::OnConnectionReadable(Device& d)
{
    auto now = Clock::now();
    std::size_t limit = ReadLimit(d, now);
    if (limit == 0)
        return;
    char buf[READ_CHUNK];
    ssize_t n = ::recv(d.connFd, buf, std::min(limit, sizeof buf), 0);
    if (n < 0)
    {
        if (errno == EAGAIN || errno == EINTR)
            return;
        m_log.Write(m_log.Begin("error", d.Name())
                        .Add("connection", d.connId)
                        .Add("errno", errno)
                        .Add("text", std::strerror(errno)));
        CloseConnection(d, "error");
        return;
    }
    if (n == 0)
    {
        // The client has shut down its sending side: the job is complete.
        CloseConnection(d, "eof");
        return;
    }
    d.connBytes += static_cast<std::uint64_t>(n);
    Consumed(d, static_cast<std::size_t>(n), now);
    Feed(d, buf, static_cast<std::size_t>(n));
    const Faults& f = d.Cfg().faults;
    if (f.dropAfter >= 0 && (f.dropTimes == 0 || d.drops < f.dropTimes) &&
        d.connBytes >= static_cast<std::uint64_t>(f.dropAfter))
        DropConnection(d);
}

void Simulator::DropConnection(Device& d)
{
    const Faults& f = d.Cfg().faults;
    ++d.drops;
    m_log.Write(m_log.Begin("drop", d.Name())
                    .Add("connection", d.connId)
                    .Add("after", d.connBytes)
                    .Add("mode", f.dropMode == DropMode::Reset ? "reset" : "close"));
    if (f.dropMode == DropMode::Reset)
    {
        linger l{1, 0};
        ::setsockopt(d.connFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    }
    CloseConnection(d, "drop");
}

void Simulator::CloseConnection(Device& d, const char* why)
{
    if (d.parser.HasPending())
        HandleEvents(d, d.parser.Flush());
    CloseFd(d.connFd);
    m_log.Write(m_log.Begin("close", d.Name())
                    .Add("connection", d.connId)
                    .Add("bytes", d.connBytes)
                    .Add("reason", why));
}

// ---------------------------------------------------------------- commands and replies

void Simulator::Feed(Device& d, const char* data, std::size_t n)
{
    d.printer.Count().bytesReceived += n;
    HandleEvents(d, d.parser.Feed(data, n));
    if (d.parser.HasPending())
        d.flushAt = Clock::now() + std::chrono::milliseconds(PENDING_FLUSH_MS);
}

void Simulator::HandleEvents(Device& d, std::vector<ParseEvent> events)
{
    for (ParseEvent& e : events)
    {
        if (!e.isCommand)
        {
            d.printer.AddLabelData(e.data);
            bool cut = e.data.size() > MAX_LOGGED_DATA;
            json::Object line = m_log.Begin("data", d.Name());
            line.Add("count", static_cast<std::uint64_t>(e.data.size()))
                .Add("label_bytes", d.printer.Count().labelBytes)
                .Add("hex", json::HexBytes(cut ? e.data.substr(0, MAX_LOGGED_DATA) : e.data));
            if (cut)
                line.Add("truncated", true);
            m_log.Write(line);
            continue;
        }
        const Command& c = e.command;
        std::string reply = d.printer.Apply(c);
        json::Object line = m_log.Begin("command", d.Name());
        line.Add("command", CommandName(c.kind)).Add("hex", json::HexBytes(c.bytes));
        if (c.unit)
            line.Add("unit", std::string(1, c.unit));
        if (c.kind == CommandKind::SetSerial)
            line.Add("serial", c.serial);
        m_log.Write(line);
        if (!reply.empty())
            SendReply(d, reply);
    }
}

void Simulator::SendReply(Device& d, const std::string& reply)
{
    auto dropped = [&](const char* reason)
    {
        m_log.Write(m_log.Begin("reply-dropped", d.Name())
                        .Add("reason", reason)
                        .Add("hex", json::HexBytes(reply)));
    };
    if (!IsBidirectional(d.Cfg().kind))
        return dropped("one-way");
    const Faults& f = d.Cfg().faults;
    if (f.silent)
        return dropped("silent");
    int parts = std::max(1, std::min<int>(f.splitParts, static_cast<int>(reply.size())));
    std::size_t size = reply.size() / static_cast<std::size_t>(parts);
    for (int k = 0; k < parts; ++k)
    {
        std::size_t from = size * static_cast<std::size_t>(k);
        std::string part = k == parts - 1 ? reply.substr(from) : reply.substr(from, size);
        int delay = f.slowMs + k * f.splitGapMs;
        if (delay <= 0)
            WriteReplyPart(d, part, k + 1, parts);
        else
            After(delay,
                  [this, dev = &d, part, k, parts] { WriteReplyPart(*dev, part, k + 1, parts); });
    }
}

void Simulator::WriteReplyPart(Device& d, const std::string& part, int index, int parts)
{
    OnInotify();
    if (d.openers == 0)
    {
        m_log.Write(m_log.Begin("reply-dropped", d.Name())
                        .Add("reason", "closed")
                        .Add("hex", json::HexBytes(part)));
        return;
    }
    ++d.printer.Count().repliesSent;
    m_log.Write(m_log.Begin("reply", d.Name())
                    .Add("hex", json::HexBytes(part))
                    .Add("part", index)
                    .Add("parts", parts));
    d.out += part;
    OnPtyWritable(d);
}

// ---------------------------------------------------------------- discovery

void Simulator::OnDiscoveryReadable(int fd, Device* only)
{
    for (int round = 0; round < 64; ++round)
    {
        char buf[4096];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0)
            return;
        std::string bytes(buf, static_cast<std::size_t>(n));
        static const char request[6] = {0x2E, 0x2C, 0x3A, 0x01, 0x00, 0x00};
        bool valid = n == 6 && std::memcmp(buf, request, 6) == 0;
        std::string sender = Dotted(from.sin_addr);
        m_log.Write(m_log.Begin("discovery-request", only ? only->Name() : "")
                        .Add("from", sender)
                        .Add("port", static_cast<int>(ntohs(from.sin_port)))
                        .Add("hex", json::HexBytes(bytes))
                        .Add("valid", valid));
        if (!valid)
            continue;
        if (!m_options.allowNonLoopback && (ntohl(from.sin_addr.s_addr) >> 24) != 127)
        {
            m_log.Write(
                m_log.Begin("discovery-refused").Add("to", sender).Add("reason", "not loopback"));
            continue;
        }
        for (auto& d : m_devices)
            if (d->udpFd >= 0 && (!only || only == d.get()))
                AnswerDiscovery(*d, from);
    }
}

void Simulator::AnswerDiscovery(Device& d, const sockaddr_in& to)
{
    const Faults& f = d.Cfg().faults;
    if (!d.Cfg().powered || f.discovery == DiscoveryMode::None)
        return;
    std::string record(RECORD_SIZE, '\0');
    record[0] = 0x3A;
    record[1] = 0x2C;
    record[2] = 0x2E;
    in_addr addr{};
    ::inet_pton(AF_INET, d.Cfg().address.c_str(), &addr);
    std::memcpy(&record[72], &addr, 4);
    std::string name = d.Name().substr(0, RECORD_SIZE - 84 - 1);
    std::memcpy(&record[84], name.data(), name.size());
    int copies = 1;
    const char* mode = "normal";
    switch (f.discovery)
    {
    case DiscoveryMode::Normal:
    case DiscoveryMode::None:
        break;
    case DiscoveryMode::Duplicate:
        copies = 2;
        mode = "dup";
        break;
    case DiscoveryMode::Short:
        record.resize(static_cast<std::size_t>(f.discoveryLength));
        mode = "short";
        break;
    case DiscoveryMode::Long:
        // Filler a reader would show if it ran past the record.
        record.resize(static_cast<std::size_t>(f.discoveryLength), 'X');
        mode = "long";
        break;
    case DiscoveryMode::NoNul:
        for (std::size_t i = 84 + name.size(); i < RECORD_SIZE; ++i)
            record[i] = 'N';
        mode = "nonul";
        break;
    case DiscoveryMode::BadSignature:
        record[0] = 0x2E;
        record[1] = 0x2C;
        record[2] = 0x3A;
        mode = "badsig";
        break;
    }
    for (int k = 0; k < copies; ++k)
    {
        ssize_t n = ::sendto(d.udpFd, record.data(), record.size(), 0,
                             reinterpret_cast<const sockaddr*>(&to), sizeof to);
        json::Object line = m_log.Begin("discovery-answer", d.Name());
        line.Add("to", Dotted(to.sin_addr))
            .Add("port", static_cast<int>(ntohs(to.sin_port)))
            .Add("length", static_cast<std::uint64_t>(record.size()))
            .Add("mode", mode);
        if (n < 0)
            line.Add("errno", errno);
        m_log.Write(line);
    }
}

// ---------------------------------------------------------------- control socket

void Simulator::OnControlAccept()
{
    int fd = ::accept4(m_controlFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0)
        return;
    auto c = std::make_unique<ControlClient>();
    c->fd = fd;
    m_clients.push_back(std::move(c));
}

void Simulator::OnControlReadable(ControlClient& c)
{
    char buf[4096];
    for (;;)
    {
        ssize_t n = ::recv(c.fd, buf, sizeof buf, 0);
        if (n > 0)
        {
            c.in.append(buf, static_cast<std::size_t>(n));
            if (c.in.size() > 65536)
            {
                c.closing = true;
                c.out.clear();
                return;
            }
            continue;
        }
        if (n == 0)
            c.closing = true;
        break;
    }
    std::size_t nl;
    while ((nl = c.in.find('\n')) != std::string::npos)
    {
        std::string line = c.in.substr(0, nl);
        c.in.erase(0, nl + 1);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        c.out += HandleControl(line) + "\n";
    }
    while (!c.out.empty())
    {
        ssize_t n = ::send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
        if (n <= 0)
        {
            if (n < 0 && errno != EAGAIN)
            {
                c.out.clear();
                c.closing = true;
            }
            break;
        }
        c.out.erase(0, static_cast<std::size_t>(n));
    }
}

std::string Simulator::HandleControl(const std::string& line)
{
    std::string error;
    std::vector<std::string> t = Tokenize(line, error);
    if (!error.empty())
        return ErrorJson(error);
    if (t.empty())
        return ErrorJson("empty command");
    const std::string& cmd = t[0];
    if (cmd == "ping")
        return json::Object().Add("ok", true).Str();
    if (cmd == "mark")
    {
        std::string text = t.size() > 1 ? t[1] : "";
        m_log.Write(m_log.Begin("mark").Add("text", text));
        return json::Object().Add("ok", true).Str();
    }
    if (cmd == "state")
    {
        if (t.size() > 1)
        {
            Device* d = Find(t[1]);
            if (!d)
                return ErrorJson("no printer '" + t[1] + "'");
            return json::Object().Add("ok", true).AddRaw("printer", StateOf(*d)).Str();
        }
        std::string list = "[";
        for (auto& d : m_devices)
            list += (list.size() > 1 ? "," : "") + StateOf(*d);
        return json::Object().Add("ok", true).AddRaw("printers", list + "]").Str();
    }
    if (t.size() < 2)
        return ErrorJson("usage: " + cmd + " NAME ...");
    Device* d = Find(t[1]);
    if (!d)
        return ErrorJson("no printer '" + t[1] + "'");
    PrinterConfig& c = d->Cfg();
    if (cmd == "power")
    {
        if (t.size() != 3 || (t[2] != "on" && t[2] != "off"))
            return ErrorJson("usage: power NAME on|off");
        bool on = t[2] == "on";
        if (on != c.powered)
        {
            if (c.kind == Kind::Network)
            {
                if (on)
                {
                    std::string e = StartListener(*d);
                    if (!e.empty())
                        return ErrorJson(e);
                }
                else
                    StopNetwork(*d, true);
            }
            else if (on)
            {
                std::string e = PublishPty(*d);
                if (!e.empty())
                    return ErrorJson(e);
            }
            else
                UnpublishPty(*d);
            c.powered = on;
        }
        m_log.Write(m_log.Begin("power", d->Name()).Add("state", t[2]));
        return json::Object().Add("ok", true).AddRaw("printer", StateOf(*d)).Str();
    }
    if (cmd == "fault")
    {
        std::string faultText;
        for (std::size_t i = 2; i < t.size(); ++i)
            faultText += (i > 2 ? " " : "") + t[i];
        Faults f = c.faults;
        std::string e = ApplyFault(f, faultText);
        if (!e.empty())
            return ErrorJson(e);
        c.faults = f;
        ArmFaultRuntime(*d);
        m_log.Write(
            m_log.Begin("fault", d->Name()).Add("fault", faultText).Add("faults", f.Describe()));
        return json::Object().Add("ok", true).AddRaw("printer", StateOf(*d)).Str();
    }
    if (cmd == "set")
    {
        if (t.size() != 4)
            return ErrorJson("usage: set NAME serial|head|total|history|model|ieee1284 VALUE");
        const std::string& key = t[2];
        const std::string& value = t[3];
        if (key == "serial")
            c.serial = value;
        else if (key == "ieee1284")
        {
            if (c.kind != Kind::Usb)
                return ErrorJson("only USB printers have an IEEE 1284 ID");
            if (value.size() > 1021)
                return ErrorJson("the IEEE 1284 ID must stay under 1022 bytes");
            c.ieee1284 = value;
            if (d->published)
            {
                std::string e = WriteSidecar(*d);
                if (!e.empty())
                    return ErrorJson(e);
            }
        }
        else if (key == "model")
            c.model = value;
        else if (key == "history")
        {
            if (value.size() > 900)
                return ErrorJson("the head history must stay under 900 bytes");
            c.history = value;
        }
        else if (key == "head" || key == "total")
        {
            char* end = nullptr;
            double v = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(v >= 0) || v > 1e12)
                return ErrorJson(key + " must be a non-negative number of inches");
            (key == "head" ? c.headInches : c.totalInches) = v;
        }
        else
            return ErrorJson("unknown key '" + key + "'");
        m_log.Write(m_log.Begin("set", d->Name()).Add("key", key).Add("value", value));
        return json::Object().Add("ok", true).AddRaw("printer", StateOf(*d)).Str();
    }
    return ErrorJson("unknown command '" + cmd + "'");
}

} // namespace printersim
