#pragma once
// The printer list: one row per printer of the document's collection, showing its name,
// model and port as stored and its serial number and two odometers as the printer
// itself answers them each time the row is filled. It runs every command that works on
// the selected printers, shows the two context menus, and turns a double-click into
// Modify.
//
// Filling: the rows appear at once with what is stored; the printers are then asked by
// the fleet-query engine on threads of its own, several at a time, and each row's
// answers are written in as they arrive, so the window never waits on a printer. A fill
// can be stopped (Esc, or the status bar's Stop button); rows whose printers were not
// asked say so. A failed serial number question is reported once per printer when the
// fill ends, in the order the printers were asked.
//
// Threading contract: while a fill runs, its printers belong to the engine's threads, so
// nothing on the user-interface thread may call those records or delete them. Every
// operation that would (a command on the selected printers, any change of the
// collection, New, Open, closing the window) first calls StopFill, which stops the fill
// and waits, serving the event loop, until the printers being asked have answered. The
// rows keep record pointers only as identities; a pointer is looked up in the collection
// before it is used, so no row ever reaches a deleted printer.
//
// It is also the owner window the printers' worker threads post their notices to;
// posting to it after it is gone is a harmless no-op (see CWnd.h).
#include "CCmdTarget.h"
#include "COdomiraDoc.h"
#include "CVarkoPrinterData.h"
#include "CWnd.h"

#include <QTreeView>

#include <atomic>
#include <memory>
#include <vector>

class CFleetQuery;
class CHistoryRecorder;
class CMainFrame;
class CMapStringToOb;
class CPrinterListModel;
struct CPrinterAnswers;

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

    // True while printers are being asked (also while a stopped fill waits for the
    // printers it had already asked).
    bool IsFilling() const;
    // True while StopFill waits: no command may run meanwhile.
    bool IsStopping() const { return m_nStopping > 0; }
    // Asks no further printer; those being asked still answer. Returns at once.
    void CancelFill();
    // Stops the fill and waits, serving the event loop, until its printers are free.
    void StopFill();
    // Waits the same way for the fill to end by itself (every printer asked).
    void WaitForFill();

    int GetItemCount() const;
    int GetSelectedCount() const;
    // Selected rows, top down.
    std::vector<int> GetSelectedRows() const;
    // The row's printer; null for a row whose printer has left the collection.
    CVarkoPrinterData* GetPrinterAt(int row) const;
    CPrinterListModel* GetListModel() const { return m_model; }

signals:
    void commandStateChanged();
    // The status bar's text while a fill runs (empty when none runs), and whether it
    // can still be stopped.
    void fillProgress(const QString& text, bool stoppable);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;

private:
    void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    void StartFill(std::vector<CVarkoPrinterData*> printers);
    void RefreshRows(const std::vector<CVarkoPrinterData*>& printers);
    void TakeAnswers();
    void ApplyAnswers(const CPrinterAnswers& answers);
    void FinishFill();
    void ShowProgress();
    void WaitWhileBusy();

    bool IsInCollection(const CVarkoPrinterData* printer) const;
    CVarkoPrinterData* FirstSelectedPrinter() const;
    void FitColumns();

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
    CPrinterListModel* m_model;
    // The image list of the Windows version: one printer icon for every row.
    std::unique_ptr<QIcon> m_pImageList;

    std::unique_ptr<CFleetQuery> m_pFill;
    // The printers of the running fill, in the order they are asked, and what they
    // answered so far (indexed alike).
    std::vector<CVarkoPrinterData*> m_fillPrinters;
    std::vector<std::unique_ptr<CPrinterAnswers>> m_fillAnswers;
    bool m_bFillActive = false;
    bool m_bReportOnFinish = true;
    int m_nStopping = 0;
    // Set by an engine thread when answers wait, cleared when they are taken, so a
    // burst of answers costs one wake-up of the user-interface thread.
    std::shared_ptr<std::atomic<bool>> m_wakePending;
    EDisplayUnits m_fillUnits = eUnitsInches;
    // Keeps the odometers each fill reads; see CHistoryRecorder.
    std::unique_ptr<CHistoryRecorder> m_pHistory;
};
