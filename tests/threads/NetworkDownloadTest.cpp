// Downloads through the library's network port, the job and the throttle to a printer
// played by a loopback listener: the bytes the printer receives, the pieces the port is
// given and the notices the window gets, a cancel, and a connection the printer dropped.
#include "CNetworkPort.h"
#include "CPrinterThread.h"
#include "CVarkoPrinter.h"
#include "LoopbackSink.h"
#include "PollUntil.h"
#include "RecordingWindow.h"
#include "ScriptedPrompt.h"
#include "TcpStates.h"
#include "ThreadTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace
{
// The network port as the job drives it, telling the test the size of every piece it
// is given and letting the test act just before a piece goes out.
class WatchedNetworkPort : public CNetworkPort
{
public:
    void Write(const void* buffer, DWORD count, DWORD& written) override
    {
        std::function<void(std::size_t)> before;
        std::size_t nth;
        {
            std::lock_guard g(m_lock);
            m_sizes.push_back(count);
            nth = m_sizes.size();
            before = m_before;
        }
        if (before)
            before(nth);
        CNetworkPort::Write(buffer, count, written);
    }
    std::vector<DWORD> Sizes() const
    {
        std::lock_guard g(m_lock);
        return m_sizes;
    }
    // Runs before the nth piece (counted from 1) is handed to the socket.
    void BeforeWrite(std::function<void(std::size_t nth)> hook)
    {
        std::lock_guard g(m_lock);
        m_before = std::move(hook);
    }

private:
    mutable std::mutex m_lock;
    std::vector<DWORD> m_sizes;
    std::function<void(std::size_t)> m_before;
};

// A printer that takes connections on a thread of its own and compares every byte with
// the file as it arrives. It can drop its first connections the moment it has accepted
// them.
class CheckingPrinter
{
public:
    CheckingPrinter(const std::string& expected, int drops = 0)
        : m_expected(expected), m_drops(drops)
    {
        int stop[2];
        if (::pipe2(stop, O_CLOEXEC) != 0)
            std::abort();
        m_stop = stop[1];
        m_thread = std::thread(
            [this, in = stop[0]]
            {
                LoopbackSink::Handlers h;
                h.accepted = [this](int) { return Accepted(); };
                h.received = [this](const char* data, std::size_t size) { Received(data, size); };
                h.ended = [this](const LoopbackSink::Ended&) { Ended(); };
                m_sink.Serve(in, h);
                ::close(in);
            });
    }
    ~CheckingPrinter()
    {
        ::close(m_stop);
        m_thread.join();
    }
    DWORD Port() const { return static_cast<DWORD>(m_sink.Port()); }

    // True once a connection has ended with the printer's data (not a dropped one).
    bool WaitForEnd(std::chrono::milliseconds limit = 30s)
    {
        std::unique_lock g(m_lock);
        return m_changed.wait_for(g, limit, [&] { return m_ended; });
    }
    bool WaitForDrops(std::chrono::milliseconds limit = 10s)
    {
        std::unique_lock g(m_lock);
        return m_changed.wait_for(g, limit, [&] { return m_dropsDone; });
    }
    std::size_t Received() const
    {
        std::lock_guard g(m_lock);
        return m_received;
    }
    bool Matches() const
    {
        std::lock_guard g(m_lock);
        return m_matches;
    }
    int Connections() const
    {
        std::lock_guard g(m_lock);
        return m_connections;
    }

private:
    bool Accepted()
    {
        {
            std::lock_guard g(m_lock);
            ++m_connections;
            if (m_drops == 0)
                return true;
            m_dropsDone = --m_drops == 0;
        }
        m_changed.notify_all();
        return false;
    }
    void Received(const char* data, std::size_t got)
    {
        std::lock_guard g(m_lock);
        if (m_received + got > m_expected.size() ||
            std::memcmp(m_expected.data() + m_received, data, got) != 0)
            m_matches = false;
        m_received += got;
    }
    void Ended()
    {
        {
            std::lock_guard g(m_lock);
            m_ended = true;
        }
        m_changed.notify_all();
    }

    LoopbackSink m_sink;
    const std::string& m_expected;
    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    int m_drops;
    bool m_dropsDone = false;
    bool m_ended = false;
    bool m_matches = true;
    std::size_t m_received = 0;
    int m_connections = 0;
    int m_stop = -1;
    std::thread m_thread;
};

// True once the kernel has shown our end of a connection to that local port the
// printer's end of the data (CLOSE_WAIT in /proc/net/tcp).
bool ClientSawTheEnd(DWORD printerPort, std::chrono::milliseconds limit = 5s)
{
    return PollUntil([&] { return AnyTcpStateTo(printerPort, kTcpCloseWait); }, limit);
}

class NetworkDownload : public ::testing::Test
{
protected:
    void SetUp() override
    {
        printer = std::make_unique<CVarkoPrinter>(&window);
        port = new WatchedNetworkPort;
        port->SetIPAddress(127, 0, 0, 1);
        printer->SetPort(port);
        printer->StartThread();
    }
    void TearDown() override { printer->StopThreads(); }

    void Aim(const CheckingPrinter& sink) { port->m_tcpPort = sink.Port(); }
    // Runs one download through the throttle; its end notice's result.
    LPARAM Download(const std::string& path)
    {
        printer->DownloadFile(path.c_str());
        printer->StartDownload(1);
        EXPECT_TRUE(window.WaitFor(WM_DOWNLOAD_END, 1, 60s)) << "the job never ended";
        auto ends = window.LParams(WM_DOWNLOAD_END);
        return ends.empty() ? -1 : ends.back();
    }

    ScratchDir dir;
    RecordingWindow window;
    ScriptedPrompt prompt;
    std::unique_ptr<CVarkoPrinter> printer;
    WatchedNetworkPort* port = nullptr; // owned by the printer
};

struct SizeCase
{
    std::size_t size;
    std::vector<LPARAM> notices;
};

// gtest would print the bytes of the case, pointers included, into the test's listed name.
void PrintTo(const SizeCase& c, std::ostream* os)
{
    *os << c.size << " bytes";
}

class NetworkDownloadSizes : public NetworkDownload, public ::testing::WithParamInterface<SizeCase>
{
};

std::vector<LPARAM> EveryEleventhPiece(int count)
{
    std::vector<LPARAM> v;
    for (int k = 1; k <= count; ++k)
        v.push_back(LPARAM(11264) * k);
    return v;
}
} // namespace

TEST_P(NetworkDownloadSizes, ThePrinterGetsTheFileExactlyInKibibytePiecesWithTheNotices)
{
    const SizeCase& c = GetParam();
    std::string content;
    const std::string path = dir.MakeFile("label.lbl", c.size, &content);
    CheckingPrinter sink(content);
    Aim(sink);
    EXPECT_EQ(Download(path), eDownloadSucceeded);
    ASSERT_TRUE(sink.WaitForEnd());
    EXPECT_EQ(sink.Received(), c.size);
    EXPECT_TRUE(sink.Matches()) << "bytes differ from the file";
    EXPECT_EQ(sink.Connections(), 1);

    std::vector<DWORD> pieces(c.size / 1024, 1024);
    if (c.size % 1024)
        pieces.push_back(static_cast<DWORD>(c.size % 1024));
    EXPECT_TRUE(port->Sizes() == pieces) << port->Sizes().size() << " pieces";
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_BEGIN), (std::vector<LPARAM>{LPARAM(c.size)}));
    EXPECT_EQ(window.LParams(WM_DOWNLOAD_PROGRESS), c.notices);
    EXPECT_TRUE(printer->DownloadFile().IsEmpty());
    EXPECT_TRUE(prompt.Records().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, NetworkDownloadSizes,
    ::testing::Values(SizeCase{0, {}}, SizeCase{1, {}}, SizeCase{1023, {}}, SizeCase{1024, {}},
                      // The step is 1024: only a count past it is noticed.
                      SizeCase{1025, {1025}},
                      // Step 10240: every eleventh piece; the last nine stay under it.
                      SizeCase{std::size_t(64) << 20, EveryEleventhPiece(5957)}),
    [](const ::testing::TestParamInfo<SizeCase>& info)
    { return "Bytes" + std::to_string(info.param.size); });

TEST_F(NetworkDownload, ACancelTakesEffectWithinThePieceItCameIn)
{
    std::string content;
    const std::string path = dir.MakeFile("label.lbl", 1 << 20, &content);
    CheckingPrinter sink(content);
    Aim(sink);
    auto* thread = dynamic_cast<CPrinterThread*>(printer->GetThread());
    port->BeforeWrite(
        [thread](std::size_t nth)
        {
            if (nth == 5)
                thread->CancelJob();
        });
    EXPECT_EQ(Download(path), eDownloadCanceled);
    ASSERT_TRUE(sink.WaitForEnd());
    EXPECT_EQ(port->Sizes().size(), 5u) << "the job went on past the piece the cancel came in";
    EXPECT_EQ(sink.Received(), 5u * 1024) << "the pieces written reach the printer, no more";
    EXPECT_TRUE(sink.Matches());
    EXPECT_EQ(printer->DownloadFile().str(), path);
    EXPECT_TRUE(prompt.Records().empty());
}

TEST_F(NetworkDownload, AConnectionThePrinterDroppedIsMadeAgainAndTheFileSentOnceExactly)
{
    std::string content;
    const std::string path = dir.MakeFile("label.lbl", (1 << 20) + 5, &content);
    CheckingPrinter sink(content, 1);
    Aim(sink);
    // The printer has ended the first connection by the time the first piece goes out.
    const DWORD printerPort = sink.Port();
    port->BeforeWrite(
        [&sink, printerPort](std::size_t nth)
        {
            if (nth == 1)
            {
                ASSERT_TRUE(sink.WaitForDrops());
                ASSERT_TRUE(ClientSawTheEnd(printerPort));
            }
        });
    EXPECT_EQ(Download(path), eDownloadSucceeded);
    ASSERT_TRUE(sink.WaitForEnd());
    EXPECT_EQ(sink.Connections(), 2);
    EXPECT_EQ(sink.Received(), content.size());
    EXPECT_TRUE(sink.Matches()) << "bytes lost or sent twice";
    EXPECT_EQ(port->Sizes().size(), (content.size() + 1023) / 1024);
    EXPECT_TRUE(prompt.Records().empty());
}
