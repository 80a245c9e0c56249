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

// For the thread layer: a handle that is unsignalled until SignalThreadEnded is called
// on it once, when the thread has finished with its own object.
HANDLE CreateThreadEndHandle();
void SignalThreadEnded(HANDLE handle);
