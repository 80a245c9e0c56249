#pragma once
// The printer list: one row per printer of the document's collection, showing its name,
// model and port as stored and its serial number and two odometers as the printer
// itself answers them each time the row is filled. It runs every command that works on
// the selected printers, shows the two context menus, and turns a double-click into
// Modify.
//
// Each row keeps its printer's record pointer; rows are rebuilt after every change of
// the collection's membership, and a pointer is looked up in the collection before it
// is used, so no row ever reaches a deleted printer.
//
// It is also the owner window the printers' worker threads post their notices to;
// posting to it after it is gone is a harmless no-op (see CWnd.h).
//
// Threading: user-interface thread only, apart from OnPostedMessage.
#include "CCmdTarget.h"
#include "COdomiraDoc.h"
#include "CVarkoPrinterData.h"
#include "CWnd.h"

#include <QTreeView>

#include <memory>
#include <vector>

class CHistoryRecorder;
class CMainFrame;
class CMapStringToOb;
class QStandardItemModel;

class COdomiraView : public QTreeView, public CCmdTarget, public CWnd
{
    Q_OBJECT
public:
    enum Column
    {
        COLUMN_NAME,
        COLUMN_MODEL,
        COLUMN_PORT,
        COLUMN_SERIAL_NUMBER,
        COLUMN_TOTAL_USAGE,
        COLUMN_HEAD_USAGE,
        COLUMN_COUNT
    };

    COdomiraView(COdomiraDoc& doc, QWidget* parent);
    ~COdomiraView() override;

    COdomiraDoc* GetDocument() const { return &m_doc; }
    // The window whose menus and command routing the context menus use.
    void SetFrame(CMainFrame* frame) { m_pFrame = frame; }

    // After every New and Open.
    void OnInitialUpdate();
    void OnUpdate(COdomiraView* sender, long hint,
                  std::unique_ptr<COdomiraDoc::CPrinterHintObject> hintObject);

    void FillList();
    void UpdatePrinterRow(CVarkoPrinterData* printer);
    void UpdateUnitHeaders();
    static CString ColumnHeading(int column);
    static EDisplayUnits GetDisplayUnits();
    // The selected printers by name, rows visited from the top; a repeated name keeps
    // the lower row.
    void BuildSelectionMap(CMapStringToOb& map) const;

    int GetItemCount() const;
    int GetSelectedCount() const;
    // Selected rows, top down.
    std::vector<int> GetSelectedRows() const;
    // The row's printer; null for a row whose printer has left the collection.
    CVarkoPrinterData* GetPrinterAt(int row) const;
    QStandardItemModel* GetListModel() const { return m_model; }

signals:
    void commandStateChanged();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    int FindRow(const CVarkoPrinterData* printer) const;
    bool IsInCollection(const CVarkoPrinterData* printer) const;
    CVarkoPrinterData* FirstSelectedPrinter() const;
    void FitColumns();
    void SetCell(int row, int column, const CString& text);

    void OnPrinterDelete();
    void OnPrinterModify();
    void OnPrinterSetSerialNumber();
    void OnPrinterViewHeadHistory();
    void OnPrinterResetHeadOdometer();
    void OnPrinterOdometerHistory();
    bool IsOneBidirectionalSelected() const;
    template <class Print> void RunBatchPrint(Print print);
    void OnEditSelectAll();
    void OnViewRefresh();

    COdomiraDoc& m_doc;
    CMainFrame* m_pFrame = nullptr;
    QStandardItemModel* m_model;
    // The image list of the Windows version: one printer icon for every row.
    std::unique_ptr<QIcon> m_pImageList;
    bool m_bFilling = false;
    // Keeps the odometers each fill reads; see CHistoryRecorder.
    std::unique_ptr<CHistoryRecorder> m_pHistory;
};
