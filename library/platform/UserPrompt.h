#pragma once
// The one seam through which the library and the programs talk to the user: message
// boxes from any thread. The windowed program installs a Qt implementation, the
// command-line tool a console one, tests a scripted one that records every prompt.
#include "CString.h"
#include "Export.h"
#include "WinTypes.h"

class VARKO_EXPORT IUserPrompt
{
public:
    virtual ~IUserPrompt();
    // type carries MB_* button and icon flags; the result is IDOK, IDYES, IDNO, ...
    // May be called from any thread; blocks that thread until the user answers.
    virtual int MessageBox(const CString& text, const CString& caption, UINT type) = 0;
    // The same with a longer text the user can open (a list of printers, say); a prompt
    // that has no such place shows the text alone.
    virtual int MessageBoxWithDetails(const CString& text, const CString& caption, UINT type,
                                      const CString& details);
};

// Installs the implementation used from now on (null restores the default, which
// writes to standard error and answers OK or No). Returns the previous one. The
// caller keeps ownership.
VARKO_EXPORT IUserPrompt* SetUserPrompt(IUserPrompt* prompt);
VARKO_EXPORT IUserPrompt* GetUserPrompt();

// The caption every box of the process carries (the application's title).
VARKO_EXPORT void AfxSetAppTitle(const CString& title);
VARKO_EXPORT CString AfxGetAppTitle();

VARKO_EXPORT int AfxMessageBox(const CString& text, UINT type = MB_OK);
VARKO_EXPORT int AfxMessageBox(UINT stringId, UINT type = MB_OK);
VARKO_EXPORT int AfxMessageBox(const CString& text, UINT type, const CString& details);
// A box raised by a worker thread without an owner window (MessageBoxA(NULL, ...)).
VARKO_EXPORT int WorkerMessageBox(const CString& text, const CString& caption, UINT type);
