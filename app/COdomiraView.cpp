#include "COdomiraView.h"

#include "AppIcons.h"
#include "CFleetQuery.h"
#include "CHistoryRecorder.h"
#include "CMainFrame.h"
#include "CMapStringToOb.h"
#include "COdometerHistoryDlg.h"
#include "CPrinterListModel.h"
#include "CPromptAnswerWatch.h"
#include "CSerialNumberDlg.h"
#include "CSettingsApplication.h"
#include "CVarkoPrinterException.h"
#include "CVarkoPrinters.h"
#include "CWaitCursor.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"
#include "UserPrompt.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyleOptionViewItem>
#include <QThread>

namespace
{
// Worker threads post their notices as this event; the program starts no downloads,
// so the notices only have to arrive safely.
const QEvent::Type kPostedMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

QString Text(UINT id)
{
    return ToQString(LoadStringById(id));
}

QString UsageText(int value)
{
    return value < 0 ? Text(IDS_NOT_AVAILABLE) : QString::number(value);
}
} // namespace

COdomiraView::COdomiraView(COdomiraDoc& doc, QWidget* parent)
    : QTreeView(parent), m_doc(doc), m_model(new CPrinterListModel(this)),
      m_pFill(std::make_unique<CFleetQuery>()),
      m_wakePending(std::make_shared<std::atomic<bool>>(false))
{
    setObjectName(QStringLiteral("AFX_IDW_PANE_FIRST"));
    setModel(m_model);
    // A report list: no tree decoration, whole rows, several rows selectable, rows in
    // the order they were inserted (a click on a heading sorts nothing).
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setTextElideMode(Qt::ElideNone);
    setIconSize(QSize(16, 16));
    header()->setSectionsClickable(false);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(true);
    header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto anySelected = [this](CCmdUI& s) { s.Enable(GetSelectedCount() > 0); };
    auto oneSelected = [this](CCmdUI& s) { s.Enable(GetSelectedCount() == 1); };
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
    using PrintFn = void (*)(CVarkoPrinters&, const CMapStringToOb&, EDisplayUnits);
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
        ID_EDIT_SELECT_ALL, [this] { OnEditSelectAll(); },
        [this](CCmdUI& s) { s.Enable(GetItemCount() > 0); });
    OnCommand(ID_VIEW_REFRESH, [this] { OnViewRefresh(); });
    OnCommand(
        ID_PRINTER_ODOMETER_HISTORY, [this] { OnPrinterOdometerHistory(); },
        [this](CCmdUI& s) { s.Enable(IsOneBidirectionalSelected()); });

    m_pHistory = std::make_unique<CHistoryRecorder>(
        [](const std::string& problem)
        {
            CString text;
            text.Format(LoadStringById(IDS_HISTORY_UNAVAILABLE).GetString(), problem.c_str());
            AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
        });
}

COdomiraView::~COdomiraView()
{
    // No notice may arrive at a view that is half destroyed, and the engine's threads
    // must be done with the printers before anything else goes.
    DetachHandle();
    m_pFill.reset();
    m_model->Clear();
    m_pImageList.reset();
}

void COdomiraView::OnInitialUpdate()
{
    // The columns and the icon are set up once, the first time; painting waits until
    // they are in place.
    if (!m_pImageList)
    {
        setUpdatesEnabled(false);
        for (int column = 0; column < COLUMN_COUNT; ++column)
            m_model->SetHeading(column, ToQString(ColumnHeading(column)));
        m_pImageList = std::make_unique<QIcon>(PrinterIcon());
        m_model->SetIcon(*m_pImageList);
        setUpdatesEnabled(true);
    }
    OnUpdate(nullptr, COdomiraDoc::HINT_REFRESH_ALL, nullptr);
}

void COdomiraView::OnUpdate(COdomiraView*, long hint,
                            std::unique_ptr<COdomiraDoc::CPrinterHintObject> hintObject)
{
    if (hint & COdomiraDoc::HINT_PRINTER)
    {
        if (hintObject)
            UpdatePrinterRow(hintObject->m_pPrinter);
    }
    else if (hint & COdomiraDoc::HINT_PRINTER_MAP)
    {
        std::vector<CVarkoPrinterData*> printers;
        if (hintObject && hintObject->m_pPrinterMap)
        {
            for (POSITION pos = hintObject->m_pPrinterMap->GetStartPosition(); pos;)
            {
                CString name;
                CObject* object = nullptr;
                hintObject->m_pPrinterMap->GetNextAssoc(pos, name, object);
                printers.push_back(dynamic_cast<CVarkoPrinterData*>(object));
            }
        }
        RefreshRows(printers);
    }
    else
    {
        if (hint & COdomiraDoc::HINT_UNITS)
            UpdateUnitHeaders();
        FillList();
    }
    emit commandStateChanged();
}

void COdomiraView::FillList()
{
    StopFill();
    // The rows show at once what is stored; the printers' answers follow.
    std::vector<CPrinterListModel::Row> rows;
    std::vector<CVarkoPrinterData*> printers;
    if (CVarkoPrinters* collection = m_doc.GetPrinters())
    {
        for (POSITION pos = collection->GetFirstPrinter(); pos;)
        {
            CVarkoPrinterData* printer = collection->GetNextPrinter(pos);
            if (!printer)
                continue;
            CPrinterListModel::Row row;
            row.printer = printer;
            row.cells[COLUMN_NAME] = ToQString(printer->Name());
            row.cells[COLUMN_MODEL] = ToQString(printer->StoredModel());
            row.cells[COLUMN_PORT] = ToQString(printer->PortDisplayName());
            rows.push_back(std::move(row));
            printers.push_back(printer);
        }
    }
    // Every row goes in at the top, so the list shows the collection in reverse.
    std::reverse(rows.begin(), rows.end());
    m_model->SetRows(std::move(rows));
    FitColumns();
    StartFill(std::move(printers));
}

void COdomiraView::UpdatePrinterRow(CVarkoPrinterData* printer)
{
    RefreshRows({printer});
}

void COdomiraView::RefreshRows(const std::vector<CVarkoPrinterData*>& printers)
{
    StopFill();
    std::vector<CVarkoPrinterData*> asked;
    for (CVarkoPrinterData* printer : printers)
    {
        // A printer that is not in the list (no row with its pointer) is skipped.
        const int row = m_model->RowOf(printer);
        if (row < 0 || !IsInCollection(printer))
            continue;
        m_model->SetCell(row, COLUMN_NAME, ToQString(printer->Name()));
        m_model->SetCell(row, COLUMN_PORT, ToQString(printer->PortDisplayName()));
        asked.push_back(printer);
    }
    FitColumns();
    StartFill(std::move(asked));
}

void COdomiraView::StartFill(std::vector<CVarkoPrinterData*> printers)
{
    m_fillPrinters = printers;
    m_fillAnswers.clear();
    m_fillAnswers.resize(m_fillPrinters.size());
    m_bReportOnFinish = true;
    if (printers.empty())
        return;
    m_bFillActive = true;
    viewport()->setCursor(Qt::BusyCursor);
    m_wakePending->store(false);
    // The engine's threads only post a wake-up; the answers are taken here, on this
    // thread. The flag is shared so a late wake-up never touches a destroyed view.
    std::shared_ptr<std::atomic<bool>> pending = m_wakePending;
    m_fillUnits = GetDisplayUnits();
    m_pFill->Start(std::move(printers), m_fillUnits,
                   [this, pending]
                   {
                       if (!pending->exchange(true))
                           QMetaObject::invokeMethod(
                               this, [this] { TakeAnswers(); }, Qt::QueuedConnection);
                   });
    ShowProgress();
    emit commandStateChanged();
}

void COdomiraView::TakeAnswers()
{
    m_wakePending->store(false);
    if (!m_bFillActive)
        return;
    // The engine's state is read before its answers, so a fill seen as ended has no
    // answer left behind.
    const bool ended = !m_pFill->IsBusy();
    for (CPrinterAnswers& answers : m_pFill->TakeAnswers())
    {
        ApplyAnswers(answers);
        const std::size_t index = answers.index;
        if (index < m_fillAnswers.size())
            m_fillAnswers[index] = std::make_unique<CPrinterAnswers>(std::move(answers));
    }
    if (ended)
        FinishFill();
    else
        ShowProgress();
}

void COdomiraView::ApplyAnswers(const CPrinterAnswers& a)
{
    const int row = m_model->RowOf(a.printer);
    if (row < 0)
        return;
    // A USB printer that cannot be reached tells no model; its serial number question
    // says why, once.
    if (!a.modelFailure)
        m_model->SetCell(row, COLUMN_MODEL, ToQString(a.model));
    QString serial;
    if (a.serialFailure)
        serial = Text(IDS_ERROR);
    else
        serial = a.serial.IsEmpty() ? Text(IDS_NOT_SET) : ToQString(a.serial);
    m_model->SetCell(row, COLUMN_SERIAL_NUMBER, serial);
    // A failed odometer question is silent: the serial number question has already
    // said what is wrong.
    m_model->SetCell(row, COLUMN_TOTAL_USAGE,
                     a.odometerFailure ? Text(IDS_ERROR) : UsageText(a.total));
    m_model->SetCell(row, COLUMN_HEAD_USAGE,
                     a.odometerFailure ? Text(IDS_ERROR) : UsageText(a.head));
    // The readings go into the odometer history when the fill ends, in the units the
    // printers were asked in.
    if (!a.odometerFailure)
        if (CVarkoPrinters* printers = m_doc.GetPrinters())
            m_pHistory->Add(*printers, *a.printer, a.serialFailure ? CString() : a.serial,
                            a.modelFailure ? CString() : a.model, a.head, a.total, m_fillUnits);
}

void COdomiraView::FinishFill()
{
    m_bFillActive = false;
    viewport()->unsetCursor();
    // One transaction per fill, with what it got before it ended or was stopped.
    m_pHistory->Commit();
    // Printers the fill never reached say so, instead of keeping an older answer.
    for (std::size_t i = 0; i < m_fillPrinters.size(); ++i)
    {
        if (m_fillAnswers[i])
            continue;
        const int row = m_model->RowOf(m_fillPrinters[i]);
        for (int column : {COLUMN_SERIAL_NUMBER, COLUMN_TOTAL_USAGE, COLUMN_HEAD_USAGE})
            m_model->SetCell(row, column, Text(IDS_NOT_ASKED));
    }
    FitColumns();
    emit fillProgress(QString(), false);
    emit commandStateChanged();
    if (!m_bReportOnFinish)
        return;
    // One box per printer whose serial number question failed, in the order the
    // printers were asked, once every row is filled.
    std::vector<CFleetFailure> failures;
    for (const auto& answers : m_fillAnswers)
        if (answers && answers->serialFailure)
            failures.push_back(*answers->serialFailure);
    m_fillAnswers.clear();
    for (const CFleetFailure& failure : failures)
        failure.Report();
}

void COdomiraView::ShowProgress()
{
    if (IsStopping() && m_pFill->IsCancelled())
    {
        const int waiting =
            static_cast<int>(m_fillPrinters.size()) - static_cast<int>(m_pFill->Answered());
        CString text;
        text.Format(LoadStringById(IDS_STOPPING_FILL).GetString(), waiting > 0 ? waiting : 0);
        emit fillProgress(ToQString(text), false);
        return;
    }
    CString text;
    text.Format(LoadStringById(IDS_ASKING_PRINTERS).GetString(),
                static_cast<int>(m_pFill->Answered()), static_cast<int>(m_fillPrinters.size()));
    emit fillProgress(ToQString(text), !m_pFill->IsCancelled());
}

bool COdomiraView::IsFilling() const
{
    return m_bFillActive;
}

void COdomiraView::CancelFill()
{
    if (!m_bFillActive)
        return;
    m_pFill->Cancel();
    ShowProgress();
}

void COdomiraView::StopFill()
{
    if (!m_bFillActive)
        return;
    m_pFill->Cancel();
    // What a command does next must not be preceded by boxes about the fill it stopped;
    // the rows still show "Error!" where a question failed.
    m_bReportOnFinish = false;
    WaitWhileBusy();
}

void COdomiraView::WaitForFill()
{
    if (m_bFillActive)
        WaitWhileBusy();
}

void COdomiraView::WaitWhileBusy()
{
    ++m_nStopping;
    ShowProgress();
    emit commandStateChanged();
    // The printers being asked answer within the library's time-outs; meanwhile the
    // window repaints and the status bar says what it waits for.
    QEventLoop loop;
    while (m_pFill->IsBusy())
    {
        loop.processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        ShowProgress();
    }
    --m_nStopping;
    if (m_bFillActive)
        TakeAnswers();
    emit commandStateChanged();
}

void COdomiraView::UpdateUnitHeaders()
{
    for (int column : {COLUMN_TOTAL_USAGE, COLUMN_HEAD_USAGE})
        m_model->SetHeading(column, ToQString(ColumnHeading(column).Left(63)));
    resizeColumnToContents(COLUMN_TOTAL_USAGE);
    resizeColumnToContents(COLUMN_HEAD_USAGE);
}

CString COdomiraView::ColumnHeading(int column)
{
    switch (column)
    {
    case COLUMN_NAME:
        return LoadStringById(IDS_COLUMN_PRINTER_NAME);
    case COLUMN_MODEL:
        return LoadStringById(IDS_COLUMN_MODEL);
    case COLUMN_PORT:
        return LoadStringById(IDS_COLUMN_PORT);
    case COLUMN_SERIAL_NUMBER:
        return LoadStringById(IDS_COLUMN_SERIAL_NUMBER);
    case COLUMN_TOTAL_USAGE:
    case COLUMN_HEAD_USAGE:
    {
        const CString abbreviation =
            LoadStringById(GetDisplayUnits() == eUnitsMillimeters ? IDS_MILLIMETERS_ABBREVIATION
                                                                  : IDS_INCHES_ABBREVIATION);
        CString heading;
        heading.Format(LoadStringById(column == COLUMN_TOTAL_USAGE ? IDS_COLUMN_TOTAL_USAGE
                                                                   : IDS_COLUMN_HEAD_USAGE)
                           .GetString(),
                       abbreviation.GetString());
        return heading;
    }
    default:
        return CString();
    }
}

EDisplayUnits COdomiraView::GetDisplayUnits()
{
    // Exact and case-sensitive: only the text the Options dialog stores means millimetres.
    return GetApplicationSettings().m_displayUnits == LoadStringById(IDS_MILLIMETERS)
               ? eUnitsMillimeters
               : eUnitsInches;
}

void COdomiraView::BuildSelectionMap(CMapStringToOb& map) const
{
    for (int row : GetSelectedRows())
        if (CVarkoPrinterData* printer = GetPrinterAt(row))
            map.SetAt(printer->Name(), printer);
}

int COdomiraView::GetItemCount() const
{
    return m_model->rowCount();
}

int COdomiraView::GetSelectedCount() const
{
    return selectionModel() ? static_cast<int>(selectionModel()->selectedRows().size()) : 0;
}

std::vector<int> COdomiraView::GetSelectedRows() const
{
    std::vector<int> rows;
    if (!selectionModel())
        return rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

CVarkoPrinterData* COdomiraView::GetPrinterAt(int row) const
{
    CVarkoPrinterData* printer = m_model->PrinterAt(row);
    return IsInCollection(printer) ? printer : nullptr;
}

bool COdomiraView::IsInCollection(const CVarkoPrinterData* printer) const
{
    CVarkoPrinters* printers = m_doc.GetPrinters();
    if (!printer || !printers)
        return false;
    for (POSITION pos = printers->GetFirstPrinter(); pos;)
        if (printers->GetNextPrinter(pos) == printer)
            return true;
    return false;
}

CVarkoPrinterData* COdomiraView::FirstSelectedPrinter() const
{
    const std::vector<int> rows = GetSelectedRows();
    return rows.empty() ? nullptr : GetPrinterAt(rows.front());
}

void COdomiraView::FitColumns()
{
    // Each column as wide as the wider of its widest cell and its heading. Measuring
    // every cell through the item delegate costs tens of milliseconds for a thousand
    // rows, which the window would spend frozen; the text widths alone are cheap, and
    // the delegate is asked only for the widest cell of each column.
    const QFontMetrics metrics(font());
    for (int column = 0; column < COLUMN_COUNT; ++column)
    {
        int widest = -1;
        int widestRow = -1;
        for (int row = 0; row < m_model->rowCount(); ++row)
        {
            const int width = metrics.horizontalAdvance(m_model->CellText(row, column));
            if (width > widest)
            {
                widest = width;
                widestRow = row;
            }
        }
        int size = header()->sectionSizeHint(column);
        if (widestRow >= 0)
        {
            QStyleOptionViewItem option;
            initViewItemOption(&option);
            const QModelIndex index = m_model->index(widestRow, column);
            size = std::max(size, itemDelegateForIndex(index)->sizeHint(option, index).width());
        }
        header()->resizeSection(column, size);
    }
}

void COdomiraView::OnPrinterDelete()
{
    StopFill();
    // The printers are taken before the first goes, so each row still names its own.
    std::vector<CVarkoPrinterData*> printers;
    for (int row : GetSelectedRows())
        if (CVarkoPrinterData* printer = GetPrinterAt(row))
            printers.push_back(printer);
    if (CVarkoPrinters* collection = m_doc.GetPrinters())
    {
        for (CVarkoPrinterData* printer : printers)
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
    }
    m_doc.UpdateAllViews(nullptr, COdomiraDoc::HINT_REFRESH_ALL);
}

void COdomiraView::OnPrinterModify()
{
    StopFill();
    CVarkoPrinterData* printer = FirstSelectedPrinter();
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
}

void COdomiraView::OnPrinterSetSerialNumber()
{
    StopFill();
    CVarkoPrinterData* printer = FirstSelectedPrinter();
    if (!printer)
        return;
    try
    {
        CSerialNumberDlg dlg(printer->SerialNumber());
        if (dlg.DoModal() != IDOK)
            return;
        CWaitCursor wait;
        printer->SetSerialNumber(dlg.m_serialNumber);
        auto hint = std::make_unique<COdomiraDoc::CPrinterHintObject>();
        hint->m_pPrinter = printer;
        m_doc.UpdateAllViews(nullptr, COdomiraDoc::HINT_PRINTER, std::move(hint));
    }
    catch (const CException& e)
    {
        e.ReportError();
    }
}

void COdomiraView::OnPrinterViewHeadHistory()
{
    StopFill();
    CVarkoPrinterData* printer = FirstSelectedPrinter();
    if (!printer)
        return;
    try
    {
        const CString history = printer->HeadHistory(GetDisplayUnits());
        AfxMessageBox(history, MB_OK | MB_ICONINFORMATION);
    }
    catch (const CException& e)
    {
        e.ReportError();
    }
}

void COdomiraView::OnPrinterResetHeadOdometer()
{
    StopFill();
    CMapStringToOb map(10);
    {
        CWaitCursor wait;
        for (int row : GetSelectedRows())
        {
            CVarkoPrinterData* printer = GetPrinterAt(row);
            if (!printer)
                continue;
            try
            {
                // The library asks the user for each printer; No is not a failure. A Yes
                // is a new head for the odometer history.
                CPromptAnswerWatch answer;
                printer->ResetHeadOdometer();
                if (answer.LastAnswer() == IDYES && m_doc.GetPrinters())
                    m_pHistory->RecordHeadReset(*m_doc.GetPrinters(), *printer);
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
}

bool COdomiraView::IsOneBidirectionalSelected() const
{
    // Asking the record is safe during a fill: whether a port can answer depends on its
    // kind alone, which only a command could change.
    CVarkoPrinterData* p = GetSelectedCount() == 1 ? FirstSelectedPrinter() : nullptr;
    return p && p->IsBidirectional();
}

void COdomiraView::OnPrinterOdometerHistory()
{
    // Like every command, it ends a running fill first; the fill's readings are then in
    // the store for the dialog to show.
    StopFill();
    CVarkoPrinterData* printer = FirstSelectedPrinter();
    CVarkoPrinters* printers = m_doc.GetPrinters();
    if (!printer || !printers)
        return;
    std::optional<PrinterHistory> history;
    CReadingStore* store = m_pHistory->Store();
    if (store)
    {
        try
        {
            if (const auto found = m_pHistory->FindPrinter(*printers, *printer))
                history = store->History(found->id);
        }
        catch (const CReadingStoreError& e)
        {
            AfxMessageBox(e.what(), MB_OK | MB_ICONEXCLAMATION);
            return;
        }
    }
    COdometerHistoryDlg dlg(printer->Name(), std::move(history), store, GetDisplayUnits());
    if (!store)
        dlg.SetProblem(m_pHistory->LastError());
    dlg.DoModal();
}

template <class Print> void COdomiraView::RunBatchPrint(Print print)
{
    StopFill();
    CMapStringToOb map(10);
    BuildSelectionMap(map);
    if (CVarkoPrinters* printers = m_doc.GetPrinters())
    {
        CWaitCursor wait;
        try
        {
            print(*printers, map, GetDisplayUnits());
        }
        catch (const CException& e)
        {
            e.ReportError();
        }
    }
    auto hint = std::make_unique<COdomiraDoc::CPrinterHintObject>();
    hint->m_pPrinterMap = &map;
    m_doc.UpdateAllViews(nullptr, COdomiraDoc::HINT_PRINTER_MAP, std::move(hint));
}

void COdomiraView::OnEditSelectAll()
{
    selectAll();
}

void COdomiraView::OnViewRefresh()
{
    FillList();
    emit commandStateChanged();
}

void COdomiraView::contextMenuEvent(QContextMenuEvent* event)
{
    if (!m_pFrame)
        return;
    UINT menu = IDR_CONTEXT_BACKGROUND;
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse)
    {
        const QModelIndex hit = indexAt(event->pos());
        if (hit.isValid())
        {
            // With nothing selected the row becomes the anchor for a range selection,
            // without being selected itself.
            if (GetSelectedCount() == 0)
                selectionModel()->setCurrentIndex(hit, QItemSelectionModel::NoUpdate);
            menu = IDR_CONTEXT_ON_ITEM;
        }
    }
    else
    {
        // The menu key: the list's top left corner, and the row menu when there are
        // selected rows for its commands to act on.
        at = viewport()->mapToGlobal(QPoint(-1, -1));
        if (GetSelectedCount() > 0)
            menu = IDR_CONTEXT_ON_ITEM;
    }
    m_pFrame->TrackPopupMenu(menu, at, menu == IDR_CONTEXT_ON_ITEM ? ID_PRINTER_MODIFY : 0);
    event->accept();
}

void COdomiraView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeView::mouseDoubleClickEvent(event);
    event->accept();
    if (!IsStopping())
        OnPrinterModify();
}

void COdomiraView::selectionChanged(const QItemSelection& selected,
                                    const QItemSelection& deselected)
{
    QTreeView::selectionChanged(selected, deselected);
    emit commandStateChanged();
}

void COdomiraView::OnPostedMessage(UINT, WPARAM, LPARAM)
{
    QCoreApplication::postEvent(this, new QEvent(kPostedMessageEvent));
}

bool COdomiraView::event(QEvent* event)
{
    if (event->type() == kPostedMessageEvent)
        return true;
    return QTreeView::event(event);
}
