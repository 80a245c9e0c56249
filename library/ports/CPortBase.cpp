#include "CPortBase.h"

#include "CArchive.h"
#include "CVarkoPrinterException.h"
#include "DeviceFile.h"
#include "ErrorMapping.h"

IMPLEMENT_DYNCREATE(CPortBase, CObject)

CPortBase::CPortBase() : m_handle(INVALID_HANDLE_VALUE) {}

CPortBase::~CPortBase()
{
    // Clients close before destroying; a port left open still releases its device, so
    // the lock on it does not outlive the port.
    if (m_handle != INVALID_HANDLE_VALUE)
        CloseHandle(m_handle);
}

void CPortBase::Serialize(CArchive& ar)
{
    if (ar.IsStoring())
        ar << m_name;
    else
        ar >> m_name;
}

CString CPortBase::DisplayName() const
{
    return PortName();
}

void CPortBase::SetPortName(const CString& name)
{
    m_name = name;
}

CString CPortBase::PortName() const
{
    return m_name;
}

CString CPortBase::DeviceModel()
{
    return CString();
}

void CPortBase::Open()
{
    if (m_handle != INVALID_HANDLE_VALUE)
        return;
    m_handle = OpenPortDevice(m_name.GetString(), GENERIC_READ | GENERIC_WRITE, 0, DeviceKind());
    if (m_handle == INVALID_HANDLE_VALUE)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
}

void CPortBase::Close()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return;
    PurgeComm(m_handle, PURGE_TXABORT | PURGE_RXABORT);
    CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}

void CPortBase::Write(const void* buffer, DWORD count, DWORD& written)
{
    written = 0;
    if (m_handle == INVALID_HANDLE_VALUE)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    if (!WriteFile(m_handle, buffer, count, &written, nullptr))
    {
        ThrowLastDeviceError();
    }
}

void CPortBase::Read(void* buffer, DWORD capacity, DWORD& received)
{
    received = 0;
    if (m_handle == INVALID_HANDLE_VALUE)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    if (!ReadFile(m_handle, buffer, capacity, &received, nullptr))
    {
        ThrowLastDeviceError();
    }
}

// The device's error state is cleared before the exception leaves, so the next
// transfer on the same handle does not fail on the old error; the error number and the
// system's text are taken first, because clearing may change them.
void CPortBase::ThrowLastDeviceError()
{
    DWORD error = GetLastError();
    CString text = GetLastErrorText();
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(m_handle, &errors, &status);
    SetLastErrorWithText(error, text);
    ThrowPortError(error);
}

void CPortBase::WaitForWrittenData()
{
    if (FlushFileBuffers(m_handle))
        return;
    if (GetLastError() == ERROR_TIMEOUT)
        throw CVarkoPrinterException(CVarkoPrinterException::eTimeout);
    ThrowLastDeviceError();
}

void CPortBase::CopyFrom(const CPortBase* other)
{
    // Callers copy into a fresh port; one that is still open is closed rather than
    // forgotten, so its device and lock are not held until the process ends.
    if (IsOpen())
        Close();
    if (other)
        m_name = other->m_name;
    m_handle = INVALID_HANDLE_VALUE;
}

bool CPortBase::IsOpen() const
{
    return m_handle != INVALID_HANDLE_VALUE;
}

void CPortBase::ThrowPortError(DWORD error)
{
    switch (error)
    {
    case ERROR_INVALID_HANDLE:
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    case ERROR_INVALID_PARAMETER:
        throw CVarkoPrinterException(CVarkoPrinterException::eInvalidParameter);
    default:
    {
        // The system's words for it, when they were captured at the call that failed;
        // otherwise whatever the number is known to stand for.
        CString text = GetLastError() == error ? GetLastErrorText() : CString();
        if (text.IsEmpty())
            text = DescribeWindowsError(error);
        throw CVarkoPrinterException::FromOsError(error, text);
    }
    }
}
