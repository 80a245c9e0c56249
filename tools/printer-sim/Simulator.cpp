#include "Simulator.h"

#include "Json.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>
#include <sys/socket.h>
#include <unistd.h>

namespace printersim
{

namespace
{

constexpr std::size_t MAX_LOGGED_DATA = 1024;
// A command prefix that sits this long without the rest arriving is label data after all.
constexpr int PENDING_FLUSH_MS = 300;

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

Simulator::Simulator(Fleet fleet, SimulatorOptions options)
    : m_fleet(std::move(fleet)), m_options(std::move(options)), m_pty(*this, m_options.deviceDir),
      m_net(*this)
{
}

Simulator::~Simulator()
{
    Cleanup();
}

std::string Simulator::StateOf(const Device& d) const
{
    return d.printer.StateJson(d.Cfg().kind == Kind::Network ? (d.connFd >= 0 ? 1 : 0) : d.openers);
}

Device* Simulator::Find(const std::string& name)
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
        error = m_pty.Init();
        if (!error.empty())
            return error;
    }

    for (const auto& config : m_fleet.printers)
        m_devices.push_back(std::make_unique<Device>(config));

    for (auto& dp : m_devices)
    {
        Device& d = *dp;
        error = d.Cfg().kind == Kind::Network ? m_net.Add(d) : m_pty.Start(d);
        if (!error.empty())
        {
            Cleanup();
            return "printer '" + d.Name() + "': " + error;
        }
        ArmFaultRuntime(d);
    }
    if (m_options.discovery)
    {
        m_discovery.emplace(m_log, m_options.discoveryBind, m_options.discoveryPort,
                            m_options.allowNonLoopback);
        error = m_discovery->Start(m_devices);
        if (!error.empty())
        {
            Cleanup();
            return error;
        }
    }
    if (!m_options.controlPath.empty())
    {
        m_control.emplace(m_options.controlPath,
                          [this](const std::string& line) { return HandleControl(line); });
        error = m_control->Start();
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
    if (m_discovery)
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
    m_pty.Cleanup();
    if (m_control)
        m_control->Cleanup();
}

// ---------------------------------------------------------------- the loop

void Simulator::Run(int stopFd)
{
    std::vector<Transport*> transports;
    if (m_discovery)
        transports.push_back(&*m_discovery);
    if (m_control)
        transports.push_back(&*m_control);
    transports.push_back(&m_pty);
    transports.push_back(&m_net);
    while (!m_stopRequested)
    {
        Wake wake(Clock::now(), RunTimers());
        Tick(wake);
        PollSet set;
        set.Add(stopFd, POLLIN, [this](short) { m_stopRequested = true; });
        for (Transport* t : transports)
            t->AddFds(set);
        if (set.Poll(wake.PollTimeout()) < 0)
        {
            if (errno == EINTR)
                continue;
            break;
        }
        set.Dispatch();
        for (Transport* t : transports)
            t->AfterRound();
    }
    for (auto& d : m_devices)
        FlushPending(*d);
    m_log.Write(m_log.Begin("stop"));
}

void Simulator::Tick(Wake& wake)
{
    const auto now = wake.Now();
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
                wake.At(d.stallUntil);
        }
        if (d.parser.HasPending() && !d.stalled)
        {
            if (d.flushAt <= now)
                HandleEvents(d, d.parser.Flush());
            else
                wake.At(d.flushAt);
        }
        std::size_t limit = ReadLimit(d, now);
        if (d.stalled)
            wake.At(d.stallUntil);
        else if (limit == 0 && d.Cfg().faults.throttleBps > 0)
            wake.At(now + std::chrono::milliseconds(10));
        d.readable = limit > 0;
    }
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
        m_pty.SendXoff(d);
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
            m_pty.SendXoff(d);
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

// ---------------------------------------------------------------- commands and replies

void Simulator::FlushPending(Device& d)
{
    if (d.parser.HasPending())
        HandleEvents(d, d.parser.Flush());
}

void Simulator::Received(Device& d, const char* data, std::size_t n, Clock::time_point now)
{
    Consumed(d, n, now);
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
            m_pty.WriteReplyPart(d, part, k + 1, parts);
        else
            After(delay, [this, dev = &d, part, k, parts]
                  { m_pty.WriteReplyPart(*dev, part, k + 1, parts); });
    }
}

// ---------------------------------------------------------------- control commands

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
                    std::string e = m_net.Start(*d);
                    if (!e.empty())
                        return ErrorJson(e);
                }
                else
                    m_net.Stop(*d, true);
            }
            else if (on)
            {
                std::string e = m_pty.Publish(*d);
                if (!e.empty())
                    return ErrorJson(e);
            }
            else
                m_pty.Unpublish(*d);
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
                std::string e = m_pty.WriteSidecar(*d);
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
