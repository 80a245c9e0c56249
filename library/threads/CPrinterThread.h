#pragma once
// The worker thread of one live printer. It idles in its message loop until the
// download throttle hands it a job (WM_JOB_START), then sends the printer's download
// file through the printer's port in pieces of at most CHUNK_SIZE bytes, reporting
// begin, progress and end to the printer's notification window (WM_DOWNLOAD_*), and
// tells the dispatching throttle when the job is over (WM_JOB_FINISHED). Both thread
// messages carry thread ids, never object pointers: a thread object that has ended is
// freed, and another may be made at the same address. A job reports its own failures
// in message boxes from this thread, unless it has been cancelled; the caller never
// waits for it.
//
// Owner protocol: AfxBeginThread(RUNTIME_CLASS(CPrinterThread), ..., CREATE_SUSPENDED),
// SetMainWnd(owner window), SetPrinter(printer), ResumeThread(). Stop with CancelJob,
// then CBaseThread::StopAndWait. A cancelled job ends at once: every wait it makes (the
// port's device and network waits, the settling time before calibrating, a message
// box) also watches its cancel event. A job reaches its printer only through the link
// (CPrinterJobLink), which outlives a printer that let go after a stop that timed out.
//
// Threading: SetPrinter and SetMainWnd before the thread is resumed; CancelJob from any
// thread at any time (it only sets the running job's cancel event and flag, and does
// nothing between jobs); everything else runs on this thread. The port is taken through
// its use gate (CPortUse) for the length of the transfer and of the calibration, so a
// query on the same printer is refused meanwhile rather than closing the port.
#include "CBaseThread.h"
#include "CEvent.h"
#include "CPrinterJobLink.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

class CFile;
class CVarkoPrinterData;

class CPrinterThread : public CBaseThread
{
    DECLARE_DYNCREATE(CPrinterThread)
public:
    static constexpr UINT CHUNK_SIZE = 1024;
    // The file is read in blocks of this size and handed to the port in pieces of
    // CHUNK_SIZE: one read of the file per block rather than per piece. The block is
    // the job's, made when it starts and freed when it ends.
    static constexpr UINT READ_BLOCK_SIZE = 64 * 1024;
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

    // Also makes the link the printer keeps (GetLink) to let go of its jobs.
    void SetPrinter(CVarkoPrinterData* printer);
    CVarkoPrinterData* GetPrinter() const { return m_pPrinter; }
    std::shared_ptr<CPrinterJobLink> GetLink() const { return m_link; }
    void CancelJob();
    // Waits at most ms until no job runs on this thread (its transfer and the
    // calibration that follows it); true when none does.
    bool WaitUntilIdle(DWORD ms);

    // WM_JOB_START: one complete download. wParam is the thread id of the throttle that
    // dispatched the job, or 0 when nobody waits for the end notice; the end notice
    // (WM_JOB_FINISHED) carries this thread's id.
    void OnStartJob(WPARAM wParam, LPARAM lParam);
    bool OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Bytes between progress notices: a twentieth of the file, kept within
    // 1024..10240 so short files still show progress and long ones do not flood the
    // window.
    static std::uint64_t ProgressStep(std::uint64_t length);

private:
    // Sends the file; throws what the file and the port throw. Returns early when the
    // job is cancelled. holdsPort tells whether the port's use was taken (and the port
    // must be closed and given back).
    void Transfer(const CPrinterJobLink::Lease& lease, bool& holdsPort);
    // Whether the running job has been cancelled: read after every piece, so it is a
    // flag, not a wait on the event.
    bool IsCancelled() const { return m_cancelled.load(std::memory_order_acquire); }

    // The calibration after a complete download, on the port the job used.
    void CalibrateAfterDownload(class CPortBase* port, class CPortUse& use);

    CVarkoPrinterData* m_pPrinter;
    std::shared_ptr<CPrinterJobLink> m_link;
    CFile* m_pFile;
    // The running job's cancel event (null between jobs), which every wait of the job
    // also watches, and the flag the transfer reads. CancelJob sets both; the lock keeps
    // a cancel meant for one job from reaching the next one.
    std::mutex m_cancelLock;
    HANDLE m_hCancel;
    std::atomic<bool> m_cancelled;
    // Set while no job runs.
    CEvent m_idle{true, true};
};
