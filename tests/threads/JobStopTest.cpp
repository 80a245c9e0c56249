// Stopping a printer whose download job is inside a long wait of its port: a connect
// the network never answers, a send to a printer that stopped reading, a USB write the
// device does not take, the settling time before calibrating. Each must end as soon as
// the job is cancelled, so a stop (Delete, Modify, closing a list, leaving the program)
// returns at once and never leaves a job running on a port that is being freed.
#include "CNetworkPort.h"
#include "CPrinterThread.h"
#include "CUSBPort.h"
#include "CVarkoPrinter.h"
#include "LoopbackListener.h"
#include "PortTestSupport.h"
#include "RecordingWindow.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"
#include "SysCalls.h"
#include "ThreadTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>

using namespace std::chrono_literals;

namespace
{
// Set once the job is inside a wait for a device or socket to take data (POLLOUT) with
// a limit of seconds, the waits that a stop used to sit out.
CEvent g_longWait{false, true};
// When set, the device never becomes writable: the wait only ends by its limit or by
// the job's cancel event (which the poll gets as a further descriptor).
std::atomic<bool> g_neverWritable{false};
// When set, only a wait that follows a send the socket refused counts.
std::atomic<bool> g_afterRefusedSend{false};
std::atomic<bool> g_sendRefused{false};

ssize_t watchingSend(int fd, const void* buffer, std::size_t length, int flags)
{
    ssize_t r = RealSysCalls().send(fd, buffer, length, flags);
    if (r < 0 && errno == EAGAIN)
        g_sendRefused = true;
    return r;
}

int watchingPoll(struct pollfd* fds, nfds_t n, int timeoutMs)
{
    bool writeWait = false;
    for (nfds_t i = 0; i < n; ++i)
        writeWait |= (fds[i].events & POLLOUT) != 0;
    if (!writeWait || timeoutMs < 1000)
        return RealSysCalls().poll(fds, n, timeoutMs);
    if (!g_afterRefusedSend || g_sendRefused)
        g_longWait.SetEvent();
    if (!g_neverWritable)
        return RealSysCalls().poll(fds, n, timeoutMs);
    std::vector<pollfd> others(fds, fds + n);
    for (auto& p : others)
        if (p.events & POLLOUT)
            p.fd = -1; // poll leaves negative descriptors alone
    int r = RealSysCalls().poll(others.data(), n, timeoutMs);
    for (nfds_t i = 0; i < n; ++i)
        fds[i].revents = others[i].fd < 0 ? 0 : others[i].revents;
    return r;
}

class JobStop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_longWait.ResetEvent();
        g_neverWritable = false;
        g_afterRefusedSend = false;
        g_sendRefused = false;
    }
    void TearDown() override
    {
        if (printer)
            printer->StopThreads();
    }

    // Starts the printer's thread with this port and file and runs one job.
    void StartJob(CPortBase* port, const std::string& file)
    {
        printer = std::make_unique<CVarkoPrinter>(&window);
        ASSERT_TRUE(StartDownloadJob(*printer, port, file));
    }
    // Stops the printer and tells how long the stop took.
    std::chrono::steady_clock::duration Stop()
    {
        auto t0 = std::chrono::steady_clock::now();
        printer->StopThreads();
        return std::chrono::steady_clock::now() - t0;
    }
    void ExpectCancelledQuietly()
    {
        EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadCanceled}));
        EXPECT_TRUE(prompt.Texts().empty()) << "a job being stopped shows no box";
        EXPECT_EQ(printer->GetThread(), nullptr);
        EXPECT_EQ(printer->GetPort(), nullptr);
    }

    ScratchDir dir;
    RecordingWindow window;
    ScriptedPrompt prompt;
    std::unique_ptr<CVarkoPrinter> printer;
};

// A printer that takes the connection and never reads from it.
class DeafPrinter : public LoopbackListener
{
public:
    DeafPrinter() : LoopbackListener(4096) {}
};

CNetworkPort* NetworkPortTo(DWORD tcpPort)
{
    auto* port = new CNetworkPort;
    port->SetIPAddress(127, 0, 0, 1);
    port->m_tcpPort = tcpPort;
    return port;
}
} // namespace

TEST_F(JobStop, ASendToAPrinterThatStoppedReadingEndsAtOnce)
{
    ScopedSysCall poll(&SysCalls::poll, watchingPoll);
    ScopedSysCall send(&SysCalls::send, watchingSend);
    g_afterRefusedSend = true;
    DeafPrinter deaf;
    StartJob(NetworkPortTo(deaf.Port()), dir.MakeFile("big.prn", 32 << 20));
    ASSERT_TRUE(g_longWait.Lock(10000)) << "the send never had to wait";
    EXPECT_LT(Stop(), 2s);
    ExpectCancelledQuietly();
}

TEST_F(JobStop, AConnectTheNetworkNeverAnswersEndsAtOnce)
{
    ScopedSysCall poll(&SysCalls::poll, watchingPoll);
    g_neverWritable = true;
    DeafPrinter deaf;
    StartJob(NetworkPortTo(deaf.Port()), dir.MakeFile("label.prn", 100));
    ASSERT_TRUE(g_longWait.Lock(10000)) << "the connect never had to wait";
    EXPECT_LT(Stop(), 2s);
    ExpectCancelledQuietly();
}

TEST_F(JobStop, AUsbWriteTheDeviceDoesNotTakeEndsAtOnce)
{
    ScopedSysCall poll(&SysCalls::poll, watchingPoll);
    // A printer that has stopped taking data: its queue is full and stays full.
    int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    auto* port = new CUSBPort;
    port->SetPortName(porttest::Publish("usb/stuck", ::ptsname(master)).c_str());
    StartJob(port, dir.MakeFile("big.prn", 4 << 20));
    ASSERT_TRUE(g_longWait.Lock(10000)) << "the write never had to wait";
    EXPECT_LT(Stop(), 2s);
    ExpectCancelledQuietly();
    ::close(master);
}

TEST_F(JobStop, TheSettlingTimeBeforeCalibratingEndsAtOnce)
{
    auto* port = new ScriptedPort;
    printer = std::make_unique<CVarkoPrinter>(&window);
    printer->m_bCalibrate = true;
    StartDownloadJob(*printer, port, dir.MakeFile("label.prn", 100));
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_END, 1));
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_END), (std::vector<LPARAM>{eDownloadSucceeded}));
    // The job now waits 5 s for the printer to settle before calibrating.
    auto writesBefore = port->Writes().size();
    EXPECT_LT(Stop(), 1s);
    EXPECT_EQ(writesBefore, 1u) << "the label, and no calibration yet";
    EXPECT_TRUE(prompt.Texts().empty());
}
