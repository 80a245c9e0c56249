#include "PtyTransport.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace printersim
{

namespace
{

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

} // namespace

PtyTransport::PtyTransport(TransportHost& host, std::string deviceDir)
    : m_host(host), m_log(host.Log()), m_deviceDir(std::move(deviceDir))
{
}

PtyTransport::~PtyTransport()
{
    for (Device* d : m_devices)
    {
        CloseFd(d->master);
        CloseFd(d->slave);
    }
    CloseFd(m_inotifyFd);
}

std::string PtyTransport::Init()
{
    if (!EnsureDir(m_deviceDir) || !EnsureDir(m_deviceDir + "/usb"))
        return Errno("cannot create device folder " + m_deviceDir);
    m_inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotifyFd < 0)
        return Errno("inotify_init1");
    return "";
}

void PtyTransport::Cleanup()
{
    for (Device* d : m_devices)
        Unpublish(*d);
}

void PtyTransport::AddFds(PollSet& set)
{
    if (m_inotifyFd >= 0)
        set.Add(
            m_inotifyFd, POLLIN, [this](short) { OnInotify(); }, true);
    for (Device* d : m_devices)
    {
        if (d->master < 0)
            continue;
        short in = d->readable ? POLLIN : 0;
        set.Add(d->master, static_cast<short>(in | (d->out.empty() ? 0 : POLLOUT)),
                [this, d](short r)
                {
                    if (r & POLLOUT)
                        OnWritable(*d);
                    if (r & (POLLIN | POLLHUP | POLLERR))
                        OnReadable(*d);
                });
    }
}

std::string PtyTransport::Start(Device& d)
{
    m_devices.push_back(&d);
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
        d.sidecarPath = m_deviceDir + "/usb/" + c.link + ".ieee1284";
        break;
    }
    d.linkPath = m_deviceDir + "/" + d.portName;

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
        return Publish(d);
    return "";
}

std::string PtyTransport::Publish(Device& d)
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

std::string PtyTransport::WriteSidecar(Device& d)
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

void PtyTransport::Unpublish(Device& d)
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

void PtyTransport::OnReadable(Device& d)
{
    auto now = Clock::now();
    std::size_t limit = m_host.ReadLimit(d, now);
    if (limit == 0)
        return;
    char buf[READ_CHUNK];
    ssize_t n = ::read(d.master, buf, std::min(limit, sizeof buf));
    if (n <= 0)
        return;
    m_host.Received(d, buf, static_cast<std::size_t>(n), now);
}

void PtyTransport::OnWritable(Device& d)
{
    while (!d.out.empty())
    {
        ssize_t n = ::write(d.master, d.out.data(), d.out.size());
        if (n <= 0)
            return;
        d.out.erase(0, static_cast<std::size_t>(n));
    }
}

void PtyTransport::OnInotify()
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
            for (Device* dp : m_devices)
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

void PtyTransport::WriteReplyPart(Device& d, const std::string& part, int index, int parts)
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
    OnWritable(d);
}

void PtyTransport::SendXoff(Device& d)
{
    // DC3 now and DC1 later, as a printer whose buffer is full: a sender with output
    // flow control (IXON) stops writing in between; one without it reads the two bytes.
    const Faults& f = d.Cfg().faults;
    d.xoffArmed = false;
    if (d.master < 0)
        return;
    m_log.Write(m_log.Begin("xoff", d.Name()).Add("after", d.xoffCounter).Add("ms", f.xoffMs));
    d.out += '\x13';
    OnWritable(d);
    m_host.After(f.xoffMs,
                 [this, dev = &d]
                 {
                     m_log.Write(m_log.Begin("xon", dev->Name()));
                     dev->out += '\x11';
                     OnWritable(*dev);
                 });
}

} // namespace printersim
