// The windows the printer records open, installed for them when the library loads.
#include "RecordWindows.h"

#include "CPrinterConfigureDlg.h"
#include "CSearchNetworkDlg.h"
#include "CVarkoPrinter.h"
#include "LibraryStrings.h"
#include "UserPrompt.h"

namespace
{
bool RunConfigureDialog(CVarkoPrinter& printer, EConfigFlags flags)
{
    CPrinterConfigureDlg dlg(printer, flags, nullptr);
    if (dlg.DoModal() != IDOK)
        return false;
    printer.AssignFrom(dlg.GetEditedPrinter());
    return true;
}

void RunNetworkSearch(CWnd* owner, const NetworkSearchKnown& known, const NetworkSearchFound& found)
{
    CSearchNetworkDlg dlg(owner);
    // Only a printer that would be added is connected to, as adding it would.
    dlg.CheckAnswerAddresses([&](const CString& address) { return !known(address); });
    if (!dlg.StartDetectThread())
    {
        if (dlg.IsAnotherSearchRunning())
            AfxMessageBox(IDS_SEARCH_RUNNING, MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (dlg.DoModal() != IDCANCEL && dlg.GetResponseCount() > 0)
    {
        POSITION pos = dlg.GetFirstResponse();
        while (pos)
        {
            const DiscoveryRecord* record = dlg.GetNextResponse(pos);
            if (record)
                found(record->AddressText(), record->PrinterName(),
                      dlg.GetCheckResult(record->AddressText()));
        }
    }
}

[[maybe_unused]] const bool g_installed =
    (SetConfigureDialogRunner(RunConfigureDialog), SetNetworkSearchRunner(RunNetworkSearch), true);
} // namespace
