#pragma once
// The printer list: one row per printer of the document's collection, showing its name,
// model and port as stored and its serial number and two odometers as the printer
// itself answers them each time the row is filled.
//
// Filling: the rows appear at once with what is stored; the document's fill
// (CFillController) then asks the printers on threads of its own, and the view writes
// each row's answers in as they arrive, so the window never waits on a printer. Rows
// whose printers a stopped fill never reached say so. The commands that work on the
// selected printers are CPrinterCommands'; the view offers the selection they capture.
// A double-click and the context menu are passed on to the main window, whose routing
// and enabling rules they follow.
//
// The rows keep record pointers only as identities; a pointer is looked up in the
// collection before it is used, so no row ever reaches a deleted printer.
//
// It is also the owner window the printers' worker threads post their notices to;
// posting to it after it is gone is a harmless no-op (see CWnd.h).
//
// Threading: user-interface thread only.
#include "CCmdTarget.h"
#include "COdomiraDoc.h"
#include "CVarkoPrinterData.h"

#include <QTreeView>

#include <memory>
#include <vector>

class CMapStringToOb;
class CPrinterListModel;
struct CPrinterAnswers;

class COdomiraView : public QTreeView, public CCmdTarget, public CDocumentView
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

    // After every New and Open.
    void OnInitialUpdate();
    void OnUpdate(CDocumentView* sender, long hint,
                  std::unique_ptr<COdomiraDoc::CPrinterHintObject> hintObject) override;
    QWidget* DialogParent() override { return this; }

    // Rebuilds every row and asks every printer again.
    void FillList();
    // Asks one printer again for its row.
    void UpdatePrinterRow(CVarkoPrinterData* printer);
    void UpdateUnitHeaders();
    static CString ColumnHeading(int column);
    static EDisplayUnits GetDisplayUnits();
    // The selected printers by name, rows visited from the top; a repeated name keeps
    // the lower row.
    void BuildSelectionMap(CMapStringToOb& map) const;
    // The selected printers, top down; rows whose printer has gone are left out.
    std::vector<CVarkoPrinterData*> SelectedPrinters() const;
    CVarkoPrinterData* FirstSelectedPrinter() const;

    // True while the printers are being asked, or a command or a step of the document
    // waits for them.
    bool IsFilling() const;

    int GetItemCount() const;
    int GetSelectedCount() const;
    // Selected rows, top down.
    std::vector<int> GetSelectedRows() const;
    // The row's printer; null for a row whose printer has left the collection.
    CVarkoPrinterData* GetPrinterAt(int row) const;
    CPrinterListModel* GetListModel() const { return m_model; }

signals:
    void commandStateChanged();
    // A context menu (resource 131 or 132) at a screen position, `defaultId` in bold.
    void contextMenuRequested(UINT resourceId, const QPoint& globalPos, UINT defaultId);
    // A double-click: Modify for the first selected row.
    void modifyRequested();

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Asks the printers again; the rows show what is stored meanwhile.
    void AskPrinters(std::vector<CVarkoPrinterData*> printers);
    void RefreshRows(const std::vector<CVarkoPrinterData*>& printers);
    void ApplyAnswers(const std::vector<CPrinterAnswers>& answers);
    void MarkNotAsked(const std::vector<CVarkoPrinterData*>& printers);
    void FitColumns();

    void OnEditSelectAll();
    void OnViewRefresh();

    COdomiraDoc& m_doc;
    CPrinterListModel* m_model;
    // The image list of the Windows version: one printer icon for every row.
    std::unique_ptr<QIcon> m_pImageList;
};
