#include "CPromptAnswerWatch.h"

CPromptAnswerWatch::CPromptAnswerWatch()
    : m_forward(GetUserPrompt()), m_thread(std::this_thread::get_id())
{
    m_previous = SetUserPrompt(this);
}

CPromptAnswerWatch::~CPromptAnswerWatch()
{
    SetUserPrompt(m_previous);
}

int CPromptAnswerWatch::MessageBoxWithDetails(const CString& text, const CString& caption,
                                              UINT type, const CString& details)
{
    return Note(m_forward->MessageBoxWithDetails(text, caption, type, details), type);
}

int CPromptAnswerWatch::MessageBox(const CString& text, const CString& caption, UINT type)
{
    return Note(m_forward->MessageBox(text, caption, type), type);
}

int CPromptAnswerWatch::Note(int answer, UINT type)
{
    const UINT buttons = type & MB_TYPEMASK;
    if (std::this_thread::get_id() == m_thread &&
        (buttons == MB_YESNO || buttons == MB_YESNOCANCEL))
        m_lastAnswer = answer;
    return answer;
}
