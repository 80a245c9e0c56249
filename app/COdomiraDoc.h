#pragma once
// The printer document: owns the printer collection that holds the current list, binds
// it to a printer settings file, decides when the user is asked to save, and tells the
// list view what changed through update hints. One document serves the program's whole
// life; every New and Open puts a fresh collection in place of the old one.
//
// The modified flag lives in two places: the collection's (the library sets it whenever
// it adds, changes or deletes a printer) and the document's (cleared by New, Open and a
// successful save). The save-changes question copies the collection's flag into the
// document first, and a save copies the document's back, so the question follows what
// the library did.
//
// The document also owns the list's fill (CFillController): every step here that
// changes, saves or deletes the printers first waits for it.
//
// Threading: user-interface thread only; every library call blocks it.
#include "CCmdTarget.h"
#include "CObject.h"
#include "CString.h"
#include "CWnd.h"

#include <functional>
#include <memory>

class CArchive;
class CDocumentView;
class CFillController;
class CMapStringToOb;
class CVarkoPrinterData;
class CVarkoPrinters;
class CRecentFileList;
class QWidget;

class COdomiraDoc : public CCmdTarget
{
public:
    // What changed, for the views. Neither field owns what it points to: the printer
    // belongs to the collection, the map to the command that sends the hint, and both
    // are valid only while the update runs.
    class CPrinterHintObject : public CObject
    {
    public:
        CVarkoPrinterData* m_pPrinter = nullptr;
        const CMapStringToOb* m_pPrinterMap = nullptr;
    };

    enum : long
    {
        HINT_REFRESH_ALL = 0,
        HINT_PRINTER = 1,
        HINT_PRINTER_MAP = 2,
        HINT_UNITS = 4
    };

    explicit COdomiraDoc(CRecentFileList* recentFiles = nullptr);
    ~COdomiraDoc() override;
    COdomiraDoc(const COdomiraDoc&) = delete;
    COdomiraDoc& operator=(const COdomiraDoc&) = delete;

    void AddView(CDocumentView* view) { m_pView = view; }
    // The owner window of the printers' dialogs and notices.
    CWnd* GetFirstView() const;
    CFillController& Fill() const { return *m_pFill; }
    // Changes with every collection that takes the place of another (New, Open, close),
    // so a command that waited for the printers can tell whether its records still
    // exist.
    unsigned long Generation() const { return m_nGeneration; }
    // True when `printer` is one of the current collection's records.
    bool HoldsPrinter(const CVarkoPrinterData* printer) const;
    // Called whenever the title changes, so the main window can retitle itself.
    void SetTitleListener(std::function<void()> listener) { m_titleListener = std::move(listener); }

    // The framework's document steps.
    virtual bool OnNewDocument();
    virtual bool OnOpenDocument(const CString& path);
    virtual bool OnSaveDocument(const CString& path);
    virtual void OnCloseDocument();
    // Asks whether to save a modified list; false when the user cancelled (or the save
    // failed), so the New, Open or exit must not go on.
    virtual bool SaveModified();
    void Serialize(CArchive& ar);

    // Save with a file name asked for when `path` is empty; `replace` makes the saved
    // file the document's file.
    bool DoSave(const CString& path, bool replace = true);
    bool DoFileSave();
    // The framework's reset before a New: path, title and modified flag.
    void SetDefaultTitle();

    CVarkoPrinters* GetPrinters() const { return m_pPrinters.get(); }
    // False after the instance check failed for the current collection.
    bool HoldsInstanceLock() const { return m_bHoldsInstanceLock; }
    const CString& GetPathName() const { return m_strPathName; }
    void SetPathName(const CString& path, bool addToRecentFiles = true);
    const CString& GetTitle() const { return m_strTitle; }
    void SetTitle(const CString& title);
    bool IsModified() const { return m_bModified; }
    void SetModifiedFlag(bool modified = true) { m_bModified = modified; }

    void UpdateAllViews(CDocumentView* sender, long hint,
                        std::unique_ptr<CPrinterHintObject> hintObject = nullptr);

private:
    bool CreatePrinters();
    // Removes every printer but keeps the collection and its instance lock.
    void DeleteContents();
    bool ReadFile(const CString& path);

    void OnPrinterAdd();
    void OnPrinterAutodetect();
    void OnToolsOptions();
    void OnUpdateFileSave(CCmdUI& state);

    std::unique_ptr<CFillController> m_pFill;
    std::unique_ptr<CVarkoPrinters> m_pPrinters;
    unsigned long m_nGeneration = 0;
    bool m_bHoldsInstanceLock = false;
    CDocumentView* m_pView = nullptr;
    CRecentFileList* m_pRecentFiles;
    std::function<void()> m_titleListener;
    CString m_strPathName;
    CString m_strTitle;
    bool m_bModified = false;
};

// What the document needs of a view: an owner window for the printers, and the updates.
class CDocumentView : public CWnd
{
public:
    // The parent of the file dialogs the document asks for a name with.
    virtual QWidget* DialogParent() = 0;
    virtual void OnUpdate(CDocumentView* sender, long hint,
                          std::unique_ptr<COdomiraDoc::CPrinterHintObject> hintObject) = 0;
};
