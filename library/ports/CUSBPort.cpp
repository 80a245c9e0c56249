#include "CUSBPort.h"

#include "CArchive.h"
#include "CVarkoPrinterException.h"
#include "DeviceFile.h"

#include <chrono>
#include <thread>

IMPLEMENT_DYNCREATE(CUSBPort, CPortBase)

CUSBPort::CUSBPort() = default;

CUSBPort::~CUSBPort() = default;

void CUSBPort::Serialize(CArchive& ar)
{
    CPortBase::Serialize(ar);
}

CString CUSBPort::DisplayName() const
{
    return CString("USB");
}

void CUSBPort::Open()
{
    // Callers open a closed port; one that is already open is kept rather than leaked.
    if (m_handle != INVALID_HANDLE_VALUE)
        return;
    m_handle = OpenPortDevice(m_name.GetString(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, DeviceKind());
    if (m_handle == INVALID_HANDLE_VALUE)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    SetWriteStallLimit(m_handle, WRITE_STALL_LIMIT_MS);
}

void CUSBPort::Write(const void* buffer, DWORD count, DWORD& written)
{
    written = 0;
    if (m_handle == INVALID_HANDLE_VALUE)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    if (!WriteFile(m_handle, buffer, count, &written, nullptr))
    {
        ThrowLastDeviceError();
    }
    // Without a total limit, a short count means the printer stopped taking data.
    if (written < count)
        throw CVarkoPrinterException(CVarkoPrinterException::eTimeout);
    // The driver has the last piece but may not have sent it yet, and a close would
    // throw it away: the write is done when the printer has taken it.
    WaitForWrittenData();
}

void CUSBPort::Read(void* buffer, DWORD capacity, DWORD& received)
{
    received = 0;
    if (m_handle == INVALID_HANDLE_VALUE)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    const auto start = std::chrono::steady_clock::now();
    if (ReadFileWithin(m_handle, buffer, capacity, &received, READ_WAIT_MS))
        return;
    DWORD error = GetLastError();
    CString text = GetLastErrorText();
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(m_handle, &errors, &status);
    received = 0;
    if (error == ERROR_INVALID_HANDLE)
    {
        // The original waited this one out like a read that never completes: the
        // caller sees the usual "nothing came" after the read time-out.
        std::this_thread::sleep_until(start + std::chrono::milliseconds(READ_WAIT_MS));
        return;
    }
    SetLastErrorWithText(error, text);
    ThrowPortError(error);
}

CString CUSBPort::DeviceModel()
{
    const bool opened = !IsOpen();
    if (opened)
        Open();
    CString result;
    try
    {
        BYTE answer[DEVICE_ID_BUFFER + 1] = {};
        DWORD returned = 0;
        CString id;
        if (DeviceIoControl(m_handle, IOCTL_USBPRINT_GET_1284_ID, nullptr, 0, answer,
                            DEVICE_ID_BUFFER, &returned, nullptr) &&
            DeviceIdFromAnswer(answer, returned, id))
            result = ModelFromDeviceId(id);
    }
    catch (...)
    {
        if (opened)
            Close();
        throw;
    }
    if (opened)
        Close();
    return result;
}

bool CUSBPort::DeviceIdFromAnswer(const BYTE* answer, DWORD size, CString& text)
{
    text.Empty();
    if (!answer || size < 2)
        return false;
    DWORD length = (DWORD(answer[0]) << 8) | answer[1];
    if (length < 2 || length > size)
    {
        DWORD swapped = (DWORD(answer[1]) << 8) | answer[0];
        if (swapped >= 2 && swapped <= size)
            length = swapped;
        else if (length > size)
            length = size; // the request's buffer cut the answer short
        else
            return false;
    }
    DWORD end = 2;
    while (end < length && answer[end] != 0)
        ++end;
    text = CString(reinterpret_cast<const char*>(answer + 2), static_cast<int>(end - 2));
    return true;
}

CString CUSBPort::ModelFromDeviceId(const CString& id)
{
    int a = id.Find("MFG:", 0) + 4;
    int b = id.Find(";", a);
    CString maker = id.Mid(a, b - a);
    int m = id.Find("MDL:", b) + 4;
    CString model = id.Mid(m);
    CString result;
    result.Format("%s %s", maker.GetString(), model.GetString());
    return result;
}

void CUSBPort::CopyFrom(const CPortBase* other)
{
    if (const auto* usb = dynamic_cast<const CUSBPort*>(other))
        CopySettings(usb);
    else
        CPortBase::CopyFrom(other);
}

void CUSBPort::CopySettings(const CUSBPort* other)
{
    CPortBase::CopyFrom(other);
}
