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
};

// Device numbers follow what a Windows program sees for the same failure; socket numbers
// follow the Windows Sockets names of the same conditions. 0 means "no entry of its own"
// and takes the default of that column. Where two errno values share a number, the
// first one gives the number its text (DescribeWindowsError).
constexpr Entry kTable[] = {
    {EBADF, ERROR_INVALID_HANDLE, WSAENOTSOCK},
    {ENOTSOCK, ERROR_INVALID_HANDLE, WSAENOTSOCK},
    {EINVAL, ERROR_INVALID_PARAMETER, WSAEINVAL},
    {EFAULT, ERROR_INVALID_PARAMETER, WSAEINVAL},
    {EACCES, ERROR_ACCESS_DENIED, WSAEACCES},
    {EPERM, ERROR_ACCESS_DENIED, WSAEACCES},
    {EROFS, ERROR_ACCESS_DENIED, WSAEACCES},
    {ENOENT, ERROR_FILE_NOT_FOUND, 0},
    {ENXIO, ERROR_FILE_NOT_FOUND, 0},
    {ENODEV, ERROR_FILE_NOT_FOUND, 0},
    {ENOTDIR, ERROR_FILE_NOT_FOUND, 0},
    {EBUSY, ERROR_BUSY, 0},
    {EIO, ERROR_NOT_READY, 0},
    {EAGAIN, ERROR_SHARING_VIOLATION, WSAEWOULDBLOCK},
    {EINPROGRESS, 0, WSAEINPROGRESS},
    {EALREADY, 0, WSAEINPROGRESS},
    {ECONNRESET, ERROR_NETNAME_DELETED, WSAECONNRESET},
    {EPIPE, ERROR_PIPE_NOT_CONNECTED, WSAECONNRESET},
    {ECONNABORTED, ERROR_NETNAME_DELETED, WSAECONNABORTED},
    {ECONNREFUSED, ERROR_CONNECTION_REFUSED, WSAECONNREFUSED},
    {ETIMEDOUT, ERROR_SEM_TIMEOUT, WSAETIMEDOUT},
    {EHOSTUNREACH, ERROR_HOST_UNREACHABLE, WSAEHOSTUNREACH},
    {ENETUNREACH, ERROR_NETWORK_UNREACHABLE, WSAENETUNREACH},
    {ENETDOWN, ERROR_NETWORK_UNREACHABLE, WSAENETDOWN},
    {EISCONN, ERROR_CONNECTION_ACTIVE, WSAEISCONN},
    {ENOTCONN, ERROR_UNEXP_NET_ERR, WSAENOTCONN},
    {EADDRINUSE, 0, WSAEADDRINUSE},
    {EAFNOSUPPORT, 0, WSAEAFNOSUPPORT},
    {EPFNOSUPPORT, 0, WSAEPFNOSUPPORT},
    {EOPNOTSUPP, 0, WSAEOPNOTSUPP},
    {ENOSPC, ERROR_OUT_OF_PAPER, 0},
    {ECANCELED, ERROR_OPERATION_ABORTED, ERROR_OPERATION_ABORTED},
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
