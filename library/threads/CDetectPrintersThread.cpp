#include "CDetectPrintersThread.h"

#include "ThreadMessages.h"

IMPLEMENT_DYNCREATE(CDetectPrintersThread, CBaseThread)

namespace
{
// The process-wide slot: the thread whose search runs. The search window's timer ends
// that search through it under its lock, and a thread empties the slot under the same
// lock before it ends, so the timer never reaches a thread that is gone.
std::mutex g_slotLock;
CDetectPrintersThread* g_searchThread = nullptr;
} // namespace

CDetectPrintersThread::CDetectPrintersThread() : m_pSocket(nullptr), m_searching(false) {}

CDetectPrintersThread::~CDetectPrintersThread()
{
    delete m_pSocket;
    FreeResponses();
}

BOOL CDetectPrintersThread::InitInstance()
{
    if (!m_pSocket)
    {
        m_pSocket = new CUDPSocket(this, DiscoveryPort());
        m_pSocket->Create();
    }
    return TRUE;
}

int CDetectPrintersThread::ExitInstance()
{
    {
        std::lock_guard g(g_slotLock);
        EndSearchLocked();
    }
    if (m_pSocket)
    {
        m_pSocket->Close();
        delete m_pSocket;
        m_pSocket = nullptr;
    }
    FreeResponses();
    return CBaseThread::ExitInstance();
}

bool CDetectPrintersThread::OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_DETECT_START:
        OnStartDetect(wParam, lParam);
        return true;
    case WM_DETECT_TIMEOUT:
        OnDetectTimeout(wParam, lParam);
        return true;
    case WM_DETECT_CANCEL:
        OnCancelDetect(wParam, lParam);
        return true;
    default:
        return CBaseThread::OnThreadMessage(message, wParam, lParam);
    }
}

void CDetectPrintersThread::OnStartDetect(WPARAM wParam, LPARAM)
{
    HWND dialog = reinterpret_cast<HWND>(wParam);
    FreeResponses();
    {
        std::lock_guard g(g_slotLock);
        g_searchThread = this;
    }
    m_searching = true;
    if (m_pSocket && m_pSocket->SendDiscoveryRequest())
        PostMessage(dialog, WM_SEARCH_SET_TIMER, DETECT_TIMER_ID, DETECT_TIME_MS);
    else
        PostThreadMessage(m_nThreadID, WM_DETECT_TIMEOUT, wParam, 0);
}

void CDetectPrintersThread::OnDetectTimeout(WPARAM wParam, LPARAM)
{
    // The search is over before the dialog hears of it, so nothing is appended once
    // the caller may read the list.
    {
        std::lock_guard g(g_slotLock);
        EndSearchLocked();
    }
    PostMessage(reinterpret_cast<HWND>(wParam), WM_DETECT_DONE, 0, 0);
}

void CDetectPrintersThread::OnCancelDetect(WPARAM, LPARAM)
{
    // The dialog has already stopped its timer and ended.
    std::lock_guard g(g_slotLock);
    EndSearchLocked();
}

void CDetectPrintersThread::EndSearchLocked()
{
    {
        // An answer being appended right now is complete once this lock is taken;
        // every later one sees the search over and is dropped.
        std::lock_guard g(m_lock);
        m_searching = false;
    }
    if (g_searchThread == this)
        g_searchThread = nullptr;
}

void CDetectPrintersThread::AddResponse(DiscoveryResponsePacketF3* record)
{
    if (!record)
        return;
    std::lock_guard g(m_lock);
    if (!m_searching || m_responses.size() >= DISCOVERY_MAX_ANSWERS)
    {
        delete record;
        return;
    }
    m_responses.push_back(record);
}

void CDetectPrintersThread::FreeResponses()
{
    std::lock_guard g(m_lock);
    for (DiscoveryResponsePacketF3* r : m_responses)
        delete r;
    m_responses.clear();
}

int CDetectPrintersThread::GetResponseCount() const
{
    std::lock_guard g(m_lock);
    return static_cast<int>(m_responses.size());
}

// Positions are 1-based indices, so the first is never null.
POSITION CDetectPrintersThread::GetFirstResponse() const
{
    std::lock_guard g(m_lock);
    return m_responses.empty() ? nullptr : reinterpret_cast<POSITION>(std::uintptr_t(1));
}

const CDetectPrintersThread::DiscoveryResponsePacketF3*
CDetectPrintersThread::GetNextResponse(POSITION& pos) const
{
    std::lock_guard g(m_lock);
    auto index = reinterpret_cast<std::uintptr_t>(pos);
    if (index == 0 || index > m_responses.size())
    {
        pos = nullptr;
        return nullptr;
    }
    const DiscoveryResponsePacketF3* r = m_responses[index - 1];
    pos = index < m_responses.size() ? reinterpret_cast<POSITION>(index + 1) : nullptr;
    return r;
}

bool CDetectPrintersThread::DetectTimerProc(HWND, UINT timerId)
{
    if (timerId != DETECT_TIMER_ID)
        return false;
    std::lock_guard g(g_slotLock);
    if (!g_searchThread)
        return false;
    g_searchThread->EndSearchLocked();
    return true;
}

DWORD CDetectPrintersThread::CurrentSearchThreadId()
{
    std::lock_guard g(g_slotLock);
    return g_searchThread ? g_searchThread->m_nThreadID : 0;
}
