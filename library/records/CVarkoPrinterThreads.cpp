// The thread half of the live printer: starting and stopping its own download thread,
// and handing its download to the process-wide throttle. The threads themselves live a
// layer up and are reached through PrinterJobs.h, which they install.
#include "CPortBase.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "CWinThread.h"
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
    // A second thread would serve the same port and outlive the printer: keep the one
    // that runs.
    if (m_pThread)
        return;
    m_pThread = Jobs().StartThread(*this, m_pOwner);
    if (!m_pThread)
        throw CVarkoPrinterException(CVarkoPrinterException::eThreadCreate);
}

void CVarkoPrinter::StopThreads()
{
    if (m_pThread)
    {
        // Stopping a printer's thread stops the throttle too, dropping the downloads
        // still queued for other printers; the next download starts a fresh one. A
        // printer that never had a thread (a cancelled add, a detected printer that
        // could not be attached) leaves the throttle alone.
        if (IPrinterJobs* jobs = GetPrinterJobs())
            jobs->StopThrottle();
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
    Jobs().StartDownload(m_pThread ? m_pThread->Thread()->m_nThreadID : 0, limit);
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
