#pragma once
// The base of every worker thread of the library: a message loop that ends on
// WM_THREAD_QUIT. Owners stop a worker by taking its m_hThread, posting WM_THREAD_QUIT
// to m_nThreadID and waiting on the handle at most 15000 ms; the object deletes itself
// when the loop ends, so the owner keeps only a non-owning pointer and forgets it.
//
// Threading: created on the caller's thread, everything else on the worker itself.
#include "CWinThread.h"
#include "ThreadMessages.h"

class CBaseThread : public CWinThread
{
    DECLARE_DYNCREATE(CBaseThread)
public:
    // How long an owner waits for a worker to end before giving up on it.
    static constexpr DWORD STOP_TIMEOUT_MS = 15000;

    BOOL InitInstance() override;
    bool OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The owner's half of stopping: post WM_THREAD_QUIT and wait for the thread's end
    // on the handle taken before posting. True when it ended in time. The object may
    // be gone when this returns either way, so the caller must not touch it again.
    static bool StopAndWait(CWinThread* thread, DWORD timeoutMs = STOP_TIMEOUT_MS);
};
