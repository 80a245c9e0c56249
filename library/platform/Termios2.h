#pragma once
// Line speeds that <termios.h> has no constant for (14400, 56000, 128000, 256000)
// are set through the kernel's termios2 with BOTHER. Its header clashes with glibc's
// <termios.h>, so the code that needs it lives alone in Termios2.cpp and this header
// speaks only in plain types. The ioctl itself is passed in, so that it still goes
// through the system-call seam.
//
// Threading: no state; callable from any thread.
using Termios2Ioctl = int (*)(int fd, unsigned long request, void* arg);

// Sets input and output speed to rate (bits per second) and leaves every other setting
// as it is. 0, or -1 with errno.
int SetLineSpeedTermios2(int fd, unsigned rate, Termios2Ioctl ioctlFn);
// Reads both speeds back. 0, or -1 with errno.
int GetLineSpeedTermios2(int fd, unsigned* inputRate, unsigned* outputRate, Termios2Ioctl ioctlFn);

// For tests that record what was asked of the seam.
unsigned long Termios2SetRequest();
unsigned long Termios2GetRequest();
// The speeds in a termios2 structure passed to the set request; false unless the
// structure asks for an arbitrary rate (BOTHER) in both directions.
bool Termios2RequestedSpeeds(const void* arg, unsigned* inputRate, unsigned* outputRate);
