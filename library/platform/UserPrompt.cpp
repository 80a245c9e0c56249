#include "UserPrompt.h"

#include "StringTable.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace
{
class DefaultPrompt : public IUserPrompt
{
public:
    int MessageBox(const CString& text, const CString& caption, UINT type) override
    {
        std::fprintf(stderr, "%s: %s\n", caption.GetString(), text.GetString());
        switch (type & MB_TYPEMASK)
        {
        case MB_YESNO:
        case MB_YESNOCANCEL:
            return IDNO;
        default:
            return IDOK;
        }
    }
};

DefaultPrompt g_default;
std::atomic<IUserPrompt*> g_prompt{nullptr};
std::mutex g_titleLock;
CString g_title("Odomira");
} // namespace

IUserPrompt::~IUserPrompt() = default;

int IUserPrompt::MessageBoxWithDetails(const CString& text, const CString& caption, UINT type,
                                       const CString&)
{
    return MessageBox(text, caption, type);
}

IUserPrompt* SetUserPrompt(IUserPrompt* prompt)
{
    return g_prompt.exchange(prompt);
}

IUserPrompt* GetUserPrompt()
{
    IUserPrompt* p = g_prompt.load();
    return p ? p : &g_default;
}

void AfxSetAppTitle(const CString& title)
{
    std::lock_guard g(g_titleLock);
    g_title = title;
}

CString AfxGetAppTitle()
{
    std::lock_guard g(g_titleLock);
    return g_title;
}

int AfxMessageBox(const CString& text, UINT type)
{
    return GetUserPrompt()->MessageBox(text, AfxGetAppTitle(), type);
}

int AfxMessageBox(UINT stringId, UINT type)
{
    return AfxMessageBox(LoadStringById(stringId), type);
}

int AfxMessageBox(const CString& text, UINT type, const CString& details)
{
    return GetUserPrompt()->MessageBoxWithDetails(text, AfxGetAppTitle(), type, details);
}

int WorkerMessageBox(const CString& text, const CString& caption, UINT type)
{
    return GetUserPrompt()->MessageBox(text, caption, type);
}
