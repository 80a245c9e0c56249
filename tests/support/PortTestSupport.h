#pragma once
// Helpers for the port tests: a pseudo-terminal that plays a device, and the private
// device-override folder every test binary gets through VARKO_DEVICE_DIR.
#include "CString.h"
#include "CVarkoPrinterException.h"
#include "SysCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace porttest
{
// The device folder of this test. ctest runs the cases of one binary side by side with
// the same VARKO_DEVICE_DIR, each in a process of its own, so the first call gives the
// process a subfolder named after the running test and points VARKO_DEVICE_DIR there.
inline std::filesystem::path DeviceDir()
{
    static const std::filesystem::path dir = []
    {
        const char* base = std::getenv("VARKO_DEVICE_DIR");
        if (!base || !*base)
            throw std::runtime_error("VARKO_DEVICE_DIR is not set; run the tests through ctest");
        std::string leaf = "test";
        if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info())
            leaf = std::string(info->test_suite_name()) + "." + info->name();
        std::filesystem::path d = std::filesystem::path(base) / leaf;
        std::filesystem::create_directories(d);
        ::setenv("VARKO_DEVICE_DIR", d.c_str(), 1);
        return d;
    }();
    return dir;
}

// Publishes target under name in the override folder (replacing an older entry).
inline std::string Publish(const std::string& name, const std::string& target)
{
    auto link = DeviceDir() / name;
    std::filesystem::create_directories(link.parent_path());
    std::error_code ec;
    std::filesystem::remove(link, ec);
    std::filesystem::create_symlink(target, link);
    return link.string();
}

inline void Unpublish(const std::string& name)
{
    std::error_code ec;
    std::filesystem::remove(DeviceDir() / name, ec);
}

// A pseudo-terminal: the test holds the master side and plays the printer; the port
// under test opens the slave through its published name.
class Pty
{
public:
    Pty()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            throw std::runtime_error("no pseudo-terminal");
        m_slave = ::ptsname(m_master);
        // Holding the slave open keeps the pair alive between the port's opens, so
        // bytes the port wrote can still be read after it closed.
        m_slaveKeeper = ::open(m_slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        struct termios t;
        ::tcgetattr(m_slaveKeeper, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_slaveKeeper, TCSANOW, &t);
    }
    ~Pty()
    {
        CloseMaster();
        if (m_slaveKeeper >= 0)
            ::close(m_slaveKeeper);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return m_slave; }
    int Master() const { return m_master; }

    void Send(const std::string& bytes)
    {
        if (::write(m_master, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("pty write failed");
    }

    // What the port sent, collected until nothing more comes for quietMs.
    std::string Received(int quietMs = 200)
    {
        std::string out;
        char buf[4096];
        for (;;)
        {
            struct pollfd p = {m_master, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0 || !(p.revents & POLLIN))
                break;
            ssize_t n = ::read(m_master, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }

    // The printer is unplugged: the slave side sees a hang-up.
    void CloseMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    void CloseKeeper()
    {
        if (m_slaveKeeper >= 0)
            ::close(m_slaveKeeper);
        m_slaveKeeper = -1;
    }

private:
    int m_master = -1;
    int m_slaveKeeper = -1;
    std::string m_slave;
};

// /dev/null dressed as the printer node a port takes (major 180 for usblp, 6 for lp):
// a device that takes every byte and is not a terminal, for tests of the write paths.
class NullAsPrinterNode
{
public:
    explicit NullAsPrinterNode(unsigned major) : m_fstat(&SysCalls::fstat, Fstat)
    {
        Major() = major;
    }

private:
    static unsigned& Major()
    {
        static unsigned major = 0;
        return major;
    }
    static int Fstat(int fd, struct stat* st)
    {
        const int r = RealSysCalls().fstat(fd, st);
        if (r == 0 && S_ISCHR(st->st_mode) && st->st_rdev == makedev(1, 3))
            st->st_rdev = makedev(Major(), 0);
        return r;
    }
    ScopedSysCall<int (*)(int, struct stat*)> m_fstat;
};

inline long long MsSince(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 t)
        .count();
}

// Runs f and returns the code of the CVarkoPrinterException it throws (0 if none).
template <typename F> DWORD CodeOf(F&& f, bool* osError = nullptr)
{
    try
    {
        f();
    }
    catch (const CVarkoPrinterException& e)
    {
        if (osError)
            *osError = e.IsOsError();
        return e.GetErrorCode();
    }
    return 0;
}

// One timed port call: the code it threw (0 if none), the bytes it moved and how long it
// took. The time-limit tests look at all three together.
struct TimedCall
{
    DWORD code = 0;
    std::string bytes; // what a read returned
    DWORD count = 0;   // bytes read or written
    long long ms = 0;
    bool osError = false; // the code came from the system, not from the port's own checks
};

template <typename Port> TimedCall TimedRead(Port& port, std::size_t room)
{
    std::string buf(room, '\0');
    TimedCall r;
    r.count = 99; // a value the read must overwrite, even when nothing comes
    auto start = std::chrono::steady_clock::now();
    r.code = CodeOf([&] { port.Read(buf.data(), static_cast<DWORD>(room), r.count); }, &r.osError);
    r.ms = MsSince(start);
    r.bytes = buf.substr(0, std::min<std::size_t>(r.count, room));
    return r;
}

template <typename Port> TimedCall TimedWrite(Port& port, const std::string& data)
{
    TimedCall r;
    auto start = std::chrono::steady_clock::now();
    r.code = CodeOf([&] { port.Write(data.data(), static_cast<DWORD>(data.size()), r.count); },
                    &r.osError);
    r.ms = MsSince(start);
    return r;
}

// An open port whose device has gone (unplugged): a read fails at once with the
// system's error, a write fails too, and the port can still be closed.
template <typename Port> void ExpectGoneDeviceFailsAtOnce(Port& port)
{
    TimedCall read = TimedRead(port, 8);
    EXPECT_NE(read.code, 0u);
    EXPECT_TRUE(read.osError);
    EXPECT_LT(read.ms, 1000);
    DWORD n = 0;
    EXPECT_NE(CodeOf([&] { port.Write("x", 1, n); }), 0u);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
}
} // namespace porttest
