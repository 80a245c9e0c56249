#include "COdomiraApp.h"

#include "AppStrings.h"
#include "CAboutDlg.h"
#include "CMainFrame.h"
#include "CModuleVersion.h"
#include "COdomiraDoc.h"
#include "COdomiraView.h"
#include "CRecentFileList.h"
#include "CSearchNetworkWidget.h"
#include "CSettingsApplication.h"
#include "FileNamePrompt.h"
#include "QtText.h"
#include "QtUserPrompt.h"
#include "Resource.h"
#include "StringTable.h"
#include "UserPrompt.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace
{
constexpr const char* kUsage =
    "Usage: odomira [OPTION]... [FILE]\n"
    "Keeps track of a fleet of label printers: their serial numbers and odometers.\n"
    "\n"
    "FILE is a printer settings file (.vps) to open; without it the list starts empty.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "  -v, --version  show the program's version and exit\n"
    "\n"
    "Qt's own options (such as -platform offscreen) are accepted as well.\n"
    "The manual opens from Help > Contents (F1) in the program.\n";

enum class EarlyAction
{
    none,
    help,
    version,
    badOption
};

// Options that need no window are answered before Qt starts, so they work without a
// display. "--" ends the options, for a file whose name starts with "-".
EarlyAction EarlyOption(int argc, char** argv, const char*& offending)
{
    for (int i = 1; i < argc; ++i)
    {
        const char* a = argv[i];
        if (std::strcmp(a, "--") == 0)
            break;
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0)
            return EarlyAction::help;
        if (std::strcmp(a, "-v") == 0 || std::strcmp(a, "--version") == 0)
            return EarlyAction::version;
        if (std::strncmp(a, "--", 2) == 0 && a[2] != '\0')
        {
            offending = a;
            return EarlyAction::badOption;
        }
    }
    return EarlyAction::none;
}
} // namespace

COdomiraApp::COdomiraApp() : m_pRecentFiles(std::make_unique<CRecentFileList>(4))
{
    OnCommand(ID_FILE_NEW, [this] { OnFileNew(); });
    OnCommand(ID_FILE_OPEN, [this] { OnFileOpen(); });
    OnCommand(ID_APP_ABOUT, [this] { OnAppAbout(); });
    OnCommand(ID_APP_EXIT, [this] { OnAppExit(); });
}

COdomiraApp::~COdomiraApp()
{
    // The printers go before the window that they name as their owner.
    if (m_pDocument)
        m_pDocument->OnCloseDocument();
    if (m_pDocument)
        m_pDocument->AddView(nullptr);
    delete m_pMainWnd.data();
    m_pDocument.reset();
}

int COdomiraApp::Main(int argc, char** argv)
{
    const char* offending = nullptr;
    switch (EarlyOption(argc, argv, offending))
    {
    case EarlyAction::help:
        std::fputs(kUsage, stdout);
        return 0;
    case EarlyAction::version:
    {
        // Numbered as the package and the manual pages number the release; the About box
        // keeps the short form.
        const CString version = CModuleVersion::OwnReleaseVersionText();
        std::printf("odomira %s\n", version.IsEmpty() ? "(unknown version)" : version.GetString());
        return 0;
    }
    case EarlyAction::badOption:
        std::fprintf(stderr, "odomira: unknown option %s\nTry 'odomira --help'.\n", offending);
        return 2;
    case EarlyAction::none:
        break;
    }

    QApplication qapp(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Odomira"));
    QApplication::setApplicationVersion(ToQString(CModuleVersion::OwnVersionText()));
    QApplication::setDesktopFileName(QStringLiteral("odomira"));
    InstallQtUserPrompt();
    InstallQtSearchDialogHost();

    QStringList arguments = qapp.arguments().mid(1);
    arguments.removeAll(QStringLiteral("--"));
    if (arguments.size() > 1)
    {
        std::fprintf(stderr, "odomira: only one file can be opened at a time\n"
                             "Try 'odomira --help'.\n");
        return 2;
    }

    int status = 1;
    {
        COdomiraApp app;
        if (app.InitInstance(arguments))
            status = qapp.exec();
        app.ExitInstance();
    }
    return status;
}

bool COdomiraApp::InitInstance(const QStringList& arguments)
{
    RegisterAppStrings();
    AfxSetAppTitle(LoadStringById(AFX_IDS_APP_TITLE));
    m_pRecentFiles->ReadList();

    m_pDocument = std::make_unique<COdomiraDoc>(m_pRecentFiles.get());
    m_pMainWnd = new CMainFrame(*m_pDocument, *this);
    if (!m_pMainWnd->Create())
        return false;

    if (arguments.isEmpty())
    {
        if (!OnFileNew())
            return false;
    }
    else if (!OpenDocumentFile(FromQString(arguments.front())) && !m_pDocument->HoldsInstanceLock())
    {
        // While another program holds the printers this one cannot run. A file that
        // could not be read leaves the program open with an empty list instead.
        return false;
    }

    m_pMainWnd->RestoreWindowPlacement(GetApplicationSettings().m_windowPlacement);
    m_pMainWnd->UpdateCommandUI();
    return true;
}

int COdomiraApp::ExitInstance()
{
    m_pRecentFiles->WriteList();
    ReleaseApplicationSettings();
    return 0;
}

bool COdomiraApp::OnFileNew()
{
    if (!m_pDocument->SaveModified())
        return false;
    m_pDocument->SetDefaultTitle();
    if (!m_pDocument->OnNewDocument())
        return false;
    m_pMainWnd->GetActiveView()->OnInitialUpdate();
    return true;
}

bool COdomiraApp::OpenDocumentFile(const CString& path)
{
    OnFileNew();
    return OpenFileInDocument(path);
}

bool COdomiraApp::OpenFileInDocument(const CString& path)
{
    if (!m_pDocument->SaveModified())
        return false;
    if (!m_pDocument->OnOpenDocument(path))
    {
        // The old list went with the collection the open replaced.
        m_pDocument->SetDefaultTitle();
        m_pDocument->SetModifiedFlag(false);
        return false;
    }
    m_pDocument->SetPathName(path);
    m_pMainWnd->GetActiveView()->OnInitialUpdate();
    return true;
}

void COdomiraApp::OnFileOpen()
{
    CString path;
    if (PromptForFileName(m_pMainWnd, true, path))
        OpenDocumentFile(path);
}

void COdomiraApp::OnAppAbout()
{
    CAboutDlg dlg;
    dlg.DoModal();
}

void COdomiraApp::OnAppExit()
{
    if (m_pMainWnd)
        m_pMainWnd->close();
}

CMainFrame* COdomiraApp::GetMainFrame() const
{
    return m_pMainWnd.data();
}
