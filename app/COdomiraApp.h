#pragma once
// The application: sets up the settings, the document, the main window and its list,
// processes the command line, restores the window's last position, and handles the
// application's own commands (New, Open, About, Exit).
//
// Threading: user-interface thread only.
#include "CCmdTarget.h"
#include "CString.h"

#include <QPointer>
#include <QStringList>

#include <memory>

class CMainFrame;
class COdomiraDoc;
class CRecentFileList;

class COdomiraApp : public CCmdTarget
{
public:
    COdomiraApp();
    ~COdomiraApp() override;
    COdomiraApp(const COdomiraApp&) = delete;
    COdomiraApp& operator=(const COdomiraApp&) = delete;

    // The whole program: options that need no window (--help, --version), then the
    // window until it closes. Returns the exit status.
    static int Main(int argc, char** argv);

    // Start-up with the arguments after the program name (Qt's own options removed);
    // false when the program must end (another program holds the printers, or the main
    // window could not be made).
    bool InitInstance(const QStringList& arguments);
    // Saves the recent-file list and the settings; run once the window has closed.
    int ExitInstance();

    // New, then the framework's open of the file: every Open starts from a fresh list.
    bool OpenDocumentFile(const CString& path);
    // The framework's New: asks to save a modified list, then starts an empty one.
    bool OnFileNew();

    CMainFrame* GetMainFrame() const;
    COdomiraDoc* GetDocument() const { return m_pDocument.get(); }
    const CRecentFileList& GetRecentFiles() const { return *m_pRecentFiles; }

private:
    bool OpenFileInDocument(const CString& path);
    void OnFileOpen();
    void OnAppAbout();
    void OnAppExit();

    std::unique_ptr<CRecentFileList> m_pRecentFiles;
    std::unique_ptr<COdomiraDoc> m_pDocument;
    QPointer<CMainFrame> m_pMainWnd;
};
