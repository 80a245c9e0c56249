// The download threads behind the printer records: each printer's own CPrinterThread and
// the process-wide CThrottleThread, installed for the records when the library loads.
#include "CBaseThread.h"
#include "CPrinterJobLink.h"
#include "CPrinterThread.h"
#include "CThrottleThread.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "PrinterJobs.h"
#include "ThreadMessages.h"

namespace
{
class PrinterJobThread : public IPrinterJobThread
{
public:
    explicit PrinterJobThread(CPrinterThread* thread) : m_thread(thread), m_link(thread->GetLink())
    {
    }

    void CancelJob() override { m_thread->CancelJob(); }
    bool WaitUntilIdle(DWORD ms) override { return m_thread->WaitUntilIdle(ms); }
    CWinThread* Thread() const override { return m_thread; }

    bool Stop(CPortBase* port) override
    {
        // Cancelling ends every wait of a running job at once, so this normally returns
        // within moments.
        m_thread->CancelJob();
        bool ended = CBaseThread::StopAndWait(m_thread, CBaseThread::STOP_TIMEOUT_MS);
        m_thread = nullptr;
        if (m_link)
        {
            m_link->Detach(ended ? nullptr : port);
            m_link.reset();
        }
        return ended;
    }

private:
    CPrinterThread* m_thread;
    // Shared with the thread's jobs; let go of when the thread is stopped.
    std::shared_ptr<CPrinterJobLink> m_link;
};

class PrinterJobs : public IPrinterJobs
{
public:
    std::unique_ptr<IPrinterJobThread> StartThread(CVarkoPrinter& printer, CWnd* owner) override
    {
        auto* thread = static_cast<CPrinterThread*>(AfxBeginThread(
            RUNTIME_CLASS(CPrinterThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr));
        if (!thread)
            return nullptr;
        thread->SetMainWnd(owner);
        thread->SetPrinter(&printer);
        auto started = std::make_unique<PrinterJobThread>(thread);
        thread->ResumeThread();
        return started;
    }

    void StartDownload(DWORD printerThread, int limit) override
    {
        CThrottleThread*& throttle = CThrottleThread::ProcessThrottle();
        if (!throttle)
        {
            auto* started = static_cast<CThrottleThread*>(AfxBeginThread(
                RUNTIME_CLASS(CThrottleThread), THREAD_PRIORITY_NORMAL, 0, 0, nullptr));
            if (!started)
                throw CVarkoPrinterException(CVarkoPrinterException::eThreadCreate);
            throttle = started;
        }
        throttle->SetLimit(limit);
        // By thread id: the throttle must never reach another thread object made later
        // at the same address.
        PostThreadMessage(throttle->m_nThreadID, WM_JOB_START, static_cast<WPARAM>(printerThread),
                          0);
    }

    void CancelDownloads() override
    {
        if (CThrottleThread* throttle = CThrottleThread::ProcessThrottle())
            throttle->CancelAll();
    }

    void StopThrottle() override
    {
        CThrottleThread*& throttle = CThrottleThread::ProcessThrottle();
        if (throttle)
        {
            CBaseThread::StopAndWait(throttle, CBaseThread::STOP_TIMEOUT_MS);
            throttle = nullptr;
        }
    }
};

// Never destroyed: a printer stopped while the process ends still reaches it.
[[maybe_unused]] const bool g_installed = (SetPrinterJobs(new PrinterJobs), true);
} // namespace
