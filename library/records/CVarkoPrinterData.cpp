#include "CVarkoPrinterData.h"

#include "CArchive.h"
#include "CPortBase.h"
#include "CPortUse.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinterException.h"
#include "LibraryStrings.h"
#include "StringTable.h"
#include "UserPrompt.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

int CVarkoPrinterData::m_nPrinterCount = 1;
int CVarkoPrinterData::m_nRefCount = 0;

namespace
{
const char kUsageMarker[] = "usage = ";
constexpr int kUsageMarkerLength = sizeof kUsageMarker - 1;

// atoi as printers' numbers need it: white space, sign, digits; but a number too large
// for an int is clamped instead of being undefined behaviour.
int toInt(const CString& text)
{
    errno = 0;
    long long v = std::strtoll(text.GetString(), nullptr, 10);
    if (v > INT_MAX)
        return INT_MAX;
    if (v < INT_MIN)
        return INT_MIN;
    return static_cast<int>(v);
}
} // namespace

CVarkoPrinterData::CVarkoPrinterData() : m_pPort(nullptr), m_portUse(std::make_shared<CPortUse>())
{
    m_strName.Format("%s%d", LoadStringById(IDS_DEFAULT_PRINTER_NAME).GetString(), m_nPrinterCount);
    // A loaded name may have raised the counter to the largest number there is; the
    // default names then repeat it, and the collection makes them unique.
    if (m_nPrinterCount < INT_MAX)
        ++m_nPrinterCount;
    ++m_nRefCount;
}

// The counter counts records, not the highest number in use: a record that goes away
// gives its number back, and numbering starts again at 1 once no record is left.
CVarkoPrinterData::~CVarkoPrinterData()
{
    --m_nPrinterCount;
    --m_nRefCount;
    if (m_nRefCount == 0)
        m_nPrinterCount = 1;
}

CString CVarkoPrinterData::DownloadFile() const
{
    std::lock_guard g(m_downloadFileLock);
    return m_strDownloadFile;
}

void CVarkoPrinterData::DownloadFile(const CString& path)
{
    std::lock_guard g(m_downloadFileLock);
    m_strDownloadFile = path;
}

CString CVarkoPrinterData::Model()
{
    if (m_strModel.IsEmpty() && m_pPort)
    {
        QueryUse use(*this); // a USB port opens the device to ask
        m_strModel = m_pPort->DeviceModel();
    }
    return m_strModel;
}

CVarkoPrinterData::QueryUse::QueryUse(const CVarkoPrinterData& printer) : m_use(*printer.m_portUse)
{
    if (!m_use.TryBeginQuery())
        throw CVarkoPrinterException::FromOsError(
            ERROR_BUSY, "The printer is receiving a download; try again when it has finished");
}

CVarkoPrinterData::QueryUse::~QueryUse()
{
    m_use.EndQuery();
}

CString CVarkoPrinterData::Port() const
{
    return m_pPort ? m_pPort->PortName() : CString();
}

CString CVarkoPrinterData::PortDisplayName() const
{
    return m_pPort ? m_pPort->DisplayName() : CString();
}

bool CVarkoPrinterData::IsBidirectional() const
{
    return m_pPort && (m_pPort->IsKindOf(RUNTIME_CLASS(CSerialPort)) ||
                       m_pPort->IsKindOf(RUNTIME_CLASS(CUSBPort)));
}

DWORD CVarkoPrinterData::Exchange(const void* command, DWORD length, char* replyBuffer) const
{
    if (!m_pPort)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    QueryUse use(*this);
    return ExchangeOn(m_pPort, command, length, replyBuffer);
}

DWORD CVarkoPrinterData::ExchangeOn(CPortBase* port, const void* command, DWORD length,
                                    char* replyBuffer)
{
    if (!port)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    DWORD received = 0;
    try
    {
        port->Open();
        DWORD written = 0;
        port->Write(command, length, written);
        // A command the printer did not take in full did not happen; saying nothing
        // would report a serial number or a reset as done when it was not.
        if (written < length)
            throw CVarkoPrinterException(CVarkoPrinterException::eTimeout);
        if (replyBuffer)
        {
            port->Read(replyBuffer, REPLY_BUFFER_SIZE, received);
            if (received > REPLY_BUFFER_SIZE)
                received = REPLY_BUFFER_SIZE;
            replyBuffer[received] = '\0';
        }
    }
    catch (...)
    {
        port->Close();
        throw;
    }
    port->Close();
    return received;
}

CString CVarkoPrinterData::ParseSerialNumberReply(const char* reply)
{
    CString text(reply);
    int end = text.FindOneOf("\r\n");
    return end < 0 ? CString() : text.Left(end);
}

void CVarkoPrinterData::ParseOdometerReply(const char* reply, int& first, int& second)
{
    first = -1;
    second = -1;
    CString text(reply);
    int at = text.Find(kUsageMarker);
    if (at < 0)
        return;
    CString kept = text.Mid(at + kUsageMarkerLength);
    kept.Remove(',');
    first = toInt(kept);
    at = kept.Find(kUsageMarker);
    if (at < 0)
        return;
    kept = kept.Mid(at + kUsageMarkerLength);
    kept.Remove(',');
    second = toInt(kept);
}

CString CVarkoPrinterData::EscapeSerialNumber(const CString& serial)
{
    // Backslashes first, so the ones added for quotes are not doubled again.
    CString escaped(serial);
    escaped.Replace("\\", "\\\\");
    escaped.Replace("\"", "\\\"");
    return escaped;
}

CString CVarkoPrinterData::SerialNumber() const
{
    if (!IsBidirectional())
        return LoadStringById(IDS_NOT_AVAILABLE);
    static const char kQuery[] = "\nURS\n";
    char reply[REPLY_BUFFER_SIZE + 1];
    // A printer that has just woken up may miss the first query; one silent retry.
    if (Exchange(kQuery, 5, reply) == 0)
        Exchange(kQuery, 5, reply);
    return ParseSerialNumberReply(reply);
}

void CVarkoPrinterData::SetSerialNumber(const CString& serial)
{
    CString escaped = EscapeSerialNumber(serial);
    if (static_cast<DWORD>(escaped.GetLength()) > MAX_SERIAL_SIZE)
        throw CVarkoPrinterException(CVarkoPrinterException::eInvalidParameter);
    CString command = CString("\nheS\"") + escaped + "\"\r\n";
    Exchange(command.GetString(), static_cast<DWORD>(command.GetLength()), nullptr);
}

void CVarkoPrinterData::Odometers(int& first, int& second, EDisplayUnits units) const
{
    first = -1;
    second = -1;
    if (!IsBidirectional())
        return;
    const char command[] = {'\n', 'U', 'R', 'L', UnitsLetter(units), '\n'};
    char reply[REPLY_BUFFER_SIZE + 1];
    if (Exchange(command, sizeof command, reply) == 0)
        return;
    ParseOdometerReply(reply, first, second);
}

CString CVarkoPrinterData::HeadHistory(EDisplayUnits units) const
{
    if (!IsBidirectional())
        return LoadStringById(IDS_NOT_AVAILABLE);
    const char command[] = {'\n', 'U', 'R', 'H', UnitsLetter(units), '\n'};
    char reply[REPLY_BUFFER_SIZE + 1];
    Exchange(command, sizeof command, reply);
    return CString(reply);
}

void CVarkoPrinterData::ResetHeadOdometer()
{
    if (AfxMessageBox(IDS_CONFIRM_RESET_HEAD, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    static const char kReset[] = "\noLr\r\n";
    Exchange(kReset, 6, nullptr);
}

void CVarkoPrinterData::Serialize(CArchive& ar)
{
    if (ar.IsStoring())
    {
        ar << m_strName << m_strModel << DownloadFile();
        return;
    }
    // Give back the number the constructor took; the loaded name may claim a higher one.
    --m_nPrinterCount;
    ar >> m_strName >> m_strModel >> m_strDownloadFile;
    CString prefix = LoadStringById(IDS_DEFAULT_PRINTER_NAME);
    if (m_strName.Find(prefix) >= 0)
    {
        int n = toInt(m_strName.Mid(prefix.GetLength()));
        if (n > 0 && n < INT_MAX && m_nPrinterCount <= n + 1)
            m_nPrinterCount = n + 1;
    }
}
