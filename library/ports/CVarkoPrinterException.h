#pragma once
// The one exception of the printer library. Its code is one of the library's own
// (1 to 12, each with a message) or an operating-system error number that a port
// passed through. A passed-through number is marked as such, so that an OS error that
// happens to be numbered like a library code (5, access denied) is not shown with the
// library message that merely shares the number.
#include "CException.h"
#include "CString.h"
#include "Export.h"
#include "WinTypes.h"

class VARKO_EXPORT CVarkoPrinterException : public CException
{
    DECLARE_DYNAMIC(CVarkoPrinterException)
public:
    enum : DWORD
    {
        eBaudRate = 1,
        eDataBits = 2,
        eParity = 3,
        eStopBits = 4,
        eFlowControl = 5,
        eConfiguration = 6,
        ePortUnavailable = 7,
        eThreadCreate = 8,
        eUserCancelled = 9,
        eInvalidParameter = 10,
        eNotBidirectional = 11,
        eTimeout = 12
    };

    explicit CVarkoPrinterException(DWORD code) : m_code(code) {}
    // An operating-system error passed through unchanged; osText is the system's own
    // description, captured where the call failed.
    static CVarkoPrinterException FromOsError(DWORD code, CString osText);

    DWORD GetErrorCode() const { return m_code; }
    bool IsOsError() const { return m_osError; }
    const CString& GetOsText() const { return m_osText; }

    // messageId 0 stands for the code's own message.
    int ReportError(UINT type = MB_OK, UINT messageId = 0) const override;
    CString GetReportText(UINT messageId = 0) const override;
    // The message for this code alone, as a caller shows it in a list or a log line.
    CString GetMessageText() const { return GetReportText(0); }

    // The string id for a library code, 0 for any other code.
    static UINT MessageIdForCode(DWORD code);

private:
    DWORD m_code;
    bool m_osError = false;
    CString m_osText;
};
