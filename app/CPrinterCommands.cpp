#include "CPrinterCommands.h"

#include "CFillController.h"
#include "CHistoryRecorder.h"
#include "CMapStringToOb.h"
#include "COdometerHistoryDlg.h"
#include "COdomiraDoc.h"
#include "COdomiraView.h"
#include "CPrinterNamePrompt.h"
#include "CPromptAnswerWatch.h"
#include "CReadingStore.h"
#include "CSerialNumberDlg.h"
#include "CVarkoPrinterException.h"
#include "CVarkoPrinters.h"
#include "CWaitCursor.h"
#include "Resource.h"
#include "UserPrompt.h"

#include <utility>

namespace
{
// A selection map as it stood when the command was given: name and record, in the
// map's order.
using Selection = std::vector<std::pair<CString, CVarkoPrinterData*>>;

Selection Capture(const CMapStringToOb& map)
{
    Selection selection;
    for (POSITION pos = map.GetStartPosition(); pos;)
    {
        CString name;
        CObject* object = nullptr;
        map.GetNextAssoc(pos, name, object);
        selection.emplace_back(name, dynamic_cast<CVarkoPrinterData*>(object));
    }
    return selection;
}
} // namespace

CPrinterCommands::CPrinterCommands(COdomiraDoc& doc, COdomiraView& view) : m_doc(doc), m_view(view)
{
    auto anySelected = [this](CCmdUI& s) { s.Enable(m_view.GetSelectedCount() > 0); };
    auto oneSelected = [this](CCmdUI& s) { s.Enable(m_view.GetSelectedCount() == 1); };
    OnCommand(
        ID_PRINTER_DELETE, [this] { OnPrinterDelete(); }, anySelected);
    OnCommand(
        ID_PRINTER_MODIFY, [this] { OnPrinterModify(); }, oneSelected);
    OnCommand(
        ID_PRINTER_SET_SERIAL_NUMBER, [this] { OnPrinterSetSerialNumber(); }, oneSelected);
    OnCommand(
        ID_PRINTER_VIEW_HEAD_HISTORY, [this] { OnPrinterViewHeadHistory(); },
        [this](CCmdUI& s) { s.Enable(IsOneBidirectionalSelected()); });
    OnCommand(
        ID_PRINTER_RESET_HEAD_ODOMETER, [this] { OnPrinterResetHeadOdometer(); }, anySelected);
    auto onPrint = [this, anySelected](UINT id, PrintFn print)
    {
        OnCommand(
            id, [this, print] { RunBatchPrint(print); }, anySelected);
    };
    onPrint(ID_PRINT_TEST_PAGE_RLX, [](CVarkoPrinters& printers, const CMapStringToOb& map,
                                       EDisplayUnits) { printers.PrintTestPageRLX(map); });
    onPrint(ID_PRINT_ODOMETERS, [](CVarkoPrinters& printers, const CMapStringToOb& map,
                                   EDisplayUnits units) { printers.PrintOdometers(map, units); });
    onPrint(ID_PRINT_HEAD_HISTORY,
            [](CVarkoPrinters& printers, const CMapStringToOb& map, EDisplayUnits units)
            { printers.PrintHeadHistory(map, units); });
    OnCommand(
        ID_PRINTER_ODOMETER_HISTORY, [this] { OnPrinterOdometerHistory(); },
        [this](CCmdUI& s) { s.Enable(IsOneBidirectionalSelected()); });
}

std::vector<CVarkoPrinterData*>
CPrinterCommands::StillHeld(unsigned long generation,
                            const std::vector<CVarkoPrinterData*>& printers) const
{
    std::vector<CVarkoPrinterData*> held;
    for (CVarkoPrinterData* printer : printers)
        if (StillHeld(generation, printer))
            held.push_back(printer);
    return held;
}

CVarkoPrinterData* CPrinterCommands::StillHeld(unsigned long generation,
                                               CVarkoPrinterData* printer) const
{
    // A record of a collection that has been replaced may share an address with one of
    // the new collection: the generation tells them apart.
    return generation == m_doc.Generation() && m_doc.HoldsPrinter(printer) ? printer : nullptr;
}

void CPrinterCommands::OnPrinterDelete()
{
    // The printers are taken before the first goes, so each row still names its own.
    m_doc.Fill().RunWhenFree(
        [this, generation = m_doc.Generation(), printers = m_view.SelectedPrinters()]
        {
            CVarkoPrinters* collection = m_doc.GetPrinters();
            if (!collection || generation != m_doc.Generation())
                return;
            for (CVarkoPrinterData* printer : StillHeld(generation, printers))
            {
                try
                {
                    collection->DeletePrinter(printer);
                }
                catch (const CException& e)
                {
                    e.ReportError();
                    break;
                }
            }
            m_doc.UpdateAllViews(nullptr, COdomiraDoc::HINT_REFRESH_ALL);
        });
}

void CPrinterCommands::OnPrinterModify()
{
    m_doc.Fill().RunWhenFree(
        [this, generation = m_doc.Generation(), chosen = m_view.FirstSelectedPrinter()]
        {
            CVarkoPrinterData* printer = StillHeld(generation, chosen);
            CVarkoPrinters* collection = m_doc.GetPrinters();
            if (!printer || !collection)
                return;
            try
            {
                collection->ModifyPrinter(printer, eConfigHideCalibration);
            }
            catch (const CException& e)
            {
                e.ReportError();
            }
            m_doc.UpdateAllViews(nullptr, COdomiraDoc::HINT_REFRESH_ALL);
        });
}

void CPrinterCommands::OnPrinterSetSerialNumber()
{
    m_doc.Fill().RunWhenFree(
        [this, generation = m_doc.Generation(), chosen = m_view.FirstSelectedPrinter()]
        {
            CVarkoPrinterData* printer = StillHeld(generation, chosen);
            if (!printer)
                return;
            try
            {
                const CString before = printer->SerialNumber();
                CSerialNumberDlg dlg(before);
                if (dlg.DoModal() != IDOK)
                    return;
                CWaitCursor wait;
                printer->SetSerialNumber(dlg.m_serialNumber);
                // The printer keeps its history under its new number. Queued behind the
                // fills before it, so their readings are still kept under the old one.
                if (CVarkoPrinters* printers = m_doc.GetPrinters())
                    m_doc.Fill().RecordSerialChange(*printers, *printer, before.str(),
                                                    dlg.m_serialNumber.str());
                auto hint = std::make_unique<COdomiraDoc::CPrinterHintObject>();
                hint->m_pPrinter = printer;
                m_doc.UpdateAllViews(nullptr, COdomiraDoc::HINT_PRINTER, std::move(hint));
            }
            catch (const CException& e)
            {
                e.ReportError();
            }
        });
}

void CPrinterCommands::OnPrinterViewHeadHistory()
{
    m_doc.Fill().RunWhenFree(
        [this, generation = m_doc.Generation(), chosen = m_view.FirstSelectedPrinter(),
         units = COdomiraView::GetDisplayUnits()]
        {
            CVarkoPrinterData* printer = StillHeld(generation, chosen);
            if (!printer)
                return;
            try
            {
                const CString history = printer->HeadHistory(units);
                AfxMessageBox(history, MB_OK | MB_ICONINFORMATION);
            }
            catch (const CException& e)
            {
                e.ReportError();
            }
        });
}

void CPrinterCommands::OnPrinterResetHeadOdometer()
{
    m_doc.Fill().RunWhenFree(
        [this, generation = m_doc.Generation(), printers = m_view.SelectedPrinters()]
        {
            CMapStringToOb map(10);
            {
                CWaitCursor wait;
                for (CVarkoPrinterData* printer : StillHeld(generation, printers))
                {
                    try
                    {
                        // The library asks the user for each printer; No is not a
                        // failure. A Yes is a new head for the odometer history.
                        CPromptAnswerWatch answer;
                        printer->ResetHeadOdometer();
                        if (answer.LastAnswer() == IDYES && m_doc.GetPrinters())
                            m_doc.Fill().RecordHeadReset(*m_doc.GetPrinters(), *printer);
                    }
                    catch (const CException& e)
                    {
                        e.ReportError();
                        break;
                    }
                    map.SetAt(printer->Name(), printer);
                }
            }
            auto hint = std::make_unique<COdomiraDoc::CPrinterHintObject>();
            hint->m_pPrinterMap = &map;
            m_doc.UpdateAllViews(nullptr, COdomiraDoc::HINT_PRINTER_MAP, std::move(hint));
        });
}

bool CPrinterCommands::IsOneBidirectionalSelected() const
{
    // Asking the record is safe during a fill: whether a port can answer depends on its
    // kind alone, which only a command could change.
    CVarkoPrinterData* p = m_view.GetSelectedCount() == 1 ? m_view.FirstSelectedPrinter() : nullptr;
    return p && p->IsBidirectional();
}

void CPrinterCommands::OnPrinterOdometerHistory()
{
    // It waits for the fill's readings to be in the store, so the dialog shows them.
    m_doc.Fill().RunWhenFree(
        [this, generation = m_doc.Generation(), chosen = m_view.FirstSelectedPrinter(),
         units = COdomiraView::GetDisplayUnits()]
        {
            CVarkoPrinterData* printer = StillHeld(generation, chosen);
            CVarkoPrinters* printers = m_doc.GetPrinters();
            if (!printer || !printers)
                return;
            CHistoryWriter& writer = m_doc.Fill().History();
            std::optional<PrinterHistory> history;
            CReadingStore store(writer.Path());
            std::string problem;
            try
            {
                store.Open();
                const std::string name = printer->Name().str();
                const std::string port = CHistoryRecorder::PortOf(*printers, *printer);
                if (const auto found =
                        store.FindPrinter(writer.KnownSerial(name, port), name, port))
                    history = store.History(found->id);
            }
            catch (const CReadingStoreError& e)
            {
                if (store.IsOpen())
                {
                    AfxMessageBox(e.what(), MB_OK | MB_ICONEXCLAMATION);
                    return;
                }
                problem = e.what();
            }
            COdometerHistoryDlg dlg(printer->Name(), std::move(history),
                                    store.IsOpen() ? &store : nullptr, units);
            if (!problem.empty())
                dlg.SetProblem(problem);
            dlg.DoModal();
        },
        true);
}

void CPrinterCommands::RunBatchPrint(PrintFn print)
{
    CMapStringToOb selected(10);
    m_view.BuildSelectionMap(selected);
    m_doc.Fill().RunWhenFree(
        [this, print, generation = m_doc.Generation(), selection = Capture(selected),
         units = COdomiraView::GetDisplayUnits()]
        {
            CMapStringToOb map(10);
            for (const auto& [name, printer] : selection)
                if (StillHeld(generation, printer))
                    map.SetAt(name, printer);
            CVarkoPrinters* printers = m_doc.GetPrinters();
            if (printers && generation == m_doc.Generation())
            {
                CWaitCursor wait;
                // One printer at a time, in the map's order, as the library goes through
                // it, so each report the library shows can say which printer it is about.
                for (POSITION pos = map.GetStartPosition(); pos;)
                {
                    CString name;
                    CObject* printer = nullptr;
                    map.GetNextAssoc(pos, name, printer);
                    CMapStringToOb one(10);
                    one.SetAt(name, printer);
                    CPrinterNamePrompt named(name);
                    try
                    {
                        print(*printers, one, units);
                    }
                    catch (const CException& e)
                    {
                        e.ReportError();
                    }
                }
            }
            auto hint = std::make_unique<COdomiraDoc::CPrinterHintObject>();
            hint->m_pPrinterMap = &map;
            m_doc.UpdateAllViews(nullptr, COdomiraDoc::HINT_PRINTER_MAP, std::move(hint));
        });
}
