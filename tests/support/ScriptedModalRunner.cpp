#include "ScriptedModalRunner.h"

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
