// The thread half of the live printer: starting and stopping its own download thread,
// and handing its download to the process-wide throttle. The threads themselves live a
// layer up and are reached through PrinterJobs.h, which they install.
#include "CPortBase.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "CWinThread.h"
#include "CWnd.h"
#include "DebugOutput.h"
#include "PrinterJobs.h"

namespace
{
IPrinterJobs& Jobs()
{
    IPrinterJobs* jobs = GetPrinterJobs();
    if (!jobs)
        throw CVarkoPrinterException(CVarkoPrinterException::eThreadCreate);
    return *jobs;
}
} // namespace

void CVarkoPrinter::StartThread()
{
    if (!m_pPort)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    // Without the thread layer no download could ever run: fail now, as a thread that
    // could not be made always did.
    Jobs();
    m_bThreadWanted = true;
}

IPrinterJobThread* CVarkoPrinter::RunningThread()
{
    if (!m_bThreadWanted)
        return nullptr;
    // A second thread would serve the same port and outlive the printer: keep the one
    // that runs.
    if (!m_pThread)
    {
        if (!m_pPort)
            throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
        CWnd* owner = m_pOwner && IsWindow(m_hOwner) ? m_pOwner : nullptr;
        m_pThread = Jobs().StartThread(*this, owner);
        if (!m_pThread)
            throw CVarkoPrinterException(CVarkoPrinterException::eThreadCreate);
    }
    return m_pThread.get();
}

CWinThread* CVarkoPrinter::GetThread()
{
    try
    {
        IPrinterJobThread* thread = RunningThread();
        return thread ? thread->Thread() : nullptr;
    }
    catch (const CVarkoPrinterException&)
    {
        return nullptr;
    }
}

void CVarkoPrinter::StopThreads()
{
    if (m_bThreadWanted)
    {
        m_bThreadWanted = false;
        // Stopping a printer's thread stops the throttle too, dropping the downloads
        // still queued for other printers; the next download starts a fresh one. That
        // holds for a started printer whose thread never had to run, so deleting a
        // printer does the same whether or not it ever downloaded. A printer that was
        // never started (a cancelled add, a detected printer that could not be
        // attached) leaves the throttle alone.
        if (IPrinterJobs* jobs = GetPrinterJobs())
            jobs->StopThrottle();
    }
    if (m_pThread)
    {
        // A job that is still running keeps the port it is using and frees it when the
        // job is over. The record is out of the job's reach either way.
        bool ended = m_pThread->Stop(m_pPort);
        m_pThread.reset();
        if (!ended)
            m_pPort = nullptr;
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
    IPrinterJobThread* thread = RunningThread();
    Jobs().StartDownload(thread ? thread->Thread()->m_nThreadID : 0, limit);
}

bool CVarkoPrinter::WaitForJob(DWORD ms)
{
    return !m_pThread || m_pThread->WaitUntilIdle(ms);
}

void CVarkoPrinter::CancelDownload()
{
    if (IPrinterJobs* jobs = GetPrinterJobs())
        jobs->CancelDownloads();
    if (m_pThread)
        m_pThread->CancelJob();
}
