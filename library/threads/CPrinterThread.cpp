#include "CPrinterThread.h"

#include "CEvent.h"
#include "CFile.h"
#include "CPortBase.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterException.h"
#include "UserPrompt.h"
#include "WaitHandles.h"

#include <chrono>
#include <new>

IMPLEMENT_DYNCREATE(CPrinterThread, CBaseThread)

CPrinterThread::CPrinterThread()
    : m_pPrinter(nullptr), m_pFile(nullptr), m_buffer{}, m_hCancel(nullptr)
{
}

CPrinterThread::~CPrinterThread()
{
    delete m_pFile;
}

void CPrinterThread::SetPrinter(CVarkoPrinterData* printer)
{
    m_pPrinter = printer;
}

void CPrinterThread::CancelJob()
{
    if (HANDLE h = m_hCancel.load())
        SetEvent(h);
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

void CPrinterThread::Transfer(HANDLE cancel, CPortBase* port)
{
    const WPARAM record = reinterpret_cast<WPARAM>(m_pPrinter);
    const CString path = m_pPrinter ? m_pPrinter->DownloadFile() : CString();
    m_pFile = new CFile(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary);
    // The notices carry 64-bit counts here, so files past 4 GiB are not cut short.
    const std::uint64_t length = m_pFile->GetLength();
    PostToMainWnd(WM_DOWNLOAD_BEGIN, record, static_cast<LPARAM>(length));

    // A record without a live printer's port cannot be sent to; report it as the port
    // being unavailable rather than crash.
    if (!port)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    port->Open();

    const std::uint64_t step = ProgressStep(length);
    std::uint64_t sent = 0;
    std::uint64_t sinceNotice = 0;
    auto lastProgress = std::chrono::steady_clock::now();
    while (sent < length)
    {
        UINT n = m_pFile->Read(m_buffer, CHUNK_SIZE);
        // The file ended before its length said (it shrank while being sent): waiting
        // for more would never end, so the job fails as a file error.
        if (n == 0)
            throw CFileException(CFileException::endOfFile, 0, path);
        DWORD written = 0;
        port->Write(m_buffer, n, written);
        if (written > n)
            written = n;
        const auto now = std::chrono::steady_clock::now();
        if (written > 0)
            lastProgress = now;
        else if (now - lastProgress >= std::chrono::milliseconds(NO_PROGRESS_LIMIT_MS))
            throw CVarkoPrinterException(CVarkoPrinterException::eTimeout);
        if (written < n)
        {
            // Offer the bytes the printer did not take again on the next pass.
            m_pFile->Seek(-static_cast<std::int64_t>(n - written), CFile::current);
            Sleep(PARTIAL_WRITE_PAUSE_MS);
        }
        sent += written;
        sinceNotice += written;
        if (sinceNotice > step)
        {
            PostToMainWnd(WM_DOWNLOAD_PROGRESS, record, static_cast<LPARAM>(sent));
            sinceNotice = 0;
        }
        if (WaitForSingleObject(cancel, 0) == WAIT_OBJECT_0)
            break;
    }
}

void CPrinterThread::OnStartJob(WPARAM wParam, LPARAM)
{
    CEvent cancel(false, true);
    m_hCancel.store(cancel.m_hObject);
    int result = eDownloadSucceeded;

    auto* live = dynamic_cast<CVarkoPrinter*>(m_pPrinter);
    CPortBase* port = live ? live->GetPort() : nullptr;
    const WPARAM record = reinterpret_cast<WPARAM>(m_pPrinter);
    const CString caption = AfxGetAppTitle();

    try
    {
        Transfer(cancel.m_hObject, port);
    }
    catch (const CFileException& e)
    {
        result = eDownloadFailed;
        e.ReportError(MB_OK, 0);
        WorkerMessageBox("File Error", caption, MB_ICONINFORMATION);
    }
    catch (const CVarkoPrinterException& e)
    {
        result = eDownloadFailed;
        e.ReportError(MB_OK, 0);
        WorkerMessageBox("Printer Connection Error", caption, MB_ICONINFORMATION);
    }
    catch (const std::bad_alloc&)
    {
        result = eDownloadFailed;
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
    if (port)
        port->Close();

    if (cancel.Lock(0))
        result = eDownloadCanceled;
    // Only a complete download clears the name, so a failed or cancelled one can be
    // sent again as it is.
    if (result == eDownloadSucceeded && m_pPrinter)
        m_pPrinter->DownloadFile(CString());
    PostToMainWnd(WM_DOWNLOAD_END, record, result);

    if (result == eDownloadSucceeded && live && live->m_bCalibrate)
    {
        Sleep(CALIBRATE_DELAY_MS);
        live->Calibrate();
    }

    m_hCancel.store(nullptr);
    // cancel closes its handle when it goes out of scope; a late CancelJob then misses.

    if (wParam != 0)
    {
        // The throttle may have been stopped (and have deleted itself) while the job
        // ran; its end notice then reaches nobody.
        DWORD throttleId = AfxGetThreadId(reinterpret_cast<CWinThread*>(wParam));
        PostThreadMessage(throttleId, WM_JOB_FINISHED, reinterpret_cast<WPARAM>(this), result);
    }
}
