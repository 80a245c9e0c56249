// The thread half of the live printer: starting and stopping its own download thread,
// and handing its download to the process-wide throttle. It lives apart from the
// command set because it depends on the whole thread layer, which the record and
// command code does not need; the two halves share nothing but the class.
#include "CBaseThread.h"
#include "CPortBase.h"
#include "CPrinterJobLink.h"
#include "CPrinterThread.h"
#include "CThrottleThread.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "DebugOutput.h"

void CVarkoPrinter::StartThread()
{
    if (!m_pPort)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    // A second thread would serve the same port and outlive the printer: keep the one
    // that runs.
    if (m_pThread)
        return;
    auto* thread = static_cast<CPrinterThread*>(AfxBeginThread(
        RUNTIME_CLASS(CPrinterThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED, nullptr));
    if (!thread)
        throw CVarkoPrinterException(CVarkoPrinterException::eThreadCreate);
    m_pThread = thread;
    thread->SetMainWnd(m_pOwner);
    thread->SetPrinter(this);
    m_pLink = thread->GetLink();
    thread->ResumeThread();
}

void CVarkoPrinter::StopThreads()
{
    if (m_pThread)
    {
        // Stopping a printer's thread stops the throttle too, dropping the downloads
        // still queued for other printers; the next download starts a fresh one. A
        // printer that never had a thread (a cancelled add, a detected printer that
        // could not be attached) leaves the throttle alone.
        CThrottleThread*& throttle = CThrottleThread::ProcessThrottle();
        if (throttle)
        {
            CBaseThread::StopAndWait(throttle, CBaseThread::STOP_TIMEOUT_MS);
            throttle = nullptr;
        }
        // Cancelling ends every wait of a running job at once, so this normally returns
        // within moments.
        m_pThread->CancelJob();
        bool ended = CBaseThread::StopAndWait(m_pThread, CBaseThread::STOP_TIMEOUT_MS);
        m_pThread = nullptr;
        if (m_pLink)
        {
            // A job that is still running keeps the port it is using; the link frees it
            // when the job is over. The record is out of the job's reach either way.
            m_pLink->Detach(ended ? nullptr : m_pPort);
            if (!ended)
                m_pPort = nullptr;
            m_pLink.reset();
        }
    }
    if (m_pPort)
    {
        m_pPort->Close();
        delete m_pPort;
        m_pPort = nullptr;
    }
}

void CVarkoPrinter::StartDownload(int limit)
{
    OutputDebugString("Enter StartDownload\n");
    CThrottleThread*& throttle = CThrottleThread::ProcessThrottle();
    if (!throttle)
    {
        auto* started = static_cast<CThrottleThread*>(
            AfxBeginThread(RUNTIME_CLASS(CThrottleThread), THREAD_PRIORITY_NORMAL, 0, 0, nullptr));
        if (!started)
            throw CVarkoPrinterException(CVarkoPrinterException::eThreadCreate);
        throttle = started;
    }
    throttle->SetLimit(limit);
    // By thread id: the throttle must never reach another thread object made later at
    // the same address.
    PostThreadMessage(throttle->m_nThreadID, WM_JOB_START,
                      static_cast<WPARAM>(m_pThread ? m_pThread->m_nThreadID : 0), 0);
}

bool CVarkoPrinter::WaitForJob(DWORD ms)
{
    return !m_pThread || m_pThread->WaitUntilIdle(ms);
}

void CVarkoPrinter::CancelDownload()
{
    if (CThrottleThread* throttle = CThrottleThread::ProcessThrottle())
        throttle->CancelAll();
    if (m_pThread)
        m_pThread->CancelJob();
}
