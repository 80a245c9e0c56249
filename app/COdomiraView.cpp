#include "COdomiraView.h"

#include "AppIcons.h"
#include "CFillController.h"
#include "CMapStringToOb.h"
#include "CPrinterListModel.h"
#include "CSettingsApplication.h"
#include "CVarkoPrinters.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QStyleOptionViewItem>

#include <algorithm>

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
    : QTreeView(parent), m_doc(doc), m_model(new CPrinterListModel(this))
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
        ID_EDIT_SELECT_ALL, [this] { OnEditSelectAll(); },
        [this](CCmdUI& s) { s.Enable(GetItemCount() > 0); });
    OnCommand(ID_VIEW_REFRESH, [this] { OnViewRefresh(); });

    CFillController& fill = m_doc.Fill();
    connect(&fill, &CFillController::answered, this, &COdomiraView::ApplyAnswers);
    connect(&fill, &CFillController::ended, this, &COdomiraView::MarkNotAsked);
}

COdomiraView::~COdomiraView()
{
    // No notice may arrive at a view that is half destroyed.
    DetachHandle();
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

void COdomiraView::OnUpdate(CDocumentView*, long hint,
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
    CFillController& fill = m_doc.Fill();
    if (fill.IsFilling())
    {
        // Every change that leads here waits for the printers first; should one not,
        // the rebuild follows once they are free.
        fill.RunWhenFree([this] { FillList(); });
        return;
    }
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
    AskPrinters(std::move(printers));
}

void COdomiraView::UpdatePrinterRow(CVarkoPrinterData* printer)
{
    RefreshRows({printer});
}

void COdomiraView::RefreshRows(const std::vector<CVarkoPrinterData*>& printers)
{
    if (m_doc.Fill().IsFilling())
    {
        m_doc.Fill().RunWhenFree([this, printers] { RefreshRows(printers); });
        return;
    }
    std::vector<CVarkoPrinterData*> asked;
    for (CVarkoPrinterData* printer : printers)
    {
        // A printer that is not in the list (no row with its pointer) is skipped.
        const int row = m_model->RowOf(printer);
        if (row < 0 || !m_doc.HoldsPrinter(printer))
            continue;
        m_model->SetCell(row, COLUMN_NAME, ToQString(printer->Name()));
        m_model->SetCell(row, COLUMN_PORT, ToQString(printer->PortDisplayName()));
        asked.push_back(printer);
    }
    FitColumns();
    AskPrinters(std::move(asked));
}

void COdomiraView::AskPrinters(std::vector<CVarkoPrinterData*> printers)
{
    CVarkoPrinters* collection = m_doc.GetPrinters();
    if (!collection || printers.empty())
        return;
    viewport()->setCursor(Qt::BusyCursor);
    m_doc.Fill().Start(*collection, std::move(printers), GetDisplayUnits());
}

void COdomiraView::ApplyAnswers(const std::vector<CPrinterAnswers>& answers)
{
    for (const CPrinterAnswers& a : answers)
    {
        const int row = m_model->RowOf(a.printer);
        if (row < 0)
            continue;
        // A USB printer that cannot be reached tells no model; its serial number
        // question says why, once.
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
    }
}

void COdomiraView::MarkNotAsked(const std::vector<CVarkoPrinterData*>& printers)
{
    viewport()->unsetCursor();
    // Printers the fill never reached say so, instead of keeping an older answer.
    for (CVarkoPrinterData* printer : printers)
    {
        const int row = m_model->RowOf(printer);
        for (int column : {COLUMN_SERIAL_NUMBER, COLUMN_TOTAL_USAGE, COLUMN_HEAD_USAGE})
            m_model->SetCell(row, column, Text(IDS_NOT_ASKED));
    }
    FitColumns();
    emit commandStateChanged();
}

bool COdomiraView::IsFilling() const
{
    return m_doc.Fill().IsBusy();
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
    return m_doc.HoldsPrinter(printer) ? printer : nullptr;
}

std::vector<CVarkoPrinterData*> COdomiraView::SelectedPrinters() const
{
    std::vector<CVarkoPrinterData*> printers;
    for (int row : GetSelectedRows())
        if (CVarkoPrinterData* printer = GetPrinterAt(row))
            printers.push_back(printer);
    return printers;
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
    emit contextMenuRequested(menu, at, menu == IDR_CONTEXT_ON_ITEM ? ID_PRINTER_MODIFY : 0);
    event->accept();
}

void COdomiraView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeView::mouseDoubleClickEvent(event);
    event->accept();
    emit modifyRequested();
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
