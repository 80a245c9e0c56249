#pragma once
// The user prompt of the windowed program: a QMessageBox on the GUI thread. Texts are
// always shown as plain text, never as rich text, because they carry printer names and
// device answers that come from the network.
//
// Threading: MessageBox may be called from any thread. On the GUI thread the box runs
// there; from any other thread the call is handed to the GUI thread and the calling
// thread waits for the answer. A worker thread that prompts therefore needs the GUI
// thread to be serving its event loop, unless the worker's cancel event is set
// (CThreadCancelScope): then the wait ends, the box is withdrawn if it has not been
// shown yet, and the answer is the one for a box closed without a button.
#include "Export.h"
#include "UserPrompt.h"

class CQtUserPrompt : public IUserPrompt
{
public:
    int MessageBox(const CString& text, const CString& caption, UINT type) override;
    int MessageBoxWithDetails(const CString& text, const CString& caption, UINT type,
                              const CString& details) override;

    // The box itself, on the GUI thread. A box that names no icon gets the one the
    // Windows framework gave it: the exclamation mark for OK and OK/Cancel, the
    // question mark for Yes/No and Yes/No/Cancel.
    static int ShowOnGuiThread(const CString& text, const CString& caption, UINT type,
                               const CString& details = CString());
};

// Installs the Qt prompt for the whole process (after the QApplication exists).
// Returns the prompt that was installed before.
VARKO_EXPORT IUserPrompt* InstallQtUserPrompt();
