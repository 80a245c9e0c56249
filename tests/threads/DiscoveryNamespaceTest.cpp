// A real search with the limited broadcast 255.255.255.255, contained: the discovery
// thread is started inside a network namespace this test creates (joined by a veth pair
// to a second one where the simulator plays a printer) and both are deleted again.
// Needs root and permission to use `ip netns`; skipped otherwise.
#include "CSearchNetworkDlg.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace
{
std::string Script()
{
    return std::string(std::getenv("ODOMIRA_SOURCE_DIR")) + "/scripts/netns-discovery.sh";
}

bool Shell(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

class DiscoveryNamespace : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to create network namespaces";
        std::string id = std::to_string(::getpid());
        m_app = "odo-dapp" + id;
        m_printer = "odo-dprn" + id;
        m_up = true; // tear down whatever part was made
        if (!Shell(Script() + " up " + m_app + " " + m_printer))
            GTEST_SKIP() << "`ip netns` is not permitted here";
    }
    void TearDown() override
    {
        if (m_up)
            Shell(Script() + " down " + m_app + " " + m_printer);
    }
    std::string m_app, m_printer;
    bool m_up = false;
};

TEST_F(DiscoveryNamespace, RealBroadcastFindsThePrinterInTheOtherNamespace)
{
    SimulatorProcess::Options o;
    o.discovery = true;
    o.launcher = {"ip", "netns", "exec", m_printer};
    o.extraArgs = {"--discovery-bind", "0.0.0.0", "--allow-non-loopback"};
    SimulatorProcess sim("[Far Printer]\nkind = network\naddress = 10.77.0.11\n", o);

    int self = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    int app = ::open(("/run/netns/" + m_app).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(self, 0);
    ASSERT_GE(app, 0);
    ASSERT_EQ(::setns(app, CLONE_NEWNET), 0);
    // From here until the search ends the broadcast is the real one; the thread that
    // sends it is created now, inside the app namespace, and keeps it.
    std::string saved = std::getenv("VARKO_DISCOVERY_BROADCAST");
    setenv("VARKO_DISCOVERY_BROADCAST", "255.255.255.255", 1);
    CSearchNetworkDlg dlg(nullptr);
    bool started = dlg.StartDetectThread();
    if (::setns(self, CLONE_NEWNET) != 0)
        std::abort(); // never go on in the wrong namespace
    ::close(self);
    ::close(app);
    ASSERT_TRUE(started);
    int result = dlg.DoModal();
    setenv("VARKO_DISCOVERY_BROADCAST", saved.c_str(), 1);

    EXPECT_EQ(result, IDOK);
    bool found = false;
    POSITION pos = dlg.GetFirstResponse();
    while (pos)
        if (const DiscoveryRecord* r = dlg.GetNextResponse(pos))
            found =
                found || (r->AddressText() == "10.77.0.11" && r->PrinterName() == "Far Printer");
    EXPECT_TRUE(found) << dlg.GetResponseCount() << " answers, none from the simulated printer";
}
} // namespace
