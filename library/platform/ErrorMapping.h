#pragma once
// The printer code compares and reports Windows error numbers (device errors such as
// 6 or 87, socket errors such as 10035 or 10054), because those numbers travel as
// exception codes and users quote them. This is the one place that sorts errno values
// into those numbers; callers capture errno at the failing call and pass it here.
//
// Threading: pure functions, callable from any thread.
#include "CString.h"
#include "WinTypes.h"

// errno of a failed device call as a Win32 error number.
DWORD Win32ErrorFromErrno(int err);
// errno of a failed call on a file in the file system (the settings store's files) as a
// Win32 error number. It differs from a device's where the same errno means something
// else on a disk: no room is a full disk rather than a printer out of paper, and an I/O
// error is a general failure rather than a device that is not ready.
DWORD Win32FileErrorFromErrno(int err);
// errno of a failed socket call as a Windows Sockets error number.
DWORD WinSockErrorFromErrno(int err);
// The system's own description of an errno value.
CString ErrnoText(int err);
// A description for a Win32 or WinSock number that was not captured at a failing call
// (the library's own numbers, numbers set by hand): the text of the errno value the
// number stands for, or empty when there is none.
CString DescribeWindowsError(DWORD error);
