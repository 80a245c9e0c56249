#include "CThrottleThread.h"

#include <algorithm>

IMPLEMENT_DYNCREATE(CThrottleThread, CBaseThread)

CThrottleThread::CThrottleThread() : m_nLimit(1) {}

CThrottleThread*& CThrottleThread::ProcessThrottle()
{
    static CThrottleThread* slot = nullptr;
    return slot;
}

bool CThrottleThread::OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message)
    {
    case WM_JOB_START:
        OnQueueJob(wParam, lParam);
        return true;
    case WM_JOB_FINISHED:
        OnJobFinished(wParam, lParam);
        return true;
    default:
        return CBaseThread::OnThreadMessage(message, wParam, lParam);
    }
}

void CThrottleThread::OnQueueJob(WPARAM wParam, LPARAM)
{
    if (wParam == 0)
        return; // a printer without a thread has nothing to start
    std::lock_guard g(m_pendingLock);
    m_pending.push_back(static_cast<DWORD>(wParam));
}

void CThrottleThread::OnJobFinished(WPARAM wParam, LPARAM)
{
    const DWORD printerThread = static_cast<DWORD>(wParam);
    std::lock_guard g(m_activeLock);
    // One entry only: a printer thread queued twice holds two slots in turn.
    auto it = std::find(m_active.begin(), m_active.end(), printerThread);
    if (it != m_active.end())
        m_active.erase(it);
}

void CThrottleThread::CancelAll()
{
    std::lock_guard pending(m_pendingLock);
    std::lock_guard active(m_activeLock);
    m_active.clear();
    m_pending.clear();
}

std::size_t CThrottleThread::PendingCount() const
{
    std::lock_guard g(m_pendingLock);
    return m_pending.size();
}

std::size_t CThrottleThread::ActiveCount() const
{
    std::lock_guard g(m_activeLock);
    return m_active.size();
}

BOOL CThrottleThread::OnIdle(LONG count)
{
    // The counts are taken under their locks (in the fixed order) rather than read
    // bare: CancelAll may be emptying the lists on the caller's thread right now.
    DWORD next = 0;
    {
        std::lock_guard pending(m_pendingLock);
        std::size_t running;
        {
            std::lock_guard active(m_activeLock);
            running = m_active.size();
        }
        int limit = m_nLimit.load();
        if (m_pending.empty() || limit <= 0 || running >= static_cast<std::size_t>(limit))
            return CBaseThread::OnIdle(count) ? TRUE : FALSE;
        next = m_pending.front();
        m_pending.pop_front();
    }

    // A queued printer thread that has ended meanwhile takes no slot. The job is told
    // this throttle's id, so its end notice cannot reach a later throttle.
    if (!PostThreadMessage(next, WM_JOB_START, static_cast<WPARAM>(m_nThreadID), 0))
        return TRUE;
    {
        std::lock_guard active(m_activeLock);
        m_active.push_back(next);
    }
    return TRUE;
}
