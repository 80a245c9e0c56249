// Deliberately without <termios.h>: <asm/termbits.h> defines its own struct termios.
#include "Termios2.h"

#include "IoRetry.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cerrno>

int SetLineSpeedTermios2(int fd, unsigned rate, Termios2Ioctl ioctlFn)
{
    struct termios2 t;
    // A failure leaves errno as the failing request set it, for the caller.
    if (RetryOnEintr([&] { return ioctlFn(fd, TCGETS2, &t); }).Failed())
        return -1;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = rate;
    t.c_ospeed = rate;
    return RetryOnEintr([&] { return ioctlFn(fd, TCSETS2, &t); }).Failed() ? -1 : 0;
}

int GetLineSpeedTermios2(int fd, unsigned* inputRate, unsigned* outputRate, Termios2Ioctl ioctlFn)
{
    struct termios2 t;
    // A failure leaves errno as the failing request set it, for the caller.
    if (RetryOnEintr([&] { return ioctlFn(fd, TCGETS2, &t); }).Failed())
        return -1;
    if (inputRate)
        *inputRate = t.c_ispeed;
    if (outputRate)
        *outputRate = t.c_ospeed;
    return 0;
}

unsigned long Termios2SetRequest()
{
    return TCSETS2;
}
unsigned long Termios2GetRequest()
{
    return TCGETS2;
}

bool Termios2RequestedSpeeds(const void* arg, unsigned* inputRate, unsigned* outputRate)
{
    const auto* t = static_cast<const struct termios2*>(arg);
    if ((t->c_cflag & CBAUD) != BOTHER || ((t->c_cflag >> IBSHIFT) & CBAUD) != BOTHER)
        return false;
    if (inputRate)
        *inputRate = t->c_ispeed;
    if (outputRate)
        *outputRate = t->c_ospeed;
    return true;
}
