#include "CSearchNetworkDlg.h"

#include "CConnectChecks.h"
#include "CDetectPrintersThread.h"
#include "InstanceLock.h"
#include "WaitHandles.h"

#include <algorithm>
#include <set>

namespace
{
std::mutex g_factoryLock;
SearchDialogHostFactory g_factory;

std::unique_ptr<ISearchDialogHost> makeHost()
{
    std::lock_guard g(g_factoryLock);
    if (g_factory)
        if (auto host = g_factory())
            return host;
    return std::make_unique<CConsoleSearchHost>();
}
} // namespace

ISearchDialogHost::~ISearchDialogHost() = default;

SearchDialogHostFactory SetSearchDialogHostFactory(SearchDialogHostFactory factory)
{
    std::lock_guard g(g_factoryLock);
    std::swap(g_factory, factory);
    return factory;
}

// ---- the console host ----

int CConsoleSearchHost::RunModal(CSearchNetworkDlg& dlg)
{
    {
        std::lock_guard g(m_lock);
        m_ended = false;
    }
    dlg.OnInitDialog();
    std::unique_lock lock(m_lock);
    while (!m_ended)
    {
        if (m_cancelRequested)
        {
            m_cancelRequested = false;
            lock.unlock();
            dlg.OnCancel();
            lock.lock();
            continue;
        }
        if (!m_posted.empty())
        {
            Posted p = m_posted.front();
            m_posted.pop_front();
            lock.unlock();
            dlg.DispatchPosted(p.message, p.wParam, p.lParam);
            lock.lock();
            continue;
        }
        auto now = std::chrono::steady_clock::now();
        auto next = std::min_element(m_timers.begin(), m_timers.end(),
                                     [](const Timer& a, const Timer& b) { return a.due < b.due; });
        if (next != m_timers.end() && next->due <= now)
        {
            UINT id = next->id;
            next->due = now + std::chrono::milliseconds(next->periodMs);
            lock.unlock();
            dlg.OnTimer(id);
            lock.lock();
            continue;
        }
        if (next != m_timers.end())
            m_wake.wait_until(lock, next->due);
        else
            m_wake.wait(lock);
    }
    m_timers.clear(); // a window's timers end with it
    m_posted.clear();
    return m_result;
}

void CConsoleSearchHost::EndModal(int result)
{
    std::lock_guard g(m_lock);
    m_result = result;
    m_ended = true;
    m_wake.notify_all();
}

void CConsoleSearchHost::Post(UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard g(m_lock);
    m_posted.push_back({message, wParam, lParam});
    m_wake.notify_all();
}

void CConsoleSearchHost::SetTimer(UINT id, UINT periodMs)
{
    std::lock_guard g(m_lock);
    std::erase_if(m_timers, [id](const Timer& t) { return t.id == id; });
    m_timers.push_back(
        {id, periodMs, std::chrono::steady_clock::now() + std::chrono::milliseconds(periodMs)});
    m_wake.notify_all();
}

void CConsoleSearchHost::KillTimer(UINT id)
{
    std::lock_guard g(m_lock);
    std::erase_if(m_timers, [id](const Timer& t) { return t.id == id; });
}

void CConsoleSearchHost::RequestCancel()
{
    std::lock_guard g(m_lock);
    m_cancelRequested = true;
    m_wake.notify_all();
}

// ---- the dialog ----

CSearchNetworkDlg::CSearchNetworkDlg(CWnd* parent)
    : m_pThread(nullptr), m_hThread(nullptr), m_nThreadID(0), m_pParent(parent), m_pHost(nullptr)
{
}

CSearchNetworkDlg::~CSearchNetworkDlg()
{
    // No message may reach a dialog that is being destroyed.
    DetachHandle();
    m_checks.reset(); // cancels what still runs
    if (m_pThread)
    {
        // The thread deletes itself when its loop ends; only its handle and id are used.
        PostThreadMessage(m_nThreadID, WM_THREAD_QUIT, 0, 0);
        WaitForSingleObject(m_hThread, CBaseThread::STOP_TIMEOUT_MS);
        m_pThread = nullptr;
    }
    m_searchLock.reset(); // after the socket is closed
}

bool CSearchNetworkDlg::StartDetectThread()
{
    if (!m_searchLock)
    {
        m_searchLock = std::make_unique<CInstanceLock>(
            CString::Formatted("VarkoDiscovery-%u", DiscoveryPort()));
        // A lock that cannot be made at all (no private folder) does not stop the search.
        m_bOtherSearch = m_searchLock->Acquire() == CInstanceLock::eHeldElsewhere;
        if (m_bOtherSearch)
            return false;
    }
    CWinThread* t =
        AfxBeginThread(RUNTIME_CLASS(CDetectPrintersThread), THREAD_PRIORITY_NORMAL, 0, 0, nullptr);
    m_pThread = dynamic_cast<CDetectPrintersThread*>(t);
    if (!m_pThread)
        return false;
    m_hThread = m_pThread->m_hThread;
    m_nThreadID = m_pThread->m_nThreadID;
    return true;
}

int CSearchNetworkDlg::DoModal()
{
    std::unique_ptr<ISearchDialogHost> host = makeHost();
    {
        std::lock_guard g(m_hostLock);
        m_pHost = host.get();
    }
    int result = host->RunModal(*this);
    {
        std::lock_guard g(m_hostLock);
        m_pHost = nullptr;
    }
    return result;
}

void CSearchNetworkDlg::OnInitDialog()
{
    PostThreadMessage(m_nThreadID, WM_DETECT_START, reinterpret_cast<WPARAM>(GetSafeHwnd()), 0);
}

void CSearchNetworkDlg::OnCancel()
{
    if (m_bChecking)
        EndChecks();
    EndDialog(IDCANCEL);
    PostThreadMessage(m_nThreadID, WM_DETECT_CANCEL, reinterpret_cast<WPARAM>(GetSafeHwnd()), 0);
    if (m_pHost)
        m_pHost->KillTimer(DETECT_TIMER_ID);
}

void CSearchNetworkDlg::OnTimer(UINT id)
{
    if (id == CHECK_TIMER_ID)
    {
        // The bound of the test connections: what has not answered by now counts as a
        // printer that did not answer in time.
        EndChecks();
        EndDialog(IDOK);
        return;
    }
    if (id != DETECT_TIMER_ID)
        return;
    if (m_pHost)
        m_pHost->KillTimer(id);
    // The search window is over: the search ends here, before the dialog does, so the
    // list the caller reads next is final. A cancel that got there first leaves nothing
    // to end, and the dialog has ended already.
    if (CDetectPrintersThread::DetectTimerProc(GetSafeHwnd(), id))
        OnDetectDone();
}

void CSearchNetworkDlg::OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    // On the posting thread: hand it to the loop, or drop it when no loop runs (the
    // dialog ended; a window that is no longer shown gets no messages).
    std::lock_guard g(m_hostLock);
    if (m_pHost)
        m_pHost->Post(message, wParam, lParam);
}

void CSearchNetworkDlg::DispatchPosted(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_DETECT_DONE:
        OnDetectDone();
        break;
    case WM_SEARCH_SET_TIMER:
        if (m_pHost)
            m_pHost->SetTimer(static_cast<UINT>(wParam), static_cast<UINT>(lParam));
        break;
    case WM_SEARCH_CHECKS_DONE:
        // A cancel or the bound may have ended the step already.
        if (m_bChecking)
        {
            EndChecks();
            EndDialog(IDOK);
        }
        break;
    default:
        break;
    }
}

void CSearchNetworkDlg::OnDetectDone()
{
    if (!StartChecks())
        EndDialog(IDOK);
}

void CSearchNetworkDlg::CheckAnswerAddresses(std::function<bool(const CString& address)> wanted)
{
    m_checkWanted = std::move(wanted);
}

bool CSearchNetworkDlg::StartChecks()
{
    if (!m_checkWanted || m_checks || !m_pHost)
        return false;
    std::vector<CString> addresses;
    std::set<CString> seen;
    POSITION pos = GetFirstResponse();
    while (pos)
        if (const DiscoveryRecord* r = GetNextResponse(pos))
        {
            CString address = r->AddressText();
            if (seen.insert(address).second && m_checkWanted(address))
                addresses.push_back(address);
        }
    if (addresses.empty())
        return false;
    m_checks = std::make_unique<CConnectChecks>();
    m_bChecking = true;
    // The bound runs from the start of the step, whatever the connections do.
    m_pHost->SetTimer(CHECK_TIMER_ID, CHECK_TIME_MS);
    m_checks->Start(addresses, [this] { OnPostedMessage(WM_SEARCH_CHECKS_DONE, 0, 0); });
    return true;
}

void CSearchNetworkDlg::EndChecks()
{
    if (m_pHost)
        m_pHost->KillTimer(CHECK_TIMER_ID);
    // The outcomes stay for the caller; only the connections still running end.
    m_bChecking = false;
    m_checks->Cancel();
}

DWORD CSearchNetworkDlg::GetCheckResult(const CString& address) const
{
    return m_checks ? m_checks->Result(address) : 0;
}

void CSearchNetworkDlg::EndDialog(int result)
{
    if (m_pHost)
        m_pHost->EndModal(result);
}

int CSearchNetworkDlg::GetResponseCount() const
{
    return m_pThread ? m_pThread->GetResponseCount() : 0;
}

POSITION CSearchNetworkDlg::GetFirstResponse() const
{
    return m_pThread ? m_pThread->GetFirstResponse() : nullptr;
}

const DiscoveryRecord* CSearchNetworkDlg::GetNextResponse(POSITION& pos) const
{
    if (!m_pThread)
    {
        pos = nullptr;
        return nullptr;
    }
    return m_pThread->GetNextResponse(pos);
}
