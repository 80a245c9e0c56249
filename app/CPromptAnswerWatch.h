#pragma once
// Notes what the user answers to the questions the library asks, for as long as the
// object lives, while the prompt in use still shows and answers them. Reset Head
// Odometer returns alike whether the user said Yes or No; the window needs to know
// which, to note a confirmed reset in the odometer history.
//
// Threading: created and destroyed on the user-interface thread; only the answers
// given on that thread are noted.
#include "UserPrompt.h"

#include <thread>

class CPromptAnswerWatch : public IUserPrompt
{
public:
    CPromptAnswerWatch();
    ~CPromptAnswerWatch() override;
    CPromptAnswerWatch(const CPromptAnswerWatch&) = delete;
    CPromptAnswerWatch& operator=(const CPromptAnswerWatch&) = delete;

    int MessageBox(const CString& text, const CString& caption, UINT type) override;
    int MessageBoxWithDetails(const CString& text, const CString& caption, UINT type,
                              const CString& details) override;

    // The answer to the last Yes/No question since Forget; 0 when none was asked.
    int LastAnswer() const { return m_lastAnswer; }
    void Forget() { m_lastAnswer = 0; }

private:
    int Note(int answer, UINT type);

    IUserPrompt* m_forward;
    IUserPrompt* m_previous;
    std::thread::id m_thread;
    int m_lastAnswer = 0;
};
