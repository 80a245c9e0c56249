// The serial line of a device handle, described as a DCB and programmed with termios.
#include "DeviceFile.h"
#include "DeviceFileObject.h"
#include "ErrorMapping.h"
#include "IoRetry.h"
#include "SysCalls.h"
#include "Termios2.h"

#include <cerrno>
#include <sys/ioctl.h>

namespace
{
struct SpeedEntry
{
    DWORD rate;
    speed_t code;
};

constexpr SpeedEntry kSpeeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool speedCode(DWORD rate, speed_t* code)
{
    for (const SpeedEntry& e : kSpeeds)
        if (e.rate == rate)
        {
            *code = e.code;
            return true;
        }
    return false;
}

DWORD rateOfCode(speed_t code)
{
    for (const SpeedEntry& e : kSpeeds)
        if (e.code == code)
            return e.rate;
    return 0;
}

BOOL failErrno(int err)
{
    SetLastErrorFromErrno(err);
    return FALSE;
}

BOOL failWith(DWORD error)
{
    SetLastError(error);
    return FALSE;
}

int termios2Ioctl(int fd, unsigned long request, void* arg)
{
    return Sys().ioctl(fd, request, arg);
}

// The modem lines; false when the device has none (a pseudo-terminal says ENOTTY).
bool modemLines(int fd, int* lines)
{
    return Sys().ioctl(fd, TIOCMGET, lines) == 0;
}

// Raises or drops one modem line. A device without modem lines has nothing to change,
// which is not an error.
bool setModemLine(int fd, int line, bool on, int* err)
{
    int bits = line;
    const SysResult<int> r =
        RetryOnEintr([&] { return Sys().ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits); });
    if (r.Failed() && r.error != ENOTTY && r.error != EINVAL)
    {
        *err = r.error;
        return false;
    }
    return true;
}
} // namespace

BOOL GetCommState(HANDLE handle, DCB* dcb)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (!dcb)
        return failWith(ERROR_INVALID_PARAMETER);
    struct termios t;
    if (Sys().tcgetattr(object->fd, &t) < 0)
        return failErrno(errno);

    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = rateOfCode(cfgetospeed(&t));
    if (d.BaudRate == 0)
    {
        unsigned in = 0, out = 0;
        if (GetLineSpeedTermios2(object->fd, &in, &out, termios2Ioctl) == 0)
            d.BaudRate = out;
    }
    switch (t.c_cflag & CSIZE)
    {
    case CS5:
        d.ByteSize = 5;
        break;
    case CS6:
        d.ByteSize = 6;
        break;
    case CS7:
        d.ByteSize = 7;
        break;
    default:
        d.ByteSize = 8;
        break;
    }
    if (!(t.c_cflag & PARENB))
        d.Parity = NOPARITY;
    else if (t.c_cflag & CMSPAR)
        d.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
    else
        d.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
    d.StopBits = (t.c_cflag & CSTOPB) ? TWOSTOPBITS : ONESTOPBIT;
    d.fBinary = 1;
    d.fParity = (t.c_iflag & INPCK) ? 1 : 0;
    d.fOutX = (t.c_iflag & IXON) ? 1 : 0;
    d.fInX = (t.c_iflag & IXOFF) ? 1 : 0;
    d.XonChar = static_cast<char>(t.c_cc[VSTART]);
    d.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    bool rtscts = t.c_cflag & CRTSCTS;
    d.fOutxCtsFlow = rtscts ? 1 : 0;
    int lines = 0;
    bool haveLines = modemLines(object->fd, &lines);
    // Without readable modem lines, report them raised: that is what Linux does with
    // them at open, and writing the state back then changes nothing.
    d.fDtrControl = (!haveLines || (lines & TIOCM_DTR)) ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    if (rtscts)
        d.fRtsControl = RTS_CONTROL_HANDSHAKE;
    else
        d.fRtsControl =
            (!haveLines || (lines & TIOCM_RTS)) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
    *dcb = d;
    return TRUE;
}

BOOL SetCommState(HANDLE handle, const DCB* dcb)
{
    DeviceFileObject* object = LookUpDeviceFile(handle);
    if (!object)
        return failWith(ERROR_INVALID_HANDLE);
    if (!dcb)
        return failWith(ERROR_INVALID_PARAMETER);
    // What Windows drivers refuse, refused here before anything changes.
    if (dcb->BaudRate == 0 || dcb->ByteSize < 5 || dcb->ByteSize > 8 || dcb->Parity > SPACEPARITY ||
        (dcb->StopBits != ONESTOPBIT && dcb->StopBits != TWOSTOPBITS))
        return failWith(ERROR_INVALID_PARAMETER);

    const int fd = object->fd;
    struct termios t;
    if (Sys().tcgetattr(fd, &t) < 0)
        return failErrno(errno);

    t.c_iflag &=
        ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[dcb->ByteSize - 5];
    switch (dcb->Parity)
    {
    case ODDPARITY:
        t.c_cflag |= PARENB | PARODD;
        break;
    case EVENPARITY:
        t.c_cflag |= PARENB;
        break;
    case MARKPARITY:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case SPACEPARITY:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    if (dcb->Parity != NOPARITY && dcb->fParity)
        t.c_iflag |= INPCK;
    if (dcb->StopBits == TWOSTOPBITS)
        t.c_cflag |= CSTOPB;
    // Software handshake: fOutX lets the printer stop our output with XOFF (IXON);
    // fInX would have us send XOFF when our buffer fills (IXOFF). IXANY stays off so
    // that only XON resumes output.
    if (dcb->fOutX)
        t.c_iflag |= IXON;
    if (dcb->fInX)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(dcb->XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb->XoffChar);
    // Linux has one switch for both halves of the hardware handshake.
    const bool rtscts = dcb->fOutxCtsFlow || dcb->fRtsControl == RTS_CONTROL_HANDSHAKE;
    if (rtscts)
        t.c_cflag |= CRTSCTS;
    // Reads never wait in the driver: the time-outs are ours (ReadFile).
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;

    speed_t code;
    const bool standard = speedCode(dcb->BaudRate, &code);
    // A rate without a constant is set afterwards through termios2. Until then the line
    // gets a standard placeholder: whatever speed the line had (a previous arbitrary
    // rate, a split input rate) can make glibc's tcsetattr refuse the whole call.
    if (!standard)
        code = B38400;
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    const SysResult<int> r = RetryOnEintr([&] { return Sys().tcsetattr(fd, TCSANOW, &t); });
    // glibc reads the line back and reports EINVAL when the device did not take the
    // character size or parity. A pseudo-terminal (a simulated printer) always forces 8
    // data bits and no parity, with everything else applied: that is not a refusal.
    if (r.Failed() && !(r.error == EINVAL && object->pseudoTerminal))
        return failErrno(r.error);
    if (!standard && SetLineSpeedTermios2(fd, dcb->BaudRate, termios2Ioctl) < 0)
        return failErrno(errno);

    // Drivers round a speed they cannot do to one they can instead of failing; the
    // printer would then see garbage, so anything but the exact rate is refused.
    DWORD actual = 0;
    struct termios back;
    if (Sys().tcgetattr(fd, &back) < 0)
        return failErrno(errno);
    if (standard)
        actual = rateOfCode(cfgetospeed(&back));
    else
    {
        unsigned in = 0, out = 0;
        if (GetLineSpeedTermios2(fd, &in, &out, termios2Ioctl) < 0)
            return failErrno(errno);
        actual = out == in ? out : 0;
    }
    if (actual != dcb->BaudRate)
        return failWith(ERROR_INVALID_PARAMETER);

    int err = 0;
    switch (dcb->fDtrControl)
    {
    case DTR_CONTROL_DISABLE:
        if (!setModemLine(fd, TIOCM_DTR, false, &err))
            return failErrno(err);
        break;
    default: // enable; Linux has no DTR handshake, so the line is kept raised
        if (!setModemLine(fd, TIOCM_DTR, true, &err))
            return failErrno(err);
        break;
    }
    if (!rtscts)
    {
        bool on = dcb->fRtsControl != RTS_CONTROL_DISABLE;
        if (!setModemLine(fd, TIOCM_RTS, on, &err))
            return failErrno(err);
    }
    return TRUE;
}
