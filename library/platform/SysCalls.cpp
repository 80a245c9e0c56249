#include "SysCalls.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace
{
int realOpen(const char* path, int flags, mode_t mode)
{
    return ::open(path, flags, mode);
}
int realIoctl(int fd, unsigned long request, void* arg)
{
    return ::ioctl(fd, request, arg);
}

const SysCalls kReal = {
    realOpen,     ::close,      ::read,           ::write,     ::poll,      realIoctl,  ::fsync,
    ::rename,     ::unlink,     ::flock,          ::tcgetattr, ::tcsetattr, ::tcflush,  ::socket,
    ::connect,    ::bind,       ::send,           ::recv,      ::sendto,    ::recvfrom, ::shutdown,
    ::setsockopt, ::getsockopt, ::pthread_create, ::fstat,
};

SysCalls g_current = kReal;
} // namespace

SysCalls& Sys()
{
    return g_current;
}

const SysCalls& RealSysCalls()
{
    return kReal;
}
