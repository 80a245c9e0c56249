#include "DeviceFile.h"

#include "CancellablePoll.h"
#include "DeviceFileObject.h"
#include "DeviceNames.h"
#include "ErrorMapping.h"
#include "IoRetry.h"
#include "SysCalls.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace
{
thread_local DWORD t_lastError = 0;
thread_local CString t_lastErrorText;

std::mutex g_handlesLock;
std::unordered_set<DeviceFileObject*> g_handles;

// How long a write waits before trying again when the device says "not now" but offers
// no way to wait for it (the parallel-port driver has no poll).
constexpr int kRetrySliceMs = 10;

// Waits for events on fd until the deadline; a signal does not end the wait early, the
// calling thread's cancel does (ECANCELED). value: poll's count (0 when the deadline
// passed), revents: what it saw.
struct PollResult : SysResult<int>
{
    short revents;

    // The errno the wait failed with: poll's own, EBADF when the descriptor is not
    // open, or 0 when it did not fail.
    int WaitError() const
    {
        if (Failed())
            return error;
        return (revents & POLLNVAL) ? EBADF : 0;
    }
};
PollResult pollOne(int fd, short events, const IoDeadline& deadline)
{
    struct pollfd p = {fd, events, 0};
    SysResult<int> r = RetryOnEintr([&] { return PollOrCancel(&p, 1, deadline.PollTimeoutMs()); });
    return {r, static_cast<short>(r.value > 0 ? p.revents : 0)};
}

// False when the wait was cancelled.
bool sleepMs(int ms)
{
    return !(PollOrCancel(nullptr, 0, ms) < 0 && errno == ECANCELED);
}

// Opens a path, retrying when a signal interrupts the open.
SysResult<int> openPath(const CString& path, int flags)
{
    return RetryOnEintr([&] { return Sys().open(path.GetString(), flags, 0); });
}

BOOL fail(int err)
{
    SetLastErrorFromErrno(err);
    return FALSE;
}

// A failing transfer still reports the bytes it moved before the failure.
BOOL failAfter(DWORD* count, DWORD done, int err)
{
    if (count)
        *count = done;
    return fail(err);
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

namespace
{
// The checks every transfer starts with. The caller's count is cleared first, so a
// refused call reports nothing moved. Null, with the last error set, when refused.
DeviceFileObject* startTransfer(HANDLE handle, const void* buffer, DWORD count, DWORD* moved,
                                bool overlapped)
{
    if (moved)
        *moved = 0;
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
    {
        failWith(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (overlapped || (!buffer && count))
    {
        failWith(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return object;
}
} // namespace

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

namespace
{
// Majors of the devices the kinds are told apart by (Documentation/admin-guide/devices.txt).
constexpr unsigned kMajorVirtualConsole = 4; // minors 0-63; serial ttyS from 64 on
constexpr unsigned kMajorTtyAliases = 5;     // /dev/tty, /dev/console, /dev/ptmx
constexpr unsigned kMajorLp = 6;
constexpr unsigned kMajorUsb = 180; // usblp and the other USB class drivers
constexpr unsigned kFirstSerialMinorOnMajor4 = 64;
constexpr unsigned kUsblpMinors = 16; // usblp's fixed minors, when the system cannot say

bool isPseudoTerminalSlave(unsigned major)
{
    // Unix98 slaves 136-143, and the old BSD-style slaves on major 3.
    return (major >= 136 && major <= 143) || major == 3;
}
bool isPseudoTerminalMaster(unsigned major)
{
    return (major >= 128 && major <= 135) || major == 2;
}

// Whether the system lists the node as a USB printer: /sys/dev/char/M:m leads to
// .../usbmisc/lpN for usblp; the other USB class drivers share the major.
bool usbPrinterNode(unsigned major, unsigned minor)
{
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u", major, minor);
    char target[512];
    const ssize_t n = ::readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return minor < kUsblpMinors;
    target[n] = 0;
    const char* leaf = std::strrchr(target, '/');
    leaf = leaf ? leaf + 1 : target;
    return std::strstr(target, "/usbmisc/") && std::strncmp(leaf, "lp", 2) == 0;
}

DeviceIdentity identify(int fd, bool terminal, const CString& path)
{
    DeviceIdentity id;
    struct stat st;
    if (Sys().fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return id;
    id.characterDevice = true;
    id.major = major(st.st_rdev);
    id.minor = minor(st.st_rdev);
    id.terminal = terminal;
    pid_t session = 0;
    // Answered only for this process's own controlling terminal.
    id.controllingTerminal = terminal && ::ioctl(fd, TIOCGSID, &session) == 0;
    id.throughOverride = IsDeviceOverrideEntry(path);
    id.usbPrinterNode = id.major == kMajorUsb && usbPrinterNode(id.major, id.minor);
    return id;
}
} // namespace

bool DeviceFitsKind(const DeviceIdentity& device, EDeviceKind kind)
{
    if (!device.characterDevice || device.controllingTerminal ||
        isPseudoTerminalMaster(device.major))
        return false;
    if (isPseudoTerminalSlave(device.major))
        return device.throughOverride && device.terminal;
    const bool serial =
        device.terminal && device.major != kMajorTtyAliases &&
        !(device.major == kMajorVirtualConsole && device.minor < kFirstSerialMinorOnMajor4);
    const bool parallel = device.major == kMajorLp && !device.terminal;
    const bool usb = device.major == kMajorUsb && device.usbPrinterNode && !device.terminal;
    switch (kind)
    {
    case EDeviceKind::eSerialLine:
        return serial;
    case EDeviceKind::eParallelPrinter:
        return parallel;
    case EDeviceKind::eUsbPrinter:
        return usb;
    case EDeviceKind::ePrinterDevice:
        return serial || parallel || usb;
    }
    return false;
}

namespace
{
HANDLE openDevice(const char* name, DWORD access, DWORD share, DWORD disposition,
                  const EDeviceKind* kind)
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
    const SysResult<int> opened = openPath(path, mode | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (opened.Failed())
    {
        const int err = opened.error;
        SetLastErrorFromErrno(err);
        // A device the driver lets only one program have answers "busy"; Windows calls
        // that access denied, and the port list relies on the number.
        if (err == EBUSY)
            SetLastErrorWithText(ERROR_ACCESS_DENIED, ErrnoText(err));
        return INVALID_HANDLE_VALUE;
    }
    const int fd = opened.value;

    struct termios tio;
    bool tty = Sys().tcgetattr(fd, &tio) == 0;
    if (kind && !DeviceFitsKind(identify(fd, tty, path), *kind))
    {
        // Closed before anything was written to it or changed on it.
        Sys().close(fd);
        SetLastErrorWithText(ERROR_NOT_SUPPORTED, "Not a printer device of this kind");
        return INVALID_HANDLE_VALUE;
    }
    bool locked = false;
    if (share == 0)
    {
        // The advisory lock comes first: it holds against every opener, root included,
        // while TIOCEXCL (which root passes through) only keeps later opens of the same
        // terminal out. A second opener that loses the lock must close without touching
        // TIOCEXCL, or it would clear the first owner's exclusive mode.
        const SysResult<int> r = RetryOnEintr([&] { return Sys().flock(fd, LOCK_EX | LOCK_NB); });
        if (r.Failed())
        {
            const int err = r.error;
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
} // namespace

HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void*, DWORD disposition, DWORD,
                   HANDLE)
{
    return openDevice(name, access, share, disposition, nullptr);
}

HANDLE OpenPortDevice(const char* name, DWORD access, DWORD share, EDeviceKind kind)
{
    return openDevice(name, access, share, OPEN_EXISTING, &kind);
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
    const int r = Sys().close(object->fd);
    const int err = r < 0 ? errno : 0;
    delete object;
    if (r < 0 && err != EINTR)
        return fail(err);
    return TRUE;
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* received, void* overlapped)
{
    DeviceFileObject* object =
        startTransfer(handle, buffer, count, received, overlapped != nullptr);
    if (!object)
        return FALSE;

    const COMMTIMEOUTS& to = object->timeouts;
    const bool immediate = to.ReadIntervalTimeout == MAXDWORD &&
                           to.ReadTotalTimeoutMultiplier == 0 && to.ReadTotalTimeoutConstant == 0;
    const long long total =
        static_cast<long long>(to.ReadTotalTimeoutMultiplier) * count + to.ReadTotalTimeoutConstant;
    const long long interval =
        to.ReadIntervalTimeout == MAXDWORD ? 0 : static_cast<long long>(to.ReadIntervalTimeout);

    auto* bytes = static_cast<unsigned char*>(buffer);
    DWORD got = 0;
    const IoDeadline totalDeadline = IoDeadline::Limit(IoClock::now(), total);
    IoDeadline intervalDeadline; // runs from the last byte, once one has come
    bool hungUp = false;
    while (got < count)
    {
        const SysResult<ssize_t> r =
            RetryOnEintr([&] { return Sys().read(object->fd, bytes + got, count - got); });
        if (r.value > 0)
        {
            got += static_cast<DWORD>(r.value);
            intervalDeadline = IoDeadline::Limit(IoClock::now(), interval);
            continue;
        }
        // A terminal in raw mode without VMIN says "nothing yet" with 0; anything else
        // means end of data.
        if (r.value == 0 && !object->tty)
            break;
        if (r.Failed() && r.error != EAGAIN)
            return failAfter(received, got, r.error);
        if (hungUp)
        {
            // Poll said "hang-up" and there is nothing more to read: the device is gone.
            // What came before the hang-up is handed over first; the next call fails.
            if (got > 0)
                break;
            return failAfter(received, got, EIO);
        }
        if (immediate)
            break;
        // A limit that has run out ends the read, also when the other one still has time
        // left: bytes that keep coming within the interval must not carry a read past its
        // total limit. Neither set: wait as long as it takes.
        const IoDeadline deadline = totalDeadline.Earliest(intervalDeadline);
        if (deadline.Passed())
            break;
        const PollResult pr = pollOne(object->fd, POLLIN, deadline);
        if (const int err = pr.WaitError())
            return failAfter(received, got, err);
        // A hung-up terminal reads as "nothing yet" for ever while poll reports the
        // hang-up (with POLLIN): what is left is read, then the device counts as gone.
        hungUp = pr.revents & (POLLHUP | POLLERR);
    }
    if (received)
        *received = got;
    return TRUE;
}

BOOL ReadFileWithin(HANDLE handle, void* buffer, DWORD count, DWORD* received, DWORD waitMs)
{
    DeviceFileObject* object = startTransfer(handle, buffer, count, received, false);
    if (!object)
        return FALSE;
    if (count == 0)
        return TRUE;
    auto readOnce = [&]
    { return RetryOnEintr([&] { return Sys().read(object->fd, buffer, count); }); };
    auto handOver = [&](ssize_t n)
    {
        if (received)
            *received = static_cast<DWORD>(n);
        return TRUE;
    };
    const IoDeadline deadline = IoDeadline::After(IoClock::now(), waitMs);
    for (;;)
    {
        const SysResult<ssize_t> r = readOnce();
        if (r.value > 0 || (r.value == 0 && !object->tty))
            return handOver(r.value);
        if (r.Failed() && r.error != EAGAIN)
            return fail(r.error);
        if (deadline.Passed())
            return TRUE;
        const PollResult pr = pollOne(object->fd, POLLIN, deadline);
        if (const int err = pr.WaitError())
            return fail(err);
        if (pr.revents & (POLLHUP | POLLERR))
        {
            // Nothing to read and never will be; let read report why, else call it gone.
            const SysResult<ssize_t> last = readOnce();
            if (last.value > 0)
                return handOver(last.value);
            return fail(last.Failed() && last.error != EAGAIN ? last.error : EIO);
        }
    }
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written, void* overlapped)
{
    DeviceFileObject* object = startTransfer(handle, buffer, count, written, overlapped != nullptr);
    if (!object)
        return FALSE;

    const COMMTIMEOUTS& to = object->timeouts;
    const long long total = static_cast<long long>(to.WriteTotalTimeoutMultiplier) * count +
                            to.WriteTotalTimeoutConstant;
    const long long stall = object->writeStallLimitMs;

    auto* bytes = static_cast<const unsigned char*>(buffer);
    DWORD sent = 0;
    const IoClock::time_point start = IoClock::now();
    const IoDeadline totalDeadline = IoDeadline::Limit(start, total);
    // Runs from the last progress (the start, until a byte is taken).
    IoDeadline stallDeadline = IoDeadline::Limit(start, stall);
    bool readyButRefused = false;
    while (sent < count)
    {
        const SysResult<ssize_t> r =
            RetryOnEintr([&] { return Sys().write(object->fd, bytes + sent, count - sent); });
        if (r.value > 0)
        {
            sent += static_cast<DWORD>(r.value);
            stallDeadline = IoDeadline::Limit(IoClock::now(), stall);
            readyButRefused = false;
            continue;
        }
        if (r.Failed() && r.error != EAGAIN)
            return failAfter(written, sent, r.error);
        const IoDeadline deadline = totalDeadline.Earliest(stallDeadline);
        if (deadline.Passed())
            break;
        if (readyButRefused)
        {
            // The driver claims to be writable yet refuses: it has no real poll (lp).
            // Try again shortly instead of spinning.
            const int left = deadline.PollTimeoutMs();
            if (!sleepMs(left < 0 ? kRetrySliceMs : std::min(left, kRetrySliceMs)))
                return failAfter(written, sent, ECANCELED);
            readyButRefused = false;
            continue;
        }
        const PollResult pr = pollOne(object->fd, POLLOUT, deadline);
        if (const int err = pr.WaitError())
            return failAfter(written, sent, err);
        if (pr.value > 0)
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
    const IoDeadline deadline = IoDeadline::Limit(IoClock::now(), limit);
    for (;;)
    {
        if (deadline.Passed())
            return failWith(ERROR_TIMEOUT);
        const PollResult pr = pollOne(object->fd, POLLOUT, deadline);
        if (const int err = pr.WaitError())
            return fail(err);
        // poll's own time limit has passed.
        if (pr.value == 0)
            return failWith(ERROR_TIMEOUT);
        if (pr.revents & (POLLERR | POLLHUP))
            return fail(EIO);
        if (pr.revents & POLLOUT)
            return TRUE;
    }
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
    const SysResult<int> opened =
        openPath(devicePath + ".ieee1284", O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (opened.Failed())
        return fail(opened.error == ENOENT ? ENOTTY : opened.error);
    const int fd = opened.value;
    DWORD got = 0;
    while (got < outSize)
    {
        const SysResult<ssize_t> r =
            RetryOnEintr([&] { return Sys().read(fd, out + got, outSize - got); });
        if (r.value <= 0)
            break;
        got += static_cast<DWORD>(r.value);
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
    const SysResult<int> r =
        RetryOnEintr([&] { return Sys().ioctl(object->fd, usblpGetDeviceId(outSize), bytes); });
    if (r.Failed())
    {
        if (r.error == ENOTTY || r.error == EINVAL)
            return readSidecar(object->path, bytes, outSize, returned);
        return fail(r.error);
    }
    if (returned)
        *returned = answerLength(bytes, outSize);
    return TRUE;
}
