#include "ErrorMapping.h"

#include <cerrno>
#include <cstring>

namespace
{
struct Entry
{
    int err;
    DWORD win32;
    DWORD winsock;
    DWORD file;
};

// Columns: errno, device (Win32), socket (Windows Sockets), file (Win32).
// Device and file numbers follow what a Windows program sees for the same failure (a
// directory opened as a file is refused there, hence EISDIR); socket numbers follow the
// Windows Sockets names of the same conditions. 0 means "no entry of its own" and takes
// the default of that column. Where two errno values share a device or socket number, the
// first one gives the number its text (DescribeWindowsError).
constexpr Entry kTable[] = {
    {EBADF, ERROR_INVALID_HANDLE, WSAENOTSOCK, 0},
    {ENOTSOCK, ERROR_INVALID_HANDLE, WSAENOTSOCK, 0},
    {EINVAL, ERROR_INVALID_PARAMETER, WSAEINVAL, 0},
    {EFAULT, ERROR_INVALID_PARAMETER, WSAEINVAL, 0},
    {EACCES, ERROR_ACCESS_DENIED, WSAEACCES, ERROR_ACCESS_DENIED},
    {EPERM, ERROR_ACCESS_DENIED, WSAEACCES, ERROR_ACCESS_DENIED},
    {EROFS, ERROR_ACCESS_DENIED, WSAEACCES, ERROR_ACCESS_DENIED},
    {ENOENT, ERROR_FILE_NOT_FOUND, 0, ERROR_FILE_NOT_FOUND},
    {ENXIO, ERROR_FILE_NOT_FOUND, 0, 0},
    {ENODEV, ERROR_FILE_NOT_FOUND, 0, 0},
    {ENOTDIR, ERROR_FILE_NOT_FOUND, 0, ERROR_FILE_NOT_FOUND},
    {EBUSY, ERROR_BUSY, 0, 0},
    {EIO, ERROR_NOT_READY, 0, 0},
    {EAGAIN, ERROR_SHARING_VIOLATION, WSAEWOULDBLOCK, 0},
    {EINPROGRESS, 0, WSAEINPROGRESS, 0},
    {EALREADY, 0, WSAEINPROGRESS, 0},
    {ECONNRESET, ERROR_NETNAME_DELETED, WSAECONNRESET, 0},
    {EPIPE, ERROR_PIPE_NOT_CONNECTED, WSAECONNRESET, 0},
    {ECONNABORTED, ERROR_NETNAME_DELETED, WSAECONNABORTED, 0},
    {ECONNREFUSED, ERROR_CONNECTION_REFUSED, WSAECONNREFUSED, 0},
    {ETIMEDOUT, ERROR_SEM_TIMEOUT, WSAETIMEDOUT, 0},
    {EHOSTUNREACH, ERROR_HOST_UNREACHABLE, WSAEHOSTUNREACH, 0},
    {ENETUNREACH, ERROR_NETWORK_UNREACHABLE, WSAENETUNREACH, 0},
    {ENETDOWN, ERROR_NETWORK_UNREACHABLE, WSAENETDOWN, 0},
    {EISCONN, ERROR_CONNECTION_ACTIVE, WSAEISCONN, 0},
    {ENOTCONN, ERROR_UNEXP_NET_ERR, WSAENOTCONN, 0},
    {EADDRINUSE, 0, WSAEADDRINUSE, 0},
    {EAFNOSUPPORT, 0, WSAEAFNOSUPPORT, 0},
    {EPFNOSUPPORT, 0, WSAEPFNOSUPPORT, 0},
    {EOPNOTSUPP, 0, WSAEOPNOTSUPP, 0},
    {ENOSPC, ERROR_OUT_OF_PAPER, 0, ERROR_DISK_FULL},
    {EDQUOT, 0, 0, ERROR_DISK_FULL},
    {EISDIR, 0, 0, ERROR_ACCESS_DENIED},
    {ECANCELED, ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED, 0},
};

const Entry* find(int err)
{
    for (const Entry& e : kTable)
        if (e.err == err)
            return &e;
    return nullptr;
}
} // namespace

DWORD Win32ErrorFromErrno(int err)
{
    // EWOULDBLOCK and EAGAIN share a value on Linux; ENOTSUP and EOPNOTSUPP too.
    const Entry* e = find(err);
    return e && e->win32 ? e->win32 : ERROR_GEN_FAILURE;
}

DWORD Win32FileErrorFromErrno(int err)
{
    const Entry* e = find(err);
    return e && e->file ? e->file : ERROR_GEN_FAILURE;
}

DWORD WinSockErrorFromErrno(int err)
{
    const Entry* e = find(err);
    return e && e->winsock ? e->winsock : WSAEOPNOTSUPP;
}

CString ErrnoText(int err)
{
    char buffer[256];
    // The GNU variant returns a pointer that may or may not be the buffer.
    const char* text = strerror_r(err, buffer, sizeof buffer);
    return CString(text ? text : "");
}

CString DescribeWindowsError(DWORD error)
{
    if (error == 0)
        return CString();
    for (const Entry& e : kTable)
        if (e.win32 == error || e.winsock == error)
            return ErrnoText(e.err);
    if (error == ERROR_TIMEOUT)
        return ErrnoText(ETIMEDOUT);
    return CString();
}
