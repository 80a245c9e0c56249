#pragma once
// The thread that runs network searches: on WM_DETECT_START it empties its answer list,
// broadcasts one request and has the dialog start its 10-second timer; answers are
// appended as they arrive while the search runs. The dialog's timer ends the search
// directly (DetectTimerProc) and the dialog with it; WM_DETECT_CANCEL ends it quietly;
// WM_DETECT_TIMEOUT (posted to itself when the request cannot be sent) ends it and tells
// the dialog (WM_DETECT_DONE).
//
// Answers that arrive while no search runs are dropped: the caller reads the list once
// the dialog has ended, and nothing may be appended while it does.
//
// Threading: started by the search dialog, running at once; the handlers, the socket
// and the appending run on this thread. The dialog's thread ends a search by its timer
// and reads the list after the search has ended; one lock covers the appending, the
// end of the search and the reads, so nothing is appended once the search is over.
#include "CBaseThread.h"
#include "CUDPSocket.h"

#include <atomic>
#include <mutex>
#include <vector>

class CDetectPrintersThread : public CBaseThread
{
    DECLARE_DYNCREATE(CDetectPrintersThread)
public:
    using DiscoveryResponsePacketF3 = CUDPSocket::DiscoveryResponsePacketF3;

    CDetectPrintersThread();
    ~CDetectPrintersThread() override;

    BOOL InitInstance() override;
    int ExitInstance() override;
    bool OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    void OnStartDetect(WPARAM wParam, LPARAM lParam);
    void OnDetectTimeout(WPARAM wParam, LPARAM lParam);
    void OnCancelDetect(WPARAM wParam, LPARAM lParam);

    // Takes the record; dropped (and freed) when no search runs, or when the search
    // already holds DISCOVERY_MAX_ANSWERS.
    void AddResponse(DiscoveryResponsePacketF3* record);
    void FreeResponses();
    bool IsSearching() const { return m_searching.load(); }

    int GetResponseCount() const;
    POSITION GetFirstResponse() const;
    const DiscoveryResponsePacketF3* GetNextResponse(POSITION& pos) const;

    CUDPSocket* GetSocket() const { return m_pSocket; }

    // The search window's timer, on the dialog's thread: acts on DETECT_TIMER_ID only,
    // and ends the search of the thread in the process-wide slot there and then. True
    // when it ended one; false for another timer, or when no search runs (a cancel
    // or the thread's end emptied the slot first). The window is not used.
    static bool DetectTimerProc(HWND hwnd, UINT timerId);
    // The thread id in the process-wide slot, 0 when no search runs.
    static DWORD CurrentSearchThreadId();

private:
    // Ends this thread's search and empties the process-wide slot if it holds this
    // thread; the caller holds the slot's lock.
    void EndSearchLocked();

    CUDPSocket* m_pSocket;
    mutable std::mutex m_lock;
    std::vector<DiscoveryResponsePacketF3*> m_responses;
    std::atomic<bool> m_searching;
};
