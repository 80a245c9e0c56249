#pragma once
// Notification targets: what a worker thread posts window messages to. Targets are
// looked up by handle at the moment of posting, so posting to a window that has been
// destroyed is a harmless no-op instead of a use of freed memory.
//
// Threading: PostMessage may be called from any thread. OnPostedMessage runs on the
// posting thread while the target is guaranteed alive; it must only queue the message
// (the program hands it to its event loop, tests to a queue) and never block.
#include "Export.h"
#include "WinTypes.h"

#include <cstdint>

struct HWND__;
using HWND = HWND__*;

class VARKO_EXPORT CWnd
{
public:
    CWnd();
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }

protected:
    // Subclasses that deliver messages must call this first thing in their own
    // destructor, so no message arrives at a half-destroyed object.
    void DetachHandle();

private:
    friend VARKO_EXPORT BOOL PostMessage(HWND, UINT, WPARAM, LPARAM);
    virtual void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hWnd;
};

// FALSE when no live window has that handle (the message is dropped).
VARKO_EXPORT BOOL PostMessage(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
VARKO_EXPORT BOOL IsWindow(HWND hWnd);
