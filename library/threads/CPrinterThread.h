#pragma once
// The worker thread of one live printer. It idles in its message loop until the
// download throttle hands it a job (WM_JOB_START), then sends the printer's download
// file through the printer's port in pieces of at most CHUNK_SIZE bytes, reporting
// begin, progress and end to the printer's notification window (WM_DOWNLOAD_*), and
// tells the dispatching throttle when the job is over (WM_JOB_FINISHED). A job reports
// its own failures in message boxes from this thread; the caller never waits for it.
//
// Owner protocol: AfxBeginThread(RUNTIME_CLASS(CPrinterThread), ..., CREATE_SUSPENDED),
// SetMainWnd(owner window), SetPrinter(printer), ResumeThread(). Stop with CancelJob,
// then CBaseThread::StopAndWait.
//
// Threading: SetPrinter and SetMainWnd before the thread is resumed; CancelJob from any
// thread at any time (it only sets the running job's cancel event and does nothing
// between jobs); everything else runs on this thread. During a job the printer record
// and its port are used without a lock: nobody else may use the same printer's port
// meanwhile.
#include "CBaseThread.h"

#include <atomic>
#include <cstdint>

class CFile;
class CVarkoPrinterData;

class CPrinterThread : public CBaseThread
{
    DECLARE_DYNCREATE(CPrinterThread)
public:
    static constexpr UINT CHUNK_SIZE = 1024;
    // A printer that took only part of a piece gets this long before the rest is
    // offered again.
    static constexpr DWORD PARTIAL_WRITE_PAUSE_MS = 10;
    // The printer needs time to finish the label data before it can calibrate.
    static constexpr DWORD CALIBRATE_DELAY_MS = 5000;
    // A printer that has taken nothing for this long ends the job with a time-out
    // (code 12). Ports that give up on their own (USB, parallel) do so after as long;
    // a serial line held by XOFF and a network printer that accepts the connection but
    // reads nothing only report that nothing was taken, and the job would otherwise
    // offer the same piece for ever, holding the throttle's place with it.
    static constexpr DWORD NO_PROGRESS_LIMIT_MS = 30000;

    CPrinterThread();
    ~CPrinterThread() override;

    void SetPrinter(CVarkoPrinterData* printer);
    CVarkoPrinterData* GetPrinter() const { return m_pPrinter; }
    void CancelJob();

    // WM_JOB_START: one complete download. wParam is the CThrottleThread that
    // dispatched the job, or 0 when nobody waits for the end notice.
    void OnStartJob(WPARAM wParam, LPARAM lParam);
    bool OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Bytes between progress notices: a twentieth of the file, kept within
    // 1024..10240 so short files still show progress and long ones do not flood the
    // window.
    static std::uint64_t ProgressStep(std::uint64_t length);

private:
    // Sends the file; throws what the file and the port throw. Returns early when the
    // cancel event is seen.
    void Transfer(HANDLE cancel, class CPortBase* port);

    CVarkoPrinterData* m_pPrinter;
    CFile* m_pFile;
    BYTE m_buffer[CHUNK_SIZE];
    // The running job's cancel event, read by CancelJob on other threads. Handles are
    // never reused, so setting one the job has just closed is harmless.
    std::atomic<HANDLE> m_hCancel;
};
