#include "DeviceFile.h"

#include "CancellablePoll.h"
#include "DeviceFileObject.h"
#include "DeviceNames.h"
#include "ErrorMapping.h"
#include "SysCalls.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unordered_set>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace
{
thread_local DWORD t_lastError = 0;
thread_local CString t_lastErrorText;

std::mutex g_handlesLock;
std::unordered_set<DeviceFileObject*> g_handles;

// How long a write waits before trying again when the device says "not now" but offers
// no way to wait for it (the parallel-port driver has no poll).
constexpr int kRetrySliceMs = 10;

long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

// Every wait ends early, with ECANCELED, when the calling thread's job is cancelled.
int pollOne(int fd, short events, int timeoutMs, short* revents)
{
    struct pollfd p = {fd, events, 0};
    int r = PollOrCancel(&p, 1, timeoutMs);
    if (revents)
        *revents = r > 0 ? p.revents : 0;
    return r;
}

// False when the wait was cancelled.
bool sleepMs(int ms)
{
    return !(PollOrCancel(nullptr, 0, ms) < 0 && errno == ECANCELED);
}

BOOL fail(int err)
{
    SetLastErrorFromErrno(err);
    return FALSE;
}

BOOL failWith(DWORD error)
{
    SetLastError(error);
    return FALSE;
}
} // namespace

DeviceFileObject* LookUpDeviceFile(HANDLE handle)
{
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return nullptr;
    std::lock_guard g(g_handlesLock);
    auto* object = static_cast<DeviceFileObject*>(handle);
    return g_handles.count(object) ? object : nullptr;
}

DWORD GetLastError()
{
    return t_lastError;
}

void SetLastError(DWORD error)
{
    t_lastError = error;
    t_lastErrorText = DescribeWindowsError(error);
}

CString GetLastErrorText()
{
    return t_lastErrorText;
}

void SetLastErrorFromErrno(int err)
{
    t_lastError = Win32ErrorFromErrno(err);
    t_lastErrorText = ErrnoText(err);
}

void SetLastErrorWithText(DWORD error, CString text)
{
    t_lastError = error;
    t_lastErrorText = std::move(text);
}

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void*, DWORD disposition, DWORD,
                   HANDLE)
{
    if (!name || !*name || disposition != OPEN_EXISTING)
    {
        SetLastError(!name || !*name ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    int mode;
    bool wantRead = access & GENERIC_READ, wantWrite = access & GENERIC_WRITE;
    if (wantRead && wantWrite)
        mode = O_RDWR;
    else if (wantWrite)
        mode = O_WRONLY;
    else
        mode = O_RDONLY;

    CString path = ResolveDeviceName(CString(name));
    if (path.IsEmpty())
    {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    // O_NONBLOCK: opening a serial line must not wait for carrier, and every later
    // wait is a poll with a limit. O_NOCTTY: a printer line never becomes our terminal.
    int fd;
    do
        fd = Sys().open(path.GetString(), mode | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
    {
        int err = errno;
        SetLastErrorFromErrno(err);
        // A device the driver lets only one program have answers "busy"; Windows calls
        // that access denied, and the port list relies on the number.
        if (err == EBUSY)
            SetLastErrorWithText(ERROR_ACCESS_DENIED, ErrnoText(err));
        return INVALID_HANDLE_VALUE;
    }

    struct termios tio;
    bool tty = Sys().tcgetattr(fd, &tio) == 0;
    bool locked = false;
    if (share == 0)
    {
        // The advisory lock comes first: it holds against every opener, root included,
        // while TIOCEXCL (which root passes through) only keeps later opens of the same
        // terminal out. A second opener that loses the lock must close without touching
        // TIOCEXCL, or it would clear the first owner's exclusive mode.
        int r;
        do
            r = Sys().flock(fd, LOCK_EX | LOCK_NB);
        while (r < 0 && errno == EINTR);
        if (r < 0)
        {
            int err = errno;
            Sys().close(fd);
            if (err == EWOULDBLOCK)
                SetLastErrorWithText(ERROR_ACCESS_DENIED, ErrnoText(EBUSY));
            else
                SetLastErrorFromErrno(err);
            return INVALID_HANDLE_VALUE;
        }
        locked = true;
        if (tty)
            Sys().ioctl(fd, TIOCEXCL, nullptr); // ENOTTY on some ptys: nothing to add
    }
    if (tty)
    {
        // A Windows COM port is always binary; a Linux terminal starts cooked (echo,
        // CR/LF translation). Raw mode here keeps every byte as sent, for serial lines
        // and for printers simulated on pseudo-terminals alike.
        // Only the cooking goes; framing and handshake stay as the driver has them
        // until the port programs the line.
        tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL);
        tio.c_oflag &= ~OPOST;
        tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        Sys().tcsetattr(fd, TCSANOW, &tio);
    }

    auto* object = new DeviceFileObject;
    object->fd = fd;
    object->path = path;
    object->tty = tty;
    struct stat st;
    // Unix98 pty slaves have majors 136 to 143.
    object->pseudoTerminal = tty && ::fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) &&
                             major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
    object->locked = locked;
    {
        std::lock_guard g(g_handlesLock);
        g_handles.insert(object);
    }
    SetLastError(ERROR_SUCCESS);
    return object;
}

BOOL CloseHandle(HANDLE handle)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    {
        std::lock_guard g(g_handlesLock);
        g_handles.erase(object);
    }
    if (object->tty && object->locked)
        Sys().ioctl(object->fd, TIOCNXCL, nullptr);
    // The lock goes with the descriptor. close is not retried on EINTR: on Linux the
    // descriptor is released either way.
    int r = Sys().close(object->fd);
    int err = errno;
    delete object;
    if (r < 0 && err != EINTR)
        return fail(err);
    return TRUE;
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* received, void* overlapped)
{
    if (received)
        *received = 0;
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (overlapped || (!buffer && count))
        return failWith(ERROR_INVALID_PARAMETER);

    const COMMTIMEOUTS& to = object->timeouts;
    const bool immediate = to.ReadIntervalTimeout == MAXDWORD &&
                           to.ReadTotalTimeoutMultiplier == 0 && to.ReadTotalTimeoutConstant == 0;
    const long long total =
        static_cast<long long>(to.ReadTotalTimeoutMultiplier) * count + to.ReadTotalTimeoutConstant;
    const long long interval =
        to.ReadIntervalTimeout == MAXDWORD ? 0 : static_cast<long long>(to.ReadIntervalTimeout);

    auto* bytes = static_cast<unsigned char*>(buffer);
    DWORD got = 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastByte = start;
    bool hungUp = false;
    while (got < count)
    {
        ssize_t r = Sys().read(object->fd, bytes + got, count - got);
        if (r > 0)
        {
            got += static_cast<DWORD>(r);
            lastByte = Clock::now();
            continue;
        }
        // A terminal in raw mode without VMIN says "nothing yet" with 0; anything else
        // means end of data.
        if (r == 0 && !object->tty)
            break;
        if (r < 0)
        {
            int err = errno;
            if (err == EINTR)
                continue;
            if (err != EAGAIN)
            {
                if (received)
                    *received = got;
                return fail(err);
            }
        }
        if (hungUp)
        {
            // Poll said "hang-up" and there is nothing more to read: the device is gone.
            // What came before the hang-up is handed over first; the next call fails.
            if (got > 0)
                break;
            if (received)
                *received = got;
            return fail(EIO);
        }
        if (immediate)
            break;
        // -1: no limit applies yet. A limit that has run out ends the read, also when
        // the other one still has time left: bytes that keep coming within the interval
        // must not carry a read past its total limit.
        long long wait = -1;
        if (total > 0)
        {
            wait = total - msSince(start);
            if (wait <= 0)
                break;
        }
        if (interval > 0 && got > 0)
        {
            long long left = interval - msSince(lastByte);
            if (left <= 0)
                break;
            wait = wait < 0 ? left : std::min(wait, left);
        }
        short revents = 0;
        int pr = pollOne(object->fd, POLLIN, static_cast<int>(std::min(wait, 1LL << 30)), &revents);
        if (pr < 0 && errno != EINTR)
        {
            if (received)
                *received = got;
            return fail(errno);
        }
        if (pr > 0 && (revents & POLLNVAL))
        {
            if (received)
                *received = got;
            return fail(EBADF);
        }
        // A hung-up terminal reads as "nothing yet" for ever while poll reports the
        // hang-up (with POLLIN): what is left is read, then the device counts as gone.
        hungUp = pr > 0 && (revents & (POLLHUP | POLLERR));
    }
    if (received)
        *received = got;
    return TRUE;
}

BOOL ReadFileWithin(HANDLE handle, void* buffer, DWORD count, DWORD* received, DWORD waitMs)
{
    if (received)
        *received = 0;
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (!buffer && count)
        return failWith(ERROR_INVALID_PARAMETER);
    if (count == 0)
        return TRUE;
    const Clock::time_point start = Clock::now();
    for (;;)
    {
        ssize_t r = Sys().read(object->fd, buffer, count);
        if (r > 0 || (r == 0 && !object->tty))
        {
            if (received)
                *received = static_cast<DWORD>(r);
            return TRUE;
        }
        if (r < 0)
        {
            int err = errno;
            if (err == EINTR)
                continue;
            if (err != EAGAIN)
                return fail(err);
        }
        long long left = static_cast<long long>(waitMs) - msSince(start);
        if (left <= 0)
            return TRUE;
        short revents = 0;
        int pr = pollOne(object->fd, POLLIN, static_cast<int>(left), &revents);
        if (pr < 0 && errno != EINTR)
            return fail(errno);
        if (pr > 0 && (revents & POLLNVAL))
            return fail(EBADF);
        if (pr > 0 && (revents & (POLLHUP | POLLERR)))
        {
            // Nothing to read and never will be; let read report why, else call it gone.
            r = Sys().read(object->fd, buffer, count);
            if (r > 0)
            {
                if (received)
                    *received = static_cast<DWORD>(r);
                return TRUE;
            }
            return fail(errno == EAGAIN ? EIO : errno);
        }
    }
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written, void* overlapped)
{
    if (written)
        *written = 0;
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (overlapped || (!buffer && count))
        return failWith(ERROR_INVALID_PARAMETER);

    const COMMTIMEOUTS& to = object->timeouts;
    const long long total = static_cast<long long>(to.WriteTotalTimeoutMultiplier) * count +
                            to.WriteTotalTimeoutConstant;
    const long long stall = object->writeStallLimitMs;

    auto* bytes = static_cast<const unsigned char*>(buffer);
    DWORD sent = 0;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastProgress = start;
    bool readyButRefused = false;
    while (sent < count)
    {
        ssize_t r = Sys().write(object->fd, bytes + sent, count - sent);
        if (r > 0)
        {
            sent += static_cast<DWORD>(r);
            lastProgress = Clock::now();
            readyButRefused = false;
            continue;
        }
        if (r < 0)
        {
            int err = errno;
            if (err == EINTR)
                continue;
            if (err != EAGAIN)
            {
                if (written)
                    *written = sent;
                return fail(err);
            }
        }
        long long wait = -1;
        if (total > 0)
            wait = total - msSince(start);
        if (stall > 0)
        {
            long long left = stall - msSince(lastProgress);
            wait = wait < 0 ? left : std::min(wait, left);
        }
        if (wait == 0 || wait < -1 || (wait < 0 && (total > 0 || stall > 0)))
            break;
        if (readyButRefused)
        {
            // The driver claims to be writable yet refuses: it has no real poll (lp).
            // Try again shortly instead of spinning.
            int slice = wait < 0 ? kRetrySliceMs
                                 : static_cast<int>(std::min<long long>(wait, kRetrySliceMs));
            if (!sleepMs(slice))
            {
                if (written)
                    *written = sent;
                return fail(ECANCELED);
            }
            readyButRefused = false;
            continue;
        }
        short revents = 0;
        int pr =
            pollOne(object->fd, POLLOUT, static_cast<int>(std::min(wait, 1LL << 30)), &revents);
        if (pr < 0 && errno != EINTR)
        {
            if (written)
                *written = sent;
            return fail(errno);
        }
        if (pr > 0 && (revents & POLLNVAL))
        {
            if (written)
                *written = sent;
            return fail(EBADF);
        }
        if (pr > 0)
            readyButRefused = true;
    }
    if (written)
        *written = sent;
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE handle)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    // A terminal's output queue drains by itself and is not dropped at close.
    if (object->tty)
        return TRUE;
    const COMMTIMEOUTS& to = object->timeouts;
    long long limit = to.WriteTotalTimeoutConstant ? to.WriteTotalTimeoutConstant : 0;
    if (object->writeStallLimitMs && (!limit || object->writeStallLimitMs < limit))
        limit = object->writeStallLimitMs;
    const Clock::time_point start = Clock::now();
    for (;;)
    {
        long long left = limit ? limit - msSince(start) : -1;
        if (limit && left <= 0)
            return failWith(ERROR_TIMEOUT);
        short revents = 0;
        int pr = pollOne(object->fd, POLLOUT, static_cast<int>(left), &revents);
        if (pr < 0 && errno == EINTR)
            continue;
        if (pr < 0)
            return fail(errno);
        // poll's own time limit has passed.
        if (pr == 0)
            return failWith(ERROR_TIMEOUT);
        if (revents & POLLNVAL)
            return fail(EBADF);
        if (revents & (POLLERR | POLLHUP))
            return fail(EIO);
        if (revents & POLLOUT)
            return TRUE;
    }
}

bool DeviceExists(const char* name)
{
    if (!name || !*name)
        return false;
    CString path = ResolveDeviceName(CString(name));
    if (path.IsEmpty())
        return false;
    // Nothing but open and close: no lock, no exclusive mode, no line settings, and
    // O_NONBLOCK so that a line without carrier cannot hold the open up.
    int fd;
    do
        fd = Sys().open(path.GetString(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    while (fd < 0 && errno == EINTR);
    if (fd >= 0)
    {
        Sys().close(fd);
        return true;
    }
    // In use by another program (a driver that allows one opener), or not ours to
    // open: the port is there all the same.
    return errno == EBUSY || errno == EACCES || errno == EPERM || errno == EAGAIN;
}

BOOL SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS* timeouts)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (!timeouts)
        return failWith(ERROR_INVALID_PARAMETER);
    object->timeouts = *timeouts;
    return TRUE;
}

BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (!timeouts)
        return failWith(ERROR_INVALID_PARAMETER);
    *timeouts = object->timeouts;
    return TRUE;
}

BOOL SetWriteStallLimit(HANDLE handle, DWORD milliseconds)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    object->writeStallLimitMs = milliseconds;
    return TRUE;
}

BOOL PurgeComm(HANDLE handle, DWORD flags)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (!object->tty)
        return TRUE;
    bool input = flags & (PURGE_RXABORT | PURGE_RXCLEAR);
    bool output = flags & PURGE_TXCLEAR;
    if (!input && !output)
        return TRUE;
    int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    if (Sys().tcflush(object->fd, queue) < 0)
        return fail(errno);
    return TRUE;
}

BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (errors)
        *errors = 0;
    if (status)
    {
        *status = COMSTAT{};
        int n = 0;
        if (object->tty && Sys().ioctl(object->fd, FIONREAD, &n) == 0 && n > 0)
            status->cbInQue = static_cast<DWORD>(n);
        n = 0;
        if (object->tty && Sys().ioctl(object->fd, TIOCOUTQ, &n) == 0 && n > 0)
            status->cbOutQue = static_cast<DWORD>(n);
    }
    return TRUE;
}

BOOL SetCommMask(HANDLE handle, DWORD)
{
    // Nothing here waits for line events; the mask is accepted and has no effect.
    return LookUpDeviceFile(handle) ? TRUE : failWith(ERROR_INVALID_HANDLE);
}

int DeviceFileDescriptor(HANDLE handle)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    return object ? object->fd : -1;
}

CString DeviceFilePath(HANDLE handle)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    return object ? object->path : CString();
}

namespace
{
// LPIOC_GET_DEVICE_ID(len) of the usblp driver: _IOC(_IOC_READ, 'P', 1, len).
unsigned long usblpGetDeviceId(DWORD length)
{
    return _IOC(_IOC_READ, 'P', 1, length);
}

// Length of the answer actually in the buffer: the driver copies min(length, buffer)
// bytes where length is the big-endian prefix it clamped to 2..1023.
DWORD answerLength(const unsigned char* out, DWORD outSize)
{
    if (outSize < 2)
        return outSize;
    DWORD n = (DWORD(out[0]) << 8) | out[1];
    if (n < 2)
        n = 2;
    return std::min(n, outSize);
}

BOOL readSidecar(const CString& devicePath, unsigned char* out, DWORD outSize, DWORD* returned)
{
    CString sidecar = devicePath + ".ieee1284";
    int fd;
    do
        fd = Sys().open(sidecar.GetString(), O_RDONLY | O_CLOEXEC | O_NOCTTY, 0);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return fail(errno == ENOENT ? ENOTTY : errno);
    DWORD got = 0;
    while (got < outSize)
    {
        ssize_t r = Sys().read(fd, out + got, outSize - got);
        if (r > 0)
            got += static_cast<DWORD>(r);
        else if (r == 0 || errno != EINTR)
            break;
    }
    Sys().close(fd);
    if (returned)
        *returned = got;
    return TRUE;
}
} // namespace

BOOL DeviceIoControl(HANDLE handle, DWORD code, const void*, DWORD, void* out, DWORD outSize,
                     DWORD* returned, void* overlapped)
{
    if (returned)
        *returned = 0;
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (code != IOCTL_USBPRINT_GET_1284_ID)
        return failWith(ERROR_INVALID_FUNCTION);
    if (overlapped || !out || outSize == 0 || outSize > 0x3FFF)
        return failWith(ERROR_INVALID_PARAMETER);
    auto* bytes = static_cast<unsigned char*>(out);
    std::fill(bytes, bytes + outSize, 0);
    int r;
    do
        r = Sys().ioctl(object->fd, usblpGetDeviceId(outSize), bytes);
    while (r < 0 && errno == EINTR);
    if (r < 0)
    {
        int err = errno;
        if (err == ENOTTY || err == EINVAL)
            return readSidecar(object->path, bytes, outSize, returned);
        return fail(err);
    }
    if (returned)
        *returned = answerLength(bytes, outSize);
    return TRUE;
}
