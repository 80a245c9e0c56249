#include "CConnectChecks.h"

#include "CNetworkPort.h"
#include "CVarkoPrinterException.h"
#include "WaitHandles.h"

#include <algorithm>
#include <new>
#include <system_error>

CConnectChecks::CConnectChecks() : m_cancel(CreateEvent(true, false)) {}

CConnectChecks::~CConnectChecks()
{
    Cancel();
    CloseWaitHandle(m_cancel);
}

void CConnectChecks::Start(const std::vector<CString>& addresses, std::function<void()> done)
{
    m_addresses = addresses;
    m_done = std::move(done);
    {
        // Until a connection says otherwise, an address did not answer in time.
        std::lock_guard g(m_lock);
        for (const CString& a : m_addresses)
            m_results[a] = CVarkoPrinterException::eTimeout;
    }
    const int workers = static_cast<int>(
        std::min<std::size_t>(m_addresses.size(), static_cast<std::size_t>(MAX_PARALLEL)));
    m_left = workers;
    for (int i = 0; i < workers; ++i)
    {
        try
        {
            m_workers.emplace_back([this] { Work(); });
        }
        catch (const std::system_error&)
        {
            // Fewer workers share the addresses; with none, nothing gets an outcome and
            // the caller's bound ends the step.
            if ((m_left -= workers - i) == 0 && m_done)
                m_done();
            break;
        }
    }
}

void CConnectChecks::Cancel()
{
    SetEvent(m_cancel);
    for (std::thread& t : m_workers)
        if (t.joinable())
            t.join();
    m_workers.clear();
}

DWORD CConnectChecks::Result(const CString& address) const
{
    std::lock_guard g(m_lock);
    auto it = m_results.find(address);
    return it == m_results.end() ? 0 : it->second;
}

void CConnectChecks::Work()
{
    // Every wait of the connection (connect, close) ends as soon as the checks are
    // cancelled.
    CThreadCancelScope scope(m_cancel);
    for (;;)
    {
        const std::size_t i = m_next++;
        if (i >= m_addresses.size() || IsThreadCancelled())
            break;
        DWORD outcome = 0;
        try
        {
            CNetworkPort port;
            port.SetPortName(m_addresses[i]);
            try
            {
                port.Open();
            }
            catch (const CVarkoPrinterException& e)
            {
                outcome = e.GetErrorCode();
            }
            port.Close();
        }
        catch (const std::bad_alloc&)
        {
            outcome = CVarkoPrinterException::ePortUnavailable;
        }
        // A connection cut short by the cancel says nothing about the printer.
        if (IsThreadCancelled())
            break;
        std::lock_guard g(m_lock);
        m_results[m_addresses[i]] = outcome;
    }
    if (--m_left == 0 && !IsThreadCancelled() && m_done)
        m_done();
}
