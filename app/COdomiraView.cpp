#include "COdomiraView.h"

#include "AppIcons.h"
#include "CHistoryRecorder.h"
#include "CMainFrame.h"
#include "CMapStringToOb.h"
#include "COdometerHistoryDlg.h"
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
#include <QHeaderView>
#include <QStandardItemModel>

namespace
{
// Worker threads post their notices as this event; the program starts no downloads,
// so the notices only have to arrive safely.
const QEvent::Type kPostedMessageEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class CPostedMessageEvent : public QEvent
{
public:
    CPostedMessageEvent(UINT message, WPARAM wParam, LPARAM lParam)
        : QEvent(kPostedMessageEvent), m_message(message), m_wParam(wParam), m_lParam(lParam)
    {
    }
    UINT m_message;
    WPARAM m_wParam;
    LPARAM m_lParam;
};

constexpr int kPrinterRole = Qt::UserRole + 1;

QString UsageText(int value)
{
    if (value < 0)
        return ToQString(LoadStringById(IDS_NOT_AVAILABLE));
    return QString::number(value);
}
} // namespace

COdomiraView::COdomiraView(COdomiraDoc& doc, QWidget* parent)
    : QTreeView(parent), m_doc(doc), m_model(new QStandardItemModel(0, COLUMN_COUNT, this))
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

    OnCommand(
        ID_PRINTER_DELETE, [this] { OnPrinterDelete(); },
        [this](CCmdUI& s) { s.Enable(GetSelectedCount() > 0); });
    OnCommand(
        ID_PRINTER_MODIFY, [this] { OnPrinterModify(); },
        [this](CCmdUI& s) { s.Enable(GetSelectedCount() == 1); });
    OnCommand(
        ID_PRINTER_SET_SERIAL_NUMBER, [this] { OnPrinterSetSerialNumber(); },
        [this](CCmdUI& s) { s.Enable(GetSelectedCount() == 1); });
    OnCommand(
        ID_PRINTER_VIEW_HEAD_HISTORY, [this] { OnPrinterViewHeadHistory(); },
        [this](CCmdUI& s) { s.Enable(IsOneBidirectionalSelected()); });
    OnCommand(
        ID_PRINTER_RESET_HEAD_ODOMETER, [this] { OnPrinterResetHeadOdometer(); },
        [this](CCmdUI& s) { s.Enable(GetSelectedCount() > 0); });
    OnCommand(
        ID_PRINT_TEST_PAGE_RLX,
        [this]
        {
            RunBatchPrint([](CVarkoPrinters& printers, const CMapStringToOb& map, EDisplayUnits)
                          { printers.PrintTestPageRLX(map); });
        },
        [this](CCmdUI& s) { s.Enable(GetSelectedCount() > 0); });
    OnCommand(
        ID_PRINT_ODOMETERS,
        [this]
        {
            RunBatchPrint([](CVarkoPrinters& printers, const CMapStringToOb& map,
                             EDisplayUnits units) { printers.PrintOdometers(map, units); });
        },
        [this](CCmdUI& s) { s.Enable(GetSelectedCount() > 0); });
    OnCommand(
        ID_PRINT_HEAD_HISTORY,
        [this]
        {
            RunBatchPrint([](CVarkoPrinters& printers, const CMapStringToOb& map,
                             EDisplayUnits units) { printers.PrintHeadHistory(map, units); });
        },
        [this](CCmdUI& s) { s.Enable(GetSelectedCount() > 0); });
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
    // No notice may arrive at a view that is half destroyed.
    DetachHandle();
    m_model->removeRows(0, m_model->rowCount());
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
            m_model->setHeaderData(column, Qt::Horizontal, ToQString(ColumnHeading(column)));
        m_pImageList = std::make_unique<QIcon>(PrinterIcon());
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
        if (hintObject && hintObject->m_pPrinterMap)
        {
            for (POSITION pos = hintObject->m_pPrinterMap->GetStartPosition(); pos;)
            {
                CString name;
                CObject* object = nullptr;
                hintObject->m_pPrinterMap->GetNextAssoc(pos, name, object);
                UpdatePrinterRow(dynamic_cast<CVarkoPrinterData*>(object));
            }
        }
    }
    else
    {
        if (hint & COdomiraDoc::HINT_UNITS)
            UpdateUnitHeaders();
        FillList();
    }
    // The rows refilled for one command are kept together, as a fill's are.
    m_pHistory->Commit();
    emit commandStateChanged();
}

void COdomiraView::FillList()
{
    CWaitCursor wait;
    m_bFilling = true;
    m_model->removeRows(0, m_model->rowCount());
    CVarkoPrinters* printers = m_doc.GetPrinters();
    if (printers)
    {
        for (POSITION pos = printers->GetFirstPrinter(); pos;)
        {
            CVarkoPrinterData* printer = printers->GetNextPrinter(pos);
            if (!printer)
                continue;
            // Every row goes in at the top, so the list shows the collection in reverse.
            QList<QStandardItem*> cells;
            for (int column = 0; column < COLUMN_COUNT; ++column)
            {
                auto* cell = new QStandardItem;
                cell->setEditable(false);
                cells.append(cell);
            }
            cells[COLUMN_NAME]->setText(ToQString(printer->Name()));
            cells[COLUMN_NAME]->setData(
                QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(printer)), kPrinterRole);
            if (m_pImageList)
                cells[COLUMN_NAME]->setIcon(*m_pImageList);
            m_model->insertRow(0, cells);
            UpdatePrinterRow(printer);
        }
    }
    m_bFilling = false;
    FitColumns();
    m_pHistory->Commit();
}

void COdomiraView::UpdatePrinterRow(CVarkoPrinterData* printer)
{
    const int row = IsInCollection(printer) ? FindRow(printer) : -1;
    if (row >= 0)
    {
        QStandardItem* first = m_model->item(row, COLUMN_NAME);
        first->setText(ToQString(printer->Name()));
        if (m_pImageList)
            first->setIcon(*m_pImageList);

        CString model;
        try
        {
            model = printer->Model();
        }
        catch (const CException&)
        {
            // A USB printer that cannot be reached tells no model; its serial number
            // query below says why, once.
        }

        CString serial;
        CString reported;
        try
        {
            serial = printer->SerialNumber();
            reported = serial;
            if (serial.IsEmpty())
                serial = LoadStringById(IDS_NOT_SET);
        }
        catch (const CException& e)
        {
            e.ReportError();
            serial = LoadStringById(IDS_ERROR);
        }

        int head = -1;
        int total = -1;
        QString totalText;
        QString headText;
        try
        {
            printer->Odometers(head, total, GetDisplayUnits());
            totalText = UsageText(total);
            headText = UsageText(head);
            if (CVarkoPrinters* printers = m_doc.GetPrinters())
                m_pHistory->Add(*printers, *printer, reported, model, head, total,
                                GetDisplayUnits());
        }
        catch (const CException&)
        {
            // Silent: the serial number query has already said what is wrong.
            totalText = headText = ToQString(LoadStringById(IDS_ERROR));
        }

        SetCell(row, COLUMN_MODEL, model);
        SetCell(row, COLUMN_PORT, printer->PortDisplayName());
        SetCell(row, COLUMN_SERIAL_NUMBER, serial);
        m_model->item(row, COLUMN_TOTAL_USAGE)->setText(totalText);
        m_model->item(row, COLUMN_HEAD_USAGE)->setText(headText);
    }
    // A fill fits the columns once, at its end; a single row fits them at once.
    if (!m_bFilling)
        FitColumns();
}

void COdomiraView::SetCell(int row, int column, const CString& text)
{
    m_model->item(row, column)->setText(ToQString(text));
}

void COdomiraView::UpdateUnitHeaders()
{
    for (int column : {COLUMN_TOTAL_USAGE, COLUMN_HEAD_USAGE})
        m_model->setHeaderData(column, Qt::Horizontal, ToQString(ColumnHeading(column).Left(63)));
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
    return static_cast<int>(GetSelectedRows().size());
}

std::vector<int> COdomiraView::GetSelectedRows() const
{
    std::vector<int> rows;
    if (!selectionModel())
        return rows;
    for (int row = 0; row < m_model->rowCount(); ++row)
        if (selectionModel()->isRowSelected(row, QModelIndex()))
            rows.push_back(row);
    return rows;
}

CVarkoPrinterData* COdomiraView::GetPrinterAt(int row) const
{
    const QStandardItem* item = m_model->item(row, COLUMN_NAME);
    if (!item)
        return nullptr;
    auto* printer =
        reinterpret_cast<CVarkoPrinterData*>(item->data(kPrinterRole).value<quintptr>());
    return IsInCollection(printer) ? printer : nullptr;
}

int COdomiraView::FindRow(const CVarkoPrinterData* printer) const
{
    const auto key = reinterpret_cast<quintptr>(printer);
    for (int row = 0; row < m_model->rowCount(); ++row)
        if (m_model->item(row, COLUMN_NAME)->data(kPrinterRole).value<quintptr>() == key)
            return row;
    return -1;
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
    for (int column = 0; column < COLUMN_COUNT; ++column)
        resizeColumnToContents(column);
}

void COdomiraView::OnPrinterDelete()
{
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
    CWaitCursor wait;
    CMapStringToOb map(10);
    for (int row : GetSelectedRows())
    {
        CVarkoPrinterData* printer = GetPrinterAt(row);
        if (!printer)
            continue;
        try
        {
            // The library asks the user for each printer; No is not a failure. A Yes is a
            // new head for the odometer history.
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
    auto hint = std::make_unique<COdomiraDoc::CPrinterHintObject>();
    hint->m_pPrinterMap = &map;
    m_doc.UpdateAllViews(nullptr, COdomiraDoc::HINT_PRINTER_MAP, std::move(hint));
}

bool COdomiraView::IsOneBidirectionalSelected() const
{
    CVarkoPrinterData* p = GetSelectedCount() == 1 ? FirstSelectedPrinter() : nullptr;
    return p && p->IsBidirectional();
}

void COdomiraView::OnPrinterOdometerHistory()
{
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
    CWaitCursor wait;
    CMapStringToOb map(10);
    BuildSelectionMap(map);
    if (CVarkoPrinters* printers = m_doc.GetPrinters())
    {
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
    OnPrinterModify();
    event->accept();
}

void COdomiraView::selectionChanged(const QItemSelection& selected,
                                    const QItemSelection& deselected)
{
    QTreeView::selectionChanged(selected, deselected);
    emit commandStateChanged();
}

void COdomiraView::OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    QCoreApplication::postEvent(this, new CPostedMessageEvent(message, wParam, lParam));
}

bool COdomiraView::event(QEvent* event)
{
    if (event->type() == kPostedMessageEvent)
        return true;
    return QTreeView::event(event);
}
