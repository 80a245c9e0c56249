#pragma once
// Answers every message box from a script and records what was asked, so tests can
// assert the exact texts, captions and buttons. Installed for its lifetime.
#include "UserPrompt.h"

#include <deque>
#include <mutex>
#include <vector>

struct PromptRecord
{
    CString text;
    CString caption;
    UINT type;
    CString details;
};

class ScriptedPrompt : public IUserPrompt
{
public:
    ScriptedPrompt() { m_previous = SetUserPrompt(this); }
    ~ScriptedPrompt() override { SetUserPrompt(m_previous); }

    // Queues the answer to the next prompt; without a queued answer a prompt gets IDOK
    // for OK boxes and IDNO for questions.
    void Answer(int result)
    {
        std::lock_guard g(m_lock);
        m_answers.push_back(result);
    }

    int MessageBox(const CString& text, const CString& caption, UINT type) override
    {
        std::lock_guard g(m_lock);
        m_records.push_back({text, caption, type, CString()});
        if (!m_answers.empty())
        {
            int a = m_answers.front();
            m_answers.pop_front();
            return a;
        }
        UINT kind = type & MB_TYPEMASK;
        return (kind == MB_YESNO || kind == MB_YESNOCANCEL) ? IDNO : IDOK;
    }

    int MessageBoxWithDetails(const CString& text, const CString& caption, UINT type,
                              const CString& details) override
    {
        const int answer = MessageBox(text, caption, type);
        std::lock_guard g(m_lock);
        m_records.back().details = details;
        return answer;
    }

    std::vector<PromptRecord> Records() const
    {
        std::lock_guard g(m_lock);
        return m_records;
    }
    std::vector<CString> Texts() const
    {
        std::lock_guard g(m_lock);
        std::vector<CString> t;
        for (const auto& r : m_records)
            t.push_back(r.text);
        return t;
    }
    void Clear()
    {
        std::lock_guard g(m_lock);
        m_records.clear();
    }

private:
    mutable std::mutex m_lock;
    std::deque<int> m_answers;
    std::vector<PromptRecord> m_records;
    IUserPrompt* m_previous = nullptr;
};
