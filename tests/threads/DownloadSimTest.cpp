// Downloads end to end: the library's real ports, the printer thread and the throttle
// against the printer simulator, which keeps a CRC-32 of the label data it received.
#include "CNetworkPort.h"
#include "CSerialPort.h"
#include "CThrottleThread.h"
#include "CVarkoPrinter.h"
#include "RecordingWindow.h"
#include "ScriptedPrompt.h"
#include "SimulatorProcess.h"
#include "SysCalls.h"
#include "ThreadTestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fstream>
#include <linux/sockios.h>
#include <memory>
#include <sys/ioctl.h>

using namespace std::chrono_literals;

namespace
{
// Label data that the simulator cannot mistake for a command: no line feed (every RLX
// command starts with one) and no tilde (the TPX command).
std::string LabelData(std::size_t size)
{
    std::string s(size, ' ');
    std::uint32_t x = 0x9e3779b9u ^ static_cast<std::uint32_t>(size);
    for (auto& c : s)
    {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>('!' + (x >> 24) % 90); // '!'..'z', never '~' or '\n'
    }
    return s;
}

class SimDownload : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (auto& p : printers)
            p->StopThreads();
    }

    std::string WriteFile(const std::string& name, const std::string& content)
    {
        std::string path = dir.Path(name);
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    CVarkoPrinter& AddNetwork(const SimDevice& device)
    {
        auto* port = new CNetworkPort;
        in_addr a{};
        inet_pton(AF_INET, device.address.c_str(), &a);
        auto* b = reinterpret_cast<const unsigned char*>(&a.s_addr);
        port->SetIPAddress(b[0], b[1], b[2], b[3]);
        port->m_tcpPort = static_cast<DWORD>(device.tcpPort);
        return Add(port);
    }
    CVarkoPrinter& AddSerial(const SimDevice& device)
    {
        auto* port = new CSerialPort;
        port->SetPortName(device.portName.c_str());
        return Add(port);
    }
    CVarkoPrinter& Add(CPortBase* port)
    {
        printers.push_back(std::make_unique<CVarkoPrinter>(&window));
        printers.back()->SetPort(port);
        printers.back()->StartThread();
        return *printers.back();
    }
    WPARAM Record(CVarkoPrinter& p)
    {
        return reinterpret_cast<WPARAM>(static_cast<CVarkoPrinterData*>(&p));
    }
    bool Ended(CVarkoPrinter& p, LPARAM result, std::chrono::milliseconds wait)
    {
        WPARAM r = Record(p);
        return window.WaitFor(
            [=](const PostedMessage& m)
            { return m.message == WM_DOWNLOAD_END && m.wParam == r && m.lParam == result; },
            wait);
    }

    ScratchDir dir;
    RecordingWindow window;
    ScriptedPrompt prompt;
    std::vector<std::unique_ptr<CVarkoPrinter>> printers;
};
} // namespace

TEST_F(SimDownload, NetworkAndSerialPrintersReceiveTheFileByteForByte)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[Net]\nkind = network\naddress = " + address +
                         "\n[Ser]\nkind = serial\n");
    std::string content = LabelData(150000);
    std::string path = WriteFile("label.lbl", content);
    CVarkoPrinter& net = AddNetwork(sim.Device("Net"));
    CVarkoPrinter& ser = AddSerial(sim.Device("Ser"));
    for (CVarkoPrinter* p : {&net, &ser})
    {
        p->DownloadFile(path.c_str());
        p->StartDownload(2);
    }
    ASSERT_TRUE(Ended(net, eDownloadSucceeded, 30s)) << prompt.Texts().size() << " boxes";
    ASSERT_TRUE(Ended(ser, eDownloadSucceeded, 30s)) << prompt.Texts().size() << " boxes";
    const std::uint32_t crc = SimulatorProcess::Crc32(content);
    for (const char* name : {"Net", "Ser"})
    {
        ASSERT_TRUE(SimulatorProcess::WaitFor(
            [&] { return sim.State(name).labelBytes >= content.size(); }, 5000))
            << name << " got " << sim.State(name).labelBytes;
        SimPrinterState state = sim.State(name);
        EXPECT_EQ(state.labelBytes, content.size()) << name;
        EXPECT_EQ(state.labelCrc32, crc) << name;
    }
    EXPECT_TRUE(prompt.Records().empty());
    EXPECT_TRUE(net.DownloadFile().IsEmpty());
}

TEST_F(SimDownload, SlowPrinterStillReceivesTheWholeFile)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[Slow]\nkind = network\naddress = " + address +
                         "\nfault = throttle 40000\n");
    std::string content = LabelData(120000);
    CVarkoPrinter& p = AddNetwork(sim.Device("Slow"));
    p.DownloadFile(WriteFile("slow.lbl", content).c_str());
    p.StartDownload(1);
    ASSERT_TRUE(Ended(p, eDownloadSucceeded, 30s));
    ASSERT_TRUE(SimulatorProcess::WaitFor(
        [&] { return sim.State("Slow").labelBytes >= content.size(); }, 10000));
    EXPECT_EQ(sim.State("Slow").labelCrc32, SimulatorProcess::Crc32(content));
    EXPECT_TRUE(prompt.Records().empty());
}

TEST_F(SimDownload, PrinterThatDropsTheConnectionAndRefusesTheRetryFailsWithTheTwoBoxes)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[Drop]\nkind = network\naddress = " + address +
                         "\nfault = throttle 100000\n");
    std::string content = LabelData(6 << 20);
    std::string path = WriteFile("drop.lbl", content);
    CVarkoPrinter& p = AddNetwork(sim.Device("Drop"));
    p.DownloadFile(path.c_str());
    p.StartDownload(1);
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_PROGRESS, 1, 30s));
    // Switching off resets the running connection and closes the listener, so the
    // port's one reconnect is refused.
    sim.Power("Drop", false);
    ASSERT_TRUE(Ended(p, eDownloadFailed, 30s)) << prompt.Texts().size() << " boxes";
    auto boxes = prompt.Records();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text.str(), "Printer Connection Error");
    EXPECT_EQ(boxes[1].type, MB_ICONINFORMATION);
    EXPECT_EQ(sim.State("Drop").Counter("connections"), 1u);
    EXPECT_LT(sim.State("Drop").labelBytes, content.size());
    EXPECT_EQ(p.DownloadFile().str(), path) << "a failed download can be sent again";
}

// A printer that drops the connection every 256 KiB and keeps what its stack had
// acknowledged: what sat in each dead connection's buffers must go again, from the first
// byte the printer did not acknowledge, or the job is reported done with most of it lost.
TEST_F(SimDownload, APrinterThatDropsEveryQuarterMebibyteGetsTheWholeFileOnce)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[Flaky]\nkind = network\naddress = " + address +
                         "\nfault = drop 262144 keep 0\n");
    std::string content = LabelData(4 << 20);
    CVarkoPrinter& p = AddNetwork(sim.Device("Flaky"));
    p.DownloadFile(WriteFile("flaky.lbl", content).c_str());
    p.StartDownload(1);
    ASSERT_TRUE(Ended(p, eDownloadSucceeded, 90s)) << prompt.Texts().size() << " boxes";
    // Acknowledged means the printer's stack has it; the printer reads it a moment later.
    SimulatorProcess::WaitFor([&] { return sim.State("Flaky").labelBytes >= content.size(); },
                              5000);
    SimPrinterState state = sim.State("Flaky");
    EXPECT_EQ(state.labelBytes, content.size());
    EXPECT_EQ(state.labelCrc32, SimulatorProcess::Crc32(content)) << "bytes lost or sent twice";
    // Each connection took its 256 KiB and whatever else it had acknowledged by then.
    EXPECT_GE(state.Counter("connections"), 4u);
    EXPECT_TRUE(prompt.Records().empty());
}

// Done means the printer has every byte: when the port cannot tell where a dropped
// connection left off (the system will not say how much was acknowledged), it cannot
// send the rest again, and the job fails with the time-out (code 12) instead of
// reporting success.
int noQueueSizes(int fd, unsigned long request, void* arg)
{
    if (request == SIOCOUTQ)
    {
        errno = EINVAL;
        return -1;
    }
    return RealSysCalls().ioctl(fd, request, arg);
}

TEST_F(SimDownload, ADropThatCannotBeResumedFailsTheJobWithTheTimeOut)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[Flaky]\nkind = network\naddress = " + address +
                         "\nfault = drop 262144 keep 0\n");
    std::string content = LabelData(1 << 20);
    std::string path = WriteFile("flaky.lbl", content);
    CVarkoPrinter& p = AddNetwork(sim.Device("Flaky"));
    ScopedSysCall ioctl(&SysCalls::ioctl, noQueueSizes);
    p.DownloadFile(path.c_str());
    p.StartDownload(1);
    ASSERT_TRUE(Ended(p, eDownloadFailed, 60s)) << prompt.Texts().size() << " boxes";
    auto boxes = prompt.Records();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].text.Find("timed out"), -1) << boxes[0].text.str();
    EXPECT_EQ(boxes[1].text.str(), "Printer Connection Error");
    EXPECT_LT(sim.State("Flaky").labelBytes, content.size());
    EXPECT_EQ(p.DownloadFile().str(), path) << "a failed download can be sent again";
}

TEST_F(SimDownload, CancelDuringTheTransferEndsSoonWithCancelled)
{
    std::string address = SimulatorProcess::UniqueLoopback();
    SimulatorProcess sim("[Busy]\nkind = network\naddress = " + address +
                         "\nfault = throttle 100000\n");
    std::string content = LabelData(6 << 20);
    CVarkoPrinter& p = AddNetwork(sim.Device("Busy"));
    p.DownloadFile(WriteFile("busy.lbl", content).c_str());
    p.StartDownload(1);
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_PROGRESS, 3, 30s));
    auto cancelled = std::chrono::steady_clock::now();
    std::size_t before = window.Count(WM_DOWNLOAD_PROGRESS);
    p.CancelDownload();
    ASSERT_TRUE(Ended(p, eDownloadCanceled, 20s));
    // The job stops after the piece it was writing, so at most that piece crosses one
    // more notice step (11 pieces apart); the rest of the time is the port closing.
    EXPECT_LE(window.Count(WM_DOWNLOAD_PROGRESS), before + 1);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 20s);
    EXPECT_LT(sim.State("Busy").labelBytes, content.size());
    EXPECT_FALSE(p.DownloadFile().IsEmpty());
    EXPECT_TRUE(prompt.Records().empty());
}
