#include "ModalDialog.h"

#include <atomic>

namespace
{
class DefaultRunner : public IModalRunner
{
public:
    int RunModal(IModalDialog& dialog) override { return dialog.RunModalLoop(); }
};

DefaultRunner g_defaultRunner;
std::atomic<IModalRunner*> g_runner{nullptr};
} // namespace

IModalDialog::~IModalDialog() = default;
IModalRunner::~IModalRunner() = default;

IModalRunner* SetModalRunner(IModalRunner* runner)
{
    return g_runner.exchange(runner);
}

int RunModalDialog(IModalDialog& dialog)
{
    IModalRunner* r = g_runner.load();
    return (r ? r : &g_defaultRunner)->RunModal(dialog);
}

CScriptedModalRunner::CScriptedModalRunner()
{
    m_previous = SetModalRunner(this);
}

CScriptedModalRunner::~CScriptedModalRunner()
{
    SetModalRunner(m_previous);
}

void CScriptedModalRunner::Expect(std::vector<Step> steps)
{
    m_scripts.push_back(std::move(steps));
}

int CScriptedModalRunner::PendingScripts() const
{
    return static_cast<int>(m_scripts.size());
}

int CScriptedModalRunner::RunModal(IModalDialog& dialog)
{
    // Taken before the dialog runs: a dialog it opens takes the script after this one.
    std::vector<Step> script;
    if (!m_scripts.empty())
    {
        script = std::move(m_scripts.front());
        m_scripts.erase(m_scripts.begin());
    }

    Record record{dialog.GetTemplateId(), -1, 0};
    dialog.InitModal();
    if (dialog.GetModalResult() == -1)
    {
        dialog.ShowModeless(true);
        for (Step& step : script)
        {
            int press = step(dialog);
            if (press == IDOK)
            {
                dialog.OnOK();
                if (dialog.GetModalResult() == -1)
                    ++record.rejectedOK;
            }
            else if (press == IDCANCEL)
            {
                dialog.OnCancel();
            }
            if (dialog.GetModalResult() != -1)
                break;
        }
        if (dialog.GetModalResult() == -1)
            dialog.OnCancel();
        dialog.ShowModeless(false);
    }
    record.result = dialog.GetModalResult();
    m_records.push_back(record);
    return record.result;
}
