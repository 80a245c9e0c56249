#pragma once
// The test fake behind the modal-dialog seam.
#include "ModalDialog.h"

#include <functional>
#include <vector>

// Plays the user for tests. Each Expect() queues the script of the next dialog that
// opens (a dialog opened from within another one takes the next script in the queue).
// A script is a list of steps; each step may change controls and returns the button
// the user then presses: IDOK, IDCANCEL, or 0 for none. When a script runs out and the
// dialog is still open, the user closes it (Cancel). A dialog without a script is
// cancelled at once.
class CScriptedModalRunner : public IModalRunner
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
