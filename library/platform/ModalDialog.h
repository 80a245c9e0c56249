#pragma once
// The modal-dialog seam. Every DoModal goes through the installed runner: the default
// one runs the dialog's own event loop (QDialog::exec() in the Qt dialogs), while a test
// installs a runner of its own that runs the dialog's real initialisation and OK code,
// acts as the user in between, and never enters a nested event loop.
//
// This header knows nothing of Qt; the dialogs implement IModalDialog on top of it.
//
// Threading: dialogs and runners are used on the user-interface thread only.
#include "Export.h"
#include "WinTypes.h"

class VARKO_EXPORT IModalDialog
{
public:
    virtual ~IModalDialog();

    // The dialog template number (3000, 3001, ...), so a script can tell dialogs apart.
    virtual UINT GetTemplateId() const = 0;
    // What the platform does before the user sees the dialog: clear the result, run
    // OnInitDialog and give the first control the focus when it asks for that.
    virtual void InitModal() = 0;
    // The handlers of the OK and Cancel buttons. Either may leave the dialog open.
    virtual void OnOK() = 0;
    virtual void OnCancel() = 0;
    // IDOK, IDCANCEL, ... once the dialog has ended; -1 while it is still open.
    virtual int GetModalResult() const = 0;
    // Initialises the dialog and runs the platform's modal loop until it ends.
    virtual int RunModalLoop() = 0;
    // Shows or hides the dialog without a modal loop (used by scripted runs).
    virtual void ShowModeless(bool show) = 0;
};

class VARKO_EXPORT IModalRunner
{
public:
    virtual ~IModalRunner();
    virtual int RunModal(IModalDialog& dialog) = 0;
};

// Installs the runner used from now on (null restores the default, which runs the
// dialog's own modal loop). Returns the previous one; the caller keeps ownership.
VARKO_EXPORT IModalRunner* SetModalRunner(IModalRunner* runner);
VARKO_EXPORT int RunModalDialog(IModalDialog& dialog);
