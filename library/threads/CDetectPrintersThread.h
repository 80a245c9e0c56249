#pragma once
// The thread that runs network searches: on WM_DETECT_START it empties its answer list,
// broadcasts one request and has the dialog start its 10-second timer; answers are
// appended as they arrive while the search runs; WM_DETECT_TIMEOUT ends the search and
// tells the dialog (WM_DETECT_DONE), WM_DETECT_CANCEL ends it quietly.
//
// Answers that arrive while no search runs are dropped: the caller reads the list once
// the dialog has ended, and nothing may be appended while it does.
//
// Threading: started by the search dialog, running at once; the handlers, the socket
// and the appending run on this thread. The list is also read by the dialog's thread
// after the search has ended; a lock keeps those reads safe all the same.
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

    // The timer callback's work, on the dialog's thread: acts on DETECT_TIMER_ID only,
    // and reaches the searching thread through the process-wide slot (nothing when a
    // cancel emptied it first).
    static void DetectTimerProc(HWND hwnd, UINT timerId);
    // The thread id in the process-wide slot, 0 when no search runs.
    static DWORD CurrentSearchThreadId();

private:
    CUDPSocket* m_pSocket;
    mutable std::mutex m_lock;
    std::vector<DiscoveryResponsePacketF3*> m_responses;
    std::atomic<bool> m_searching;
};
