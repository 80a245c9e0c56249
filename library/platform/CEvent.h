#pragma once
// An event object that owns its handle: the handle may be handed to other threads,
// which can set it or wait on it; once the CEvent is destroyed those calls fail
// harmlessly instead of reaching freed memory.
//
// Threading: SetEvent, ResetEvent and Lock may be called from any thread; construction
// and destruction by the owner only.
#include "Export.h"
#include "WaitHandles.h"

class VARKO_EXPORT CEvent
{
public:
    explicit CEvent(bool initiallyOwn = false, bool manualReset = true)
        : m_hObject(::CreateEvent(manualReset, initiallyOwn))
    {
    }
    ~CEvent() { CloseWaitHandle(m_hObject); }
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    BOOL SetEvent() { return ::SetEvent(m_hObject); }
    BOOL ResetEvent() { return ::ResetEvent(m_hObject); }
    // TRUE when the event was (or became) set within ms.
    BOOL Lock(DWORD ms = INFINITE) { return WaitForSingleObject(m_hObject, ms) == WAIT_OBJECT_0; }

    HANDLE m_hObject;
};
