#include "CVarkoPrinterException.h"

#include "LibraryStrings.h"
#include "StringTable.h"
#include "UserPrompt.h"

IMPLEMENT_DYNAMIC(CVarkoPrinterException, CException)

CVarkoPrinterException CVarkoPrinterException::FromOsError(DWORD code, CString osText)
{
    CVarkoPrinterException e(code);
    e.m_osError = true;
    e.m_osText = std::move(osText);
    return e;
}

UINT CVarkoPrinterException::MessageIdForCode(DWORD code)
{
    switch (code)
    {
    case 1:
        return IDS_ERR_BAUD_RATE;
    case 2:
        return IDS_ERR_DATA_BITS;
    case 3:
        return IDS_ERR_PARITY;
    case 4:
        return IDS_ERR_STOP_BITS;
    case 5:
        return IDS_ERR_FLOW_CONTROL;
    case 6:
        return IDS_ERR_CONFIGURATION;
    case 7:
        return IDS_ERR_PORT_UNAVAILABLE;
    case 8:
        return IDS_ERR_THREAD;
    case 9:
        return IDS_ERR_CANCELLED;
    case 10:
        return IDS_ERR_PARAMETER;
    case 11:
        return IDS_ERR_BIDIRECTIONAL;
    case 12:
        return IDS_ERR_TIMEOUT;
    default:
        return 0;
    }
}

CString CVarkoPrinterException::GetReportText(UINT messageId) const
{
    CString text;
    if (messageId != 0)
    {
        if (LoadStringById(messageId, text))
            return text;
        return AfxNoErrorMessageText();
    }
    if (m_osError)
    {
        // The system's own words, with the number a support call can quote.
        if (m_osText.IsEmpty())
            text.Format("The printer port reported system error %u.",
                        static_cast<unsigned>(m_code));
        else
            text.Format("The printer port reported an error: %s (system error %u).",
                        m_osText.GetString(), static_cast<unsigned>(m_code));
        return text;
    }
    UINT id = MessageIdForCode(m_code);
    if (id != 0 && LoadStringById(id, text))
        return text;
    return AfxNoErrorMessageText();
}

int CVarkoPrinterException::ReportError(UINT type, UINT messageId) const
{
    return AfxMessageBox(GetReportText(messageId), type);
}
