#pragma once
// The modal-dialog seam. Every DoModal goes through the installed runner: the default
// one runs the dialog's own event loop (QDialog::exec() in the Qt dialogs), while the
// scripted runner below lets a test run the dialog's real initialisation and OK code,
// act as the user in between, and never enter a nested event loop.
//
// This header knows nothing of Qt; the dialogs implement IModalDialog on top of it.
//
// Threading: dialogs and runners are used on the user-interface thread only.
#include "Export.h"
#include "WinTypes.h"

#include <functional>
#include <memory>
#include <vector>

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

// Plays the user for tests. Each Expect() queues the script of the next dialog that
// opens (a dialog opened from within another one takes the next script in the queue).
// A script is a list of steps; each step may change controls and returns the button
// the user then presses: IDOK, IDCANCEL, or 0 for none. When a script runs out and the
// dialog is still open, the user closes it (Cancel). A dialog without a script is
// cancelled at once.
class VARKO_EXPORT CScriptedModalRunner : public IModalRunner
{
public:
    using Step = std::function<int(IModalDialog&)>;

    struct Record
    {
        UINT templateId;
        int result;
        // OK presses after which the dialog stayed open (a rejected OK).
        int rejectedOK;
    };

    CScriptedModalRunner();
    ~CScriptedModalRunner() override;
    CScriptedModalRunner(const CScriptedModalRunner&) = delete;
    CScriptedModalRunner& operator=(const CScriptedModalRunner&) = delete;

    void Expect(std::vector<Step> steps);
    void Expect(Step step) { Expect(std::vector<Step>{std::move(step)}); }
    // Scripts that no dialog has taken yet.
    int PendingScripts() const;

    int RunModal(IModalDialog& dialog) override;
    const std::vector<Record>& Records() const { return m_records; }

private:
    std::vector<std::vector<Step>> m_scripts;
    std::vector<Record> m_records;
    IModalRunner* m_previous;
};
