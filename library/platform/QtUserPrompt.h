#pragma once
// The user prompt of the windowed program: a QMessageBox on the GUI thread. Texts are
// always shown as plain text, never as rich text, because they carry printer names and
// device answers that come from the network.
//
// Threading: MessageBox may be called from any thread. On the GUI thread the box runs
// there; from any other thread the call is handed to the GUI thread and the calling
// thread waits there for the answer. A worker thread that prompts therefore needs the
// GUI thread to be serving its event loop.
#include "Export.h"
#include "UserPrompt.h"

class CQtUserPrompt : public IUserPrompt
{
public:
    int MessageBox(const CString& text, const CString& caption, UINT type) override;

    // The box itself, on the GUI thread.
    static int ShowOnGuiThread(const CString& text, const CString& caption, UINT type);
};

// Installs the Qt prompt for the whole process (after the QApplication exists).
// Returns the prompt that was installed before.
VARKO_EXPORT IUserPrompt* InstallQtUserPrompt();
