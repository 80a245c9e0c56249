#pragma once
// The process-wide download throttle: printer threads wait in a first-in first-out
// queue for a transfer slot, and at most GetLimit() of them run a download at a time.
// A queued printer thread is started by posting it WM_JOB_START from the idle rule; it
// answers WM_JOB_FINISHED when its job is over, which frees the slot. A limit of 0 or
// less starts nothing. The lists hold thread ids, never pointers: a printer thread that
// has ended may be followed by another at the same address, and an id is never given
// twice. They never de-duplicate: a printer thread queued twice runs two jobs, one
// after the other, in its own thread.
//
// Threading: the lists are used by this thread (queueing, dispatch, end notices) and
// by the caller's thread (CancelAll). Each list has its own lock, and whoever needs
// both takes the pending lock before the active lock. The limit is written by the
// caller's thread and read here. The throttle never waits for a printer thread.
#include "CBaseThread.h"

#include <atomic>
#include <list>
#include <mutex>

class CThrottleThread : public CBaseThread
{
    DECLARE_DYNCREATE(CThrottleThread)
public:
    CThrottleThread();

    void SetLimit(int limit) { m_nLimit.store(limit); }
    int GetLimit() const { return m_nLimit.load(); }
    // Forgets every queued and every running job. Running jobs are not told anything
    // here (the caller cancels them through their printer threads); their end notices
    // are then ignored, and new jobs may start before they have wound down.
    void CancelAll();

    // WM_JOB_START: queue the printer thread whose id is in wParam.
    void OnQueueJob(WPARAM wParam, LPARAM lParam);
    // WM_JOB_FINISHED: wParam is the printer thread's id, lParam its DownloadResult.
    void OnJobFinished(WPARAM wParam, LPARAM lParam);
    // Dispatches one queued job per call while a slot is free.
    BOOL OnIdle(LONG count) override;
    bool OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    std::size_t PendingCount() const;
    std::size_t ActiveCount() const;

    // The one throttle of the process, filled by the first download and emptied when
    // any live printer is stopped. Used only on the user-interface thread.
    static CThrottleThread*& ProcessThrottle();

private:
    std::atomic<int> m_nLimit;
    std::list<DWORD> m_pending;
    std::list<DWORD> m_active;
    mutable std::mutex m_pendingLock;
    mutable std::mutex m_activeLock;
};
