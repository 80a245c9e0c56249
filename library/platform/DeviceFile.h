#pragma once
// Device files the way the port code expects them: open by (Windows-style) name,
// synchronous read and write bounded by per-handle time-outs, purge, the per-thread
// last error. A HANDLE is a pointer to one of our own handle objects; every call checks
// it against the set of live handles, so a stale or foreign handle fails with
// ERROR_INVALID_HANDLE instead of touching memory.
//
// Every descriptor is opened non-blocking and all waiting is done with poll, so no call
// blocks beyond the time-outs its handle carries; a wait also ends, with
// ERROR_OPERATION_ABORTED, when the calling thread's cancel event is set
// (CThreadCancelScope, WaitHandles.h). Every system call goes through the
// Sys() seam. errno is captured at the failing call and turned into a Win32 number
// (ErrorMapping.h); GetLastErrorText() keeps the system's words for it.
//
// Threading: a handle is used by one thread at a time. The last error is per thread.
#include "CString.h"
#include "WinTypes.h"

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x1;
constexpr DWORD FILE_SHARE_WRITE = 0x2;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;

constexpr DWORD PURGE_TXABORT = 0x1;
constexpr DWORD PURGE_RXABORT = 0x2;
constexpr DWORD PURGE_TXCLEAR = 0x4;
constexpr DWORD PURGE_RXCLEAR = 0x8;

constexpr DWORD MAXDWORD = 0xFFFFFFFF;

// The USB printer-class request for the IEEE 1284 device identification.
constexpr DWORD IOCTL_USBPRINT_GET_1284_ID = 0x220034;

struct COMSTAT
{
    DWORD fFlags;
    DWORD cbInQue;
    DWORD cbOutQue;
};

struct COMMTIMEOUTS
{
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
};

constexpr BYTE NOPARITY = 0;
constexpr BYTE ODDPARITY = 1;
constexpr BYTE EVENPARITY = 2;
constexpr BYTE MARKPARITY = 3;
constexpr BYTE SPACEPARITY = 4;
constexpr BYTE ONESTOPBIT = 0;
constexpr BYTE ONE5STOPBITS = 1;
constexpr BYTE TWOSTOPBITS = 2;
constexpr DWORD DTR_CONTROL_DISABLE = 0;
constexpr DWORD DTR_CONTROL_ENABLE = 1;
constexpr DWORD DTR_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_DISABLE = 0;
constexpr DWORD RTS_CONTROL_ENABLE = 1;
constexpr DWORD RTS_CONTROL_HANDSHAKE = 2;
constexpr DWORD RTS_CONTROL_TOGGLE = 3;

// The serial line as the port code describes it. On Linux: BaudRate, ByteSize, Parity,
// StopBits, fParity (input parity check), fOutX/fInX with XonChar/XoffChar, and RTS/CTS
// (fOutxCtsFlow or fRtsControl handshake) become termios settings; fDtrControl and
// fRtsControl enable/disable set the modem lines. XonLim, XoffLim, fBinary (a Linux line
// is always binary once raw), fOutxDsrFlow, fDsrSensitivity, fTXContinueOnXoff,
// fErrorChar, fNull and fAbortOnError have no Linux counterpart and are kept only so
// that what was read comes back unchanged.
struct DCB
{
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
};

// Opens a device by name (resolved with ResolveDeviceName). access: GENERIC_READ and/or
// GENERIC_WRITE. share 0 opens exclusively: flock(LOCK_EX|LOCK_NB) on the device, plus
// TIOCEXCL on a terminal, so a second open of the same device, by this process or
// another, fails with ERROR_ACCESS_DENIED, as a held COM port does on Windows. Any other
// share mode takes no lock. Only OPEN_EXISTING is offered. A terminal is put into raw
// mode (speed, framing and handshake kept) so bytes pass unchanged. flags and the unused arguments
// are accepted for the callers' sake; FILE_FLAG_OVERLAPPED changes nothing, since waiting is always
// bounded by the handle's limits.
HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
// Releases the lock, the exclusive mode of a terminal and the descriptor.
BOOL CloseHandle(HANDLE handle);

// What a port accepts behind its name. The name comes from a settings file, and a
// settings file opens on a double-click: it may name the user's own files or terminal.
// So the kind is checked on the opened descriptor (fstat), before anything is written
// to it or a line setting changed, never by the name alone.
enum class EDeviceKind
{
    eSerialLine,      // a serial terminal line (not a console, not this session's terminal)
    eParallelPrinter, // an lp node
    eUsbPrinter,      // a usblp node
    ePrinterDevice    // any one of the three (the plain base port)
};

// The facts about an opened device that decide whether a port may use it.
struct DeviceIdentity
{
    bool characterDevice = false;
    unsigned major = 0;
    unsigned minor = 0;
    bool terminal = false;            // answers terminal requests
    bool controllingTerminal = false; // the terminal of this program's own session
    bool throughOverride = false;     // named by an entry of a device-override folder
    bool usbPrinterNode = false;      // the system lists it as a USB printer (lp) node
};
// Whether the device may be used by a port of that kind. A pseudo-terminal passes only
// when an override-folder entry names it: that is how the simulator and the tests play
// printers, while a pseudo-terminal named anywhere else is somebody's terminal window.
bool DeviceFitsKind(const DeviceIdentity& device, EDeviceKind kind);

// CreateFileA for the ports: the same open, but a device that does not fit the kind is
// closed again untouched and refused (ERROR_NOT_SUPPORTED), so the port reports itself
// unavailable.
HANDLE OpenPortDevice(const char* name, DWORD access, DWORD share, EDeviceKind kind);

// Synchronous transfers bounded by the handle's COMMTIMEOUTS, with the Windows rules:
// a read ends when the buffer is full, when ReadIntervalTimeout passes after a byte
// (the interval starts at the first byte), or when the total (multiplier * count +
// constant) has passed since the call began, with what arrived and TRUE. All zero
// waits for the whole buffer; an interval of MAXDWORD with zero totals returns what is
// there at once. A write ends when all bytes are taken, or after its total, or after
// the handle's write stall limit without progress, with the count taken and TRUE.
// EINTR is retried. The overlapped argument must be null.
BOOL ReadFile(HANDLE handle, void* buffer, DWORD count, DWORD* received, void* overlapped);
BOOL WriteFile(HANDLE handle, const void* buffer, DWORD count, DWORD* written, void* overlapped);
// Waits at most waitMs for the device to have data, then takes one read of what is
// there (up to count). 0 bytes and TRUE when nothing came. This is the transfer of a
// USB printer: one completion per request.
BOOL ReadFileWithin(HANDLE handle, void* buffer, DWORD count, DWORD* received, DWORD waitMs);

// Waits until the device has finished what was written to it: a USB printer's
// driver returns from a write once the last piece is handed to the bus, and closing
// the device then would throw that piece away; it reports the device writable again
// when the transfer has completed. The wait is bounded by the handle's write limit
// (its write stall limit, or its total write time-out when shorter) and fails with
// ERROR_TIMEOUT when the device never gets there. A terminal has nothing pending that
// a close would drop: TRUE at once.
BOOL FlushFileBuffers(HANDLE handle);

BOOL SetCommTimeouts(HANDLE handle, const COMMTIMEOUTS* timeouts);
BOOL GetCommTimeouts(HANDLE handle, COMMTIMEOUTS* timeouts);
// A write that makes no progress for this long ends with the count taken so far;
// 0 means no such limit (the default).
BOOL SetWriteStallLimit(HANDLE handle, DWORD milliseconds);

// Flushes the terminal queues. PURGE_RXABORT and PURGE_RXCLEAR drop unread input;
// PURGE_TXCLEAR drops output not yet sent. PURGE_TXABORT only aborts transfers in
// progress, and since every transfer here is synchronous there is none: it deliberately
// does not drop queued output, because Linux queues written bytes in the tty buffer and
// dropping them at close would lose the last command sent. Devices that are not
// terminals have no queues to flush.
BOOL PurgeComm(HANDLE handle, DWORD flags);
// Reports the queue sizes; Linux keeps no sticky line-error state to clear.
BOOL ClearCommError(HANDLE handle, DWORD* errors, COMSTAT* status);
BOOL SetCommMask(HANDLE handle, DWORD mask);
// Serial line state (SerialLine.cpp). SetCommState reads the speed back and fails with
// ERROR_INVALID_PARAMETER when the device did not take it exactly (drivers round to a
// rate they can do instead of refusing).
BOOL GetCommState(HANDLE handle, DCB* dcb);
BOOL SetCommState(HANDLE handle, const DCB* dcb);

// Only IOCTL_USBPRINT_GET_1284_ID is offered: it becomes usblp's LPIOC_GET_DEVICE_ID
// with the output size. The answer is what the device sends: a two-byte big-endian
// length that counts itself, then the identification text. A device without that
// request (ENOTTY or EINVAL, such as a simulated printer on a pseudo-terminal) is
// answered from the file "<device path>.ieee1284", which holds exactly those bytes.
// *returned is the number of answer bytes in the buffer.
BOOL DeviceIoControl(HANDLE handle, DWORD code, const void* in, DWORD inSize, void* out,
                     DWORD outSize, DWORD* returned, void* overlapped);

// The per-thread last error, as Windows keeps it.
DWORD GetLastError();
void SetLastError(DWORD error);
// The system's words for the last error, captured where the call failed (empty when
// the error was set by number only and has no system text).
CString GetLastErrorText();
// Sets the last error from an errno value (translated as a device error).
void SetLastErrorFromErrno(int err);
// Sets both, for layers that translate errno themselves (sockets).
void SetLastErrorWithText(DWORD error, CString text);

// The descriptor behind a handle, or -1; for the serial line code and tests only.
int DeviceFileDescriptor(HANDLE handle);
// The path a handle was opened by (after name resolution).
CString DeviceFilePath(HANDLE handle);
