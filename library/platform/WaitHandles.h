#pragma once
// Waitable handles: manual-reset events and thread handles, waited on with a time-out as
// the framework does. Handles are numbers in a process-wide table and are never reused,
// so setting or waiting on a handle whose object is gone is answered safely instead of
// touching freed memory. That is what lets a stopper take a worker's thread handle,
// post the quit message and wait, although the worker object deletes itself when its
// loop ends: a thread handle whose thread has ended counts as signalled for ever.
//
// Threading: every function may be called from any thread.
#include "Export.h"
#include "WinTypes.h"

constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;

// A new event, not shared with other processes.
VARKO_EXPORT HANDLE CreateEvent(bool manualReset, bool initialState);
// FALSE when the handle is not a live event.
VARKO_EXPORT BOOL SetEvent(HANDLE event);
VARKO_EXPORT BOOL ResetEvent(HANDLE event);
// Ends an event handle; later calls on it fail harmlessly. Thread handles are ended by
// their thread and ignore this.
VARKO_EXPORT BOOL CloseWaitHandle(HANDLE handle);

// WAIT_OBJECT_0 when signalled (an ended thread, a set event), WAIT_TIMEOUT after ms,
// WAIT_FAILED for a handle that is not one of ours or a closed event. An auto-reset
// event is reset by the wait that sees it set.
VARKO_EXPORT DWORD WaitForSingleObject(HANDLE handle, DWORD ms);

VARKO_EXPORT void Sleep(DWORD ms);

// A descriptor that polls readable exactly while the event is set, for waits that must
// watch an event beside devices and sockets. Made on first use; it belongs to the event
// and is closed with it, so the caller must not close it. -1 for anything but a live
// event.
VARKO_EXPORT int GetEventDescriptor(HANDLE event);

// The calling thread's cancel event. While one is set, every wait of the thread in the
// device, socket and prompt layers also ends as soon as it is signalled, with
// ERROR_OPERATION_ABORTED: a download job sets its own, so that stopping the job does
// not wait for a device, a connect or a box. Scopes nest; the innermost one counts.
class VARKO_EXPORT CThreadCancelScope
{
public:
    explicit CThreadCancelScope(HANDLE event);
    ~CThreadCancelScope();
    CThreadCancelScope(const CThreadCancelScope&) = delete;
    CThreadCancelScope& operator=(const CThreadCancelScope&) = delete;

private:
    HANDLE m_previous;
};

// Null when the thread has no cancel event.
VARKO_EXPORT HANDLE GetThreadCancelEvent();
// True when the calling thread's cancel event is set.
VARKO_EXPORT bool IsThreadCancelled();
// The descriptor of the calling thread's cancel event, or -1 when it has none.
VARKO_EXPORT int ThreadCancelDescriptor();

constexpr DWORD WAIT_CANCELLED = WAIT_OBJECT_0 + 1;
// Waits for event (null: nothing but time) and, at the same time, for the calling
// thread's cancel event: WAIT_OBJECT_0, WAIT_CANCELLED or WAIT_TIMEOUT.
VARKO_EXPORT DWORD WaitForEventOrCancel(HANDLE event, DWORD ms);

// For the thread layer: a handle that is unsignalled until SignalThreadEnded is called
// on it once, when the thread has finished with its own object.
HANDLE CreateThreadEndHandle();
void SignalThreadEnded(HANDLE handle);
