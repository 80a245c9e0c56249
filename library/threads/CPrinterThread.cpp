#include "CPrinterThread.h"

#include "CEvent.h"
#include "CFile.h"
#include "CPortBase.h"
#include "CPortUse.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "UserPrompt.h"
#include "WaitHandles.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>

IMPLEMENT_DYNCREATE(CPrinterThread, CBaseThread)

namespace
{
// The download file, read a block at a time and handed out a piece at a time. A piece
// the printer took only part of is offered again from where the printer stopped, so
// the port sees the pieces it would see if every piece were read from the file on its
// own.
class FilePieces
{
public:
    FilePieces(CFile& file, const CString& path, UINT blockSize)
        : m_file(file), m_path(path), m_block(new BYTE[blockSize]), m_blockSize(blockSize)
    {
    }

    // The next piece, at most max bytes (max <= the block size). Short only at the end
    // of the file; a file that has nothing more to give although its length said so
    // (it shrank while being sent) throws, since waiting for more would never end.
    UINT Next(const BYTE*& piece, UINT max)
    {
        if (m_available < max)
        {
            if (m_available > 0 && m_start > 0)
                std::memmove(m_block.get(), m_block.get() + m_start, m_available);
            m_start = 0;
            m_available += m_file.Read(m_block.get() + m_available, m_blockSize - m_available);
            if (m_available == 0)
                throw CFileException(CFileException::endOfFile, 0, m_path);
        }
        piece = m_block.get() + m_start;
        return std::min(max, m_available);
    }

    // The printer took n bytes of the last piece.
    void Taken(UINT n)
    {
        m_start += n;
        m_available -= n;
    }

private:
    CFile& m_file;
    const CString& m_path;
    std::unique_ptr<BYTE[]> m_block;
    const UINT m_blockSize;
    UINT m_start = 0;
    UINT m_available = 0;
};
} // namespace

CPrinterThread::CPrinterThread()
    : m_pPrinter(nullptr), m_pFile(nullptr), m_hCancel(nullptr), m_cancelled(false)
{
}

CPrinterThread::~CPrinterThread()
{
    delete m_pFile;
}

void CPrinterThread::SetPrinter(CVarkoPrinterData* printer)
{
    m_pPrinter = printer;
    m_link = std::make_shared<CPrinterJobLink>(printer);
}

void CPrinterThread::CancelJob()
{
    std::lock_guard g(m_cancelLock);
    if (!m_hCancel)
        return;
    m_cancelled.store(true, std::memory_order_release);
    SetEvent(m_hCancel);
}

bool CPrinterThread::WaitUntilIdle(DWORD ms)
{
    return m_idle.Lock(ms) == TRUE;
}

bool CPrinterThread::OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_JOB_START)
    {
        OnStartJob(wParam, lParam);
        return true;
    }
    return CBaseThread::OnThreadMessage(message, wParam, lParam);
}

std::uint64_t CPrinterThread::ProgressStep(std::uint64_t length)
{
    std::uint64_t step = length / 20;
    if (step < 1024)
        step = 1024;
    if (step > 10240)
        step = 10240;
    return step;
}

void CPrinterThread::Transfer(const CPrinterJobLink::Lease& lease, bool& holdsPort)
{
    const WPARAM record = reinterpret_cast<WPARAM>(m_pPrinter);
    const CString& path = lease.downloadFile;
    m_pFile = new CFile(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary);
    // The notices carry 64-bit counts here, so files past 4 GiB are not cut short.
    const std::uint64_t length = m_pFile->GetLength();
    PostToMainWnd(WM_DOWNLOAD_BEGIN, record, static_cast<LPARAM>(length));

    // A record without a live printer's port cannot be sent to; report it as the port
    // being unavailable rather than crash.
    CPortBase* port = lease.port;
    if (!port || !lease.portUse)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    // A query of the user's may have the port right now; it is over within seconds.
    if (!lease.portUse->BeginDownload())
        return; // stopped while waiting: the port was never ours
    holdsPort = true;
    port->Open();

    FilePieces pieces(*m_pFile, path, READ_BLOCK_SIZE);
    const std::uint64_t step = ProgressStep(length);
    std::uint64_t sent = 0;
    std::uint64_t sinceNotice = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    while (sent < length)
    {
        const BYTE* piece = nullptr;
        const UINT n = pieces.Next(piece, CHUNK_SIZE);
        DWORD written = 0;
        port->Write(piece, n, written);
        if (written > n)
            written = n;
        const auto now = std::chrono::steady_clock::now();
        if (written > 0)
            lastProgress = now;
        else if (now - lastProgress >= std::chrono::milliseconds(NO_PROGRESS_LIMIT_MS))
            throw CVarkoPrinterException(CVarkoPrinterException::eTimeout);
        // The bytes the printer did not take are offered again on the next pass.
        pieces.Taken(written);
        if (written < n)
            Sleep(PARTIAL_WRITE_PAUSE_MS);
        sent += written;
        sinceNotice += written;
        if (sinceNotice > step)
        {
            PostToMainWnd(WM_DOWNLOAD_PROGRESS, record, static_cast<LPARAM>(sent));
            sinceNotice = 0;
        }
        if (IsCancelled())
            break;
    }
    // Done only when the printer has every byte: a network printer may still drop the
    // connection with the last pieces in its buffers.
    if (!IsCancelled())
        port->WaitUntilDelivered();
}

void CPrinterThread::OnStartJob(WPARAM wParam, LPARAM)
{
    m_idle.ResetEvent();
    CEvent cancel(false, true);
    {
        std::lock_guard g(m_cancelLock);
        m_cancelled.store(false, std::memory_order_relaxed);
        m_hCancel = cancel.m_hObject;
    }
    // Every wait of this job (device, network, the settling time, a box) ends as soon
    // as the job is cancelled, so a stop never waits out a time limit.
    CThreadCancelScope cancelScope(cancel.m_hObject);
    int result = eDownloadSucceeded;
    const DWORD dispatcher = static_cast<DWORD>(wParam);

    CPrinterJobLink::Lease lease;
    if (m_link)
        lease = m_link->Take();
    CPortBase* port = lease.port;
    bool holdsPort = false;
    const WPARAM record = reinterpret_cast<WPARAM>(m_pPrinter);
    const CString caption = AfxGetAppTitle();

    // A job that is being stopped shows no box: the thread stopping it may be the very
    // thread that would have to show it.
    try
    {
        Transfer(lease, holdsPort);
    }
    catch (const CFileException& e)
    {
        result = eDownloadFailed;
        if (!IsCancelled())
            e.ReportError(MB_OK, 0);
        if (!IsCancelled())
            WorkerMessageBox("File Error", caption, MB_ICONINFORMATION);
    }
    catch (const CVarkoPrinterException& e)
    {
        result = eDownloadFailed;
        if (!IsCancelled())
            e.ReportError(MB_OK, 0);
        if (!IsCancelled())
            WorkerMessageBox("Printer Connection Error", caption, MB_ICONINFORMATION);
    }
    catch (const std::bad_alloc&)
    {
        result = eDownloadFailed;
        if (!IsCancelled())
            WorkerMessageBox("Memory Exception", caption, MB_ICONINFORMATION);
    }

    if (m_pFile)
    {
        try
        {
            m_pFile->Close();
        }
        catch (const CException&)
        {
        }
        delete m_pFile;
        m_pFile = nullptr;
    }
    if (holdsPort)
    {
        port->Close();
        lease.portUse->EndDownload();
    }

    if (IsCancelled())
        result = eDownloadCanceled;
    // Only a complete download clears the name, so a failed or cancelled one can be
    // sent again as it is.
    if (result == eDownloadSucceeded && m_link)
        m_link->ClearDownloadFile();
    PostToMainWnd(WM_DOWNLOAD_END, record, result);

    if (result == eDownloadSucceeded && port && m_link && m_link->Calibrate())
        CalibrateAfterDownload(port, *lease.portUse);

    {
        std::lock_guard g(m_cancelLock);
        m_hCancel = nullptr;
    }
    // cancel closes its handle when it goes out of scope; a late CancelJob then misses.

    // The throttle may have been stopped while the job ran; its id then belongs to no
    // thread and the notice reaches nobody.
    if (dispatcher != 0)
        PostThreadMessage(dispatcher, WM_JOB_FINISHED, m_nThreadID, result);
    m_idle.SetEvent();
}

void CPrinterThread::CalibrateAfterDownload(CPortBase* port, CPortUse& use)
{
    // The printer needs its settling time first; a stop during it ends the job here.
    if (WaitForEventOrCancel(nullptr, CALIBRATE_DELAY_MS) == WAIT_CANCELLED)
        return;
    if (!use.BeginDownload())
        return;
    try
    {
        CVarkoPrinter::SendCalibration(port);
    }
    catch (const CVarkoPrinterException& e)
    {
        // Nobody up the stack would see it: reported here, unless the job is stopping.
        if (!IsThreadCancelled())
            e.ReportError(MB_OK, 0);
    }
    use.EndDownload();
}
