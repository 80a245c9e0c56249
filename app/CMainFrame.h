#pragma once
// The main window: menu bar, toolbar, status bar and the printer list as its client. It
// builds every menu, button and key from the command table and routes each command to
// the view, the printer commands, the document, itself and the application, in that
// order, after asking the same route whether the command is enabled: a disabled command
// never runs, whatever raised it (menu, toolbar, context menu or key).
//
// Threading: user-interface thread only.
#include "CCmdTarget.h"
#include "CSettingsApplication.h"

#include <QMainWindow>

#include <map>
#include <memory>

class COdomiraDoc;
class COdomiraView;
class CPrinterCommands;
class QLabel;
class QMenu;
class QToolBar;
class QToolButton;
struct MenuItem;

class CMainFrame : public QMainWindow, public CCmdTarget
{
    Q_OBJECT
public:
    CMainFrame(COdomiraDoc& doc, CCmdTarget& app);
    ~CMainFrame() override;

    // Toolbar, status bar, menus, keys and the view; false when a bar could not be made.
    bool Create();

    COdomiraView* GetActiveView() const { return m_pView; }
    COdomiraDoc& GetDocument() const { return m_doc; }

    // True while a command or a step of the document waits for the printers: then no
    // command is enabled, whatever raised it.
    bool IsBusy() const;
    // Runs the command if the route says it is enabled; false when it did not run.
    bool ExecuteCommand(UINT id);
    // What the route says of a command; a command that no target handles is disabled.
    bool IsCommandEnabled(UINT id, int* check = nullptr);
    // Brings every action (menus, toolbar) up to date with the enabling functions.
    void UpdateCommandUI();
    QAction* CommandAction(UINT id) const;

    // Shows a context menu (resource 131 or 132) at a screen position; its items run
    // through this window's routing. `defaultId` is drawn in bold.
    void TrackPopupMenu(UINT resourceId, const QPoint& globalPos, UINT defaultId);

    void OnUpdateFrameTitle();
    WINDOWPLACEMENT GetWindowPlacement() const;
    // Shows the window at a stored placement: normal or maximized, never minimized, and
    // only where the normal rectangle meets the primary screen; otherwise maximized.
    void RestoreWindowPlacement(const WINDOWPLACEMENT& placement);

    // Where the manual is looked for, first match wins.
    static QStringList ManualLocations();
    // Opens the manual in the desktop's browser, or says where it was looked for.
    void OnHelpContents();

    // The status bar's key indicators, as currently shown ("CAP" or "").
    QString IndicatorText(UINT id) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void CreateActions();
    bool CreateToolBar();
    bool CreateStatusBar();
    void CreateMenus();
    void CreateAccelerators();
    void FillMenu(QMenu* menu, const MenuItem& item, bool ownActions);
    void UpdateIndicators();
    void OnFillProgress(const QString& text, bool stoppable);

    COdomiraDoc& m_doc;
    CCmdTarget& m_app;
    COdomiraView* m_pView = nullptr;
    std::unique_ptr<CPrinterCommands> m_pCommands;
    QToolBar* m_wndToolBar = nullptr;
    QLabel* m_idle = nullptr;
    QToolButton* m_stopFill = nullptr;
    std::map<UINT, QAction*> m_actions;
    std::map<UINT, QLabel*> m_indicators;
    bool m_bUpdatePending = false;
    bool m_bCloseAfterWait = false;
};
