#pragma once
// The test connections of a network search. Before a found network printer joins the
// list, its port is opened once as a test, and the address comes from the answer, so
// from anyone on the network: answers that lead nowhere must cost seconds, not a
// connect time-out each. The connections therefore run side by side, at most
// MAX_PARALLEL at a time, each address once; the caller bounds the whole step and
// cancels what is still running, and a cancel ends every connect at once.
//
// Each connection is made as the printer's own port would make it (a CNetworkPort on
// the address, TCP port 9100, opened and closed again), so the outcome is the one the
// collection would have met.
//
// Threading: Start, Cancel, Result and the destructor on one thread (the search
// dialog's); the connections on worker threads of their own, each waiting under the
// checks' cancel event. done runs on a worker thread.
#include "CString.h"
#include "WinTypes.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

class CConnectChecks
{
public:
    static constexpr int MAX_PARALLEL = 32;

    CConnectChecks();
    ~CConnectChecks(); // cancels and waits for the workers
    CConnectChecks(const CConnectChecks&) = delete;
    CConnectChecks& operator=(const CConnectChecks&) = delete;

    // Connects to each address once; done is called when all have their outcome, unless
    // Cancel came first. Called once per object.
    void Start(const std::vector<CString>& addresses, std::function<void()> done);
    // Ends the connections still running and returns when their workers have; an address
    // that got no outcome by then counts as timed out.
    void Cancel();
    // 0 when the address took the connection, otherwise the library's code for why not
    // (12 for one that got no answer in time or was never tried); 0 for an address that
    // was not given to Start.
    DWORD Result(const CString& address) const;

private:
    void Work();

    std::vector<CString> m_addresses;
    std::function<void()> m_done;
    HANDLE m_cancel;
    std::atomic<std::size_t> m_next{0};
    std::atomic<int> m_left{0};
    mutable std::mutex m_lock;
    std::map<CString, DWORD> m_results;
    std::vector<std::thread> m_workers;
};
