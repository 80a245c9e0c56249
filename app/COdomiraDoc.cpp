#include "COdomiraDoc.h"

#include "CArchive.h"
#include "CFillController.h"
#include "COptionsDlg.h"
#include "CRecentFileList.h"
#include "CVarkoPrinterException.h"
#include "CVarkoPrinters.h"
#include "CWaitCursor.h"
#include "FileNamePrompt.h"
#include "Resource.h"
#include "StringTable.h"
#include "UserPrompt.h"

#include <filesystem>
#include <new>
#include <vector>

namespace
{
// The framework's message for a file that could not be read or written: the file's
// name and the reason, never an exception escaping to the event loop.
void ReportFileFailure(UINT messageId, const CString& path, const CString& reason)
{
    CString text;
    text.Format(LoadStringById(messageId).GetString(), path.GetString(), reason.GetString());
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

CString DisplayName(const CString& path)
{
    return CString(std::filesystem::path(path.str()).filename().string());
}
} // namespace

COdomiraDoc::COdomiraDoc(CRecentFileList* recentFiles)
    : m_pFill(std::make_unique<CFillController>()), m_pRecentFiles(recentFiles)
{
    OnCommand(ID_PRINTER_ADD, [this] { OnPrinterAdd(); });
    OnCommand(ID_PRINTER_AUTODETECT, [this] { OnPrinterAutodetect(); });
    OnCommand(ID_TOOLS_OPTIONS, [this] { OnToolsOptions(); });
    OnCommand(
        ID_FILE_SAVE, [this] { DoFileSave(); }, [this](CCmdUI& s) { OnUpdateFileSave(s); });
    OnCommand(ID_FILE_SAVE_AS, [this] { DoSave(CString()); });
}

COdomiraDoc::~COdomiraDoc()
{
    // The fill's threads use the records: they end before the collection goes.
    m_pFill.reset();
}

CWnd* COdomiraDoc::GetFirstView() const
{
    return m_pView;
}

bool COdomiraDoc::HoldsPrinter(const CVarkoPrinterData* printer) const
{
    if (!printer || !m_pPrinters)
        return false;
    for (POSITION pos = m_pPrinters->GetFirstPrinter(); pos;)
        if (m_pPrinters->GetNextPrinter(pos) == printer)
            return true;
    return false;
}

bool COdomiraDoc::CreatePrinters()
{
    // The list's fill asks printers on threads of its own; they must be done with the
    // records before the collection goes.
    CFillController::CWait wait(*m_pFill, true);
    // The old collection goes first: it holds the instance lock the new one must take.
    m_pPrinters.reset();
    ++m_nGeneration;
    m_pPrinters = std::make_unique<CVarkoPrinters>();
    m_bHoldsInstanceLock = !m_pPrinters->IsAlreadyRunning();
    if (m_bHoldsInstanceLock)
        return true;
    AfxMessageBox(IDS_ALREADY_RUNNING, MB_OK | MB_ICONEXCLAMATION);
    return false;
}

void COdomiraDoc::SetDefaultTitle()
{
    m_strPathName.Empty();
    SetTitle(LoadStringById(AFX_IDS_UNTITLED));
}

bool COdomiraDoc::OnNewDocument()
{
    // Held to the end, so a box shown on the way cannot let a close in between.
    CFillController::CWait wait(*m_pFill, true);
    m_strPathName.Empty();
    SetModifiedFlag(false);
    if (CreatePrinters())
        return true;
    // The collection has been replaced by an empty one; the rows must not keep pointers
    // to the printers that went with the old one.
    UpdateAllViews(nullptr, HINT_REFRESH_ALL);
    return false;
}

bool COdomiraDoc::OnOpenDocument(const CString& path)
{
    CFillController::CWait wait(*m_pFill, true);
    // While another program holds the printers, the file is not opened: the message
    // asks the user to close that program first.
    if (!CreatePrinters())
    {
        UpdateAllViews(nullptr, HINT_REFRESH_ALL);
        return false;
    }
    if (!ReadFile(path))
    {
        DeleteContents();
        UpdateAllViews(nullptr, HINT_REFRESH_ALL);
        return false;
    }
    SetModifiedFlag(false);
    return true;
}

bool COdomiraDoc::ReadFile(const CString& path)
{
    CWaitCursor wait;
    try
    {
        CArchive ar(ReadWholeFile(path), path);
        Serialize(ar);
        return true;
    }
    catch (const CException& e)
    {
        ReportFileFailure(AFX_IDP_FAILED_TO_OPEN_DOC, path, e.GetReportText());
    }
    catch (const std::bad_alloc&)
    {
        ReportFileFailure(AFX_IDP_FAILED_TO_OPEN_DOC, path, AfxNoErrorMessageText());
    }
    return false;
}

bool COdomiraDoc::OnSaveDocument(const CString& path)
{
    // Saving reads every record; the fill may go on to its end first. The list may
    // have gone while it did (a close that could not wait is not carried out in the
    // wait, but the check costs nothing).
    CFillController::CWait wait(*m_pFill, false);
    if (!m_pPrinters)
        return false;
    bool saved = false;
    {
        CWaitCursor wait;
        try
        {
            CArchive ar(CArchive::store, path);
            Serialize(ar);
            WriteFileAtomically(path, ar.Buffer());
            SetModifiedFlag(false);
            saved = true;
        }
        catch (const CException& e)
        {
            ReportFileFailure(AFX_IDP_FAILED_TO_SAVE_DOC, path, e.GetReportText());
        }
        catch (const std::bad_alloc&)
        {
            ReportFileFailure(AFX_IDP_FAILED_TO_SAVE_DOC, path, AfxNoErrorMessageText());
        }
    }
    // After a failed save the list keeps its own flag: the document's may never have
    // been set (it follows the collection only when the question is asked), and
    // clearing the collection's would let the unsaved changes go without a question.
    if (m_pPrinters && saved)
        m_pPrinters->SetModified(m_bModified ? TRUE : FALSE);
    return saved;
}

void COdomiraDoc::OnCloseDocument()
{
    CFillController::CWait wait(*m_pFill, true);
    m_pPrinters.reset();
    ++m_nGeneration;
    m_bHoldsInstanceLock = false;
    UpdateAllViews(nullptr, HINT_REFRESH_ALL);
}

bool COdomiraDoc::SaveModified()
{
    if (m_pPrinters)
        SetModifiedFlag(m_pPrinters->IsModified() != FALSE);
    if (!IsModified())
        return true;
    const CString name = m_strPathName.IsEmpty() ? m_strTitle : DisplayName(m_strPathName);
    CString question;
    question.Format(LoadStringById(AFX_IDP_ASK_TO_SAVE).GetString(), name.GetString());
    switch (AfxMessageBox(question, MB_YESNOCANCEL | MB_ICONEXCLAMATION))
    {
    case IDCANCEL:
        return false;
    case IDYES:
        return DoFileSave();
    default:
        return true;
    }
}

void COdomiraDoc::Serialize(CArchive& ar)
{
    m_pPrinters->Serialize(ar, m_pView);
}

bool COdomiraDoc::DoSave(const CString& path, bool replace)
{
    CString name = path;
    if (name.IsEmpty())
    {
        name = m_strPathName;
        if (name.IsEmpty())
            name = m_strTitle;
        if (!PromptForFileName(m_pView ? m_pView->DialogParent() : nullptr, false, name))
            return false;
    }
    if (!OnSaveDocument(name))
        return false;
    if (replace)
        SetPathName(name);
    return true;
}

bool COdomiraDoc::DoFileSave()
{
    if (m_strPathName.IsEmpty())
        return DoSave(CString());
    return DoSave(m_strPathName);
}

void COdomiraDoc::SetPathName(const CString& path, bool addToRecentFiles)
{
    std::error_code ec;
    const auto full = std::filesystem::absolute(path.str(), ec);
    m_strPathName = ec ? path : CString(full.lexically_normal().string());
    SetTitle(DisplayName(m_strPathName));
    if (addToRecentFiles && m_pRecentFiles)
        m_pRecentFiles->Add(m_strPathName);
}

void COdomiraDoc::SetTitle(const CString& title)
{
    m_strTitle = title;
    if (m_titleListener)
        m_titleListener();
}

void COdomiraDoc::DeleteContents()
{
    CFillController::CWait wait(*m_pFill, true);
    if (!m_pPrinters)
        return;
    std::vector<CVarkoPrinterData*> printers;
    for (POSITION pos = m_pPrinters->GetFirstPrinter(); pos;)
        printers.push_back(m_pPrinters->GetNextPrinter(pos));
    for (CVarkoPrinterData* printer : printers)
    {
        try
        {
            m_pPrinters->DeletePrinter(printer);
        }
        catch (const CException&)
        {
            // Nothing to tell the user: the printer goes with the collection at the
            // next New or Open at the latest.
        }
    }
    m_pPrinters->SetModified(FALSE);
}

void COdomiraDoc::UpdateAllViews(CDocumentView* sender, long hint,
                                 std::unique_ptr<CPrinterHintObject> hintObject)
{
    if (m_pView && m_pView != sender)
        m_pView->OnUpdate(sender, hint, std::move(hintObject));
}

void COdomiraDoc::OnPrinterAdd()
{
    m_pFill->RunWhenFree(
        [this]
        {
            if (m_pPrinters)
            {
                try
                {
                    m_pPrinters->AddPrinter(m_pView, eConfigHideCalibration);
                }
                catch (const CVarkoPrinterException& e)
                {
                    e.ReportError();
                }
            }
            UpdateAllViews(nullptr, HINT_REFRESH_ALL);
        });
}

void COdomiraDoc::OnPrinterAutodetect()
{
    m_pFill->RunWhenFree(
        [this]
        {
            if (m_pPrinters)
            {
                try
                {
                    m_pPrinters->AutoDetectPrinters(m_pView);
                }
                catch (const CVarkoPrinterException& e)
                {
                    e.ReportError();
                }
            }
            UpdateAllViews(nullptr, HINT_REFRESH_ALL);
        });
}

void COdomiraDoc::OnToolsOptions()
{
    // The rebuild that OK asks for needs the printers, so the dialog waits for them too.
    m_pFill->RunWhenFree(
        [this]
        {
            COptionsDlg dlg;
            if (dlg.DoModal() == IDOK)
                UpdateAllViews(nullptr, HINT_UNITS);
        });
}

void COdomiraDoc::OnUpdateFileSave(CCmdUI& state)
{
    state.Enable(m_pPrinters && m_pPrinters->GetPrinterCount() > 0);
}
