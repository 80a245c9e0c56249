#include "CWnd.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace
{
std::mutex& windowsLock()
{
    static std::mutex m;
    return m;
}

std::unordered_map<HWND, CWnd*>& windows()
{
    static std::unordered_map<HWND, CWnd*> w;
    return w;
}

// Handles are never reused within a process, so a stale handle can only miss.
std::atomic<std::uintptr_t> g_nextHandle{0x1000};
} // namespace

CWnd::CWnd() : m_hWnd(reinterpret_cast<HWND>(g_nextHandle.fetch_add(0x10)))
{
    std::lock_guard g(windowsLock());
    windows()[m_hWnd] = this;
}

CWnd::~CWnd()
{
    DetachHandle();
}

void CWnd::DetachHandle()
{
    std::lock_guard g(windowsLock());
    windows().erase(m_hWnd);
}

void CWnd::OnPostedMessage(UINT, WPARAM, LPARAM) {}

BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard g(windowsLock());
    auto it = windows().find(hWnd);
    if (it == windows().end())
        return FALSE;
    it->second->OnPostedMessage(message, wParam, lParam);
    return TRUE;
}

BOOL IsWindow(HWND hWnd)
{
    std::lock_guard g(windowsLock());
    return windows().count(hWnd) ? TRUE : FALSE;
}
