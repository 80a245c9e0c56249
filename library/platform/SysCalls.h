#pragma once
// Every operating-system call that moves bytes goes through this table, so tests can
// replace one entry (fail the third write, return EINTR twice, record the line settings
// asked of a serial device) without hardware. Production code calls Sys().name(...);
// the entries start out as the real calls.
#include <cstddef>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <termios.h>

struct SysCalls
{
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*read)(int fd, void* buf, std::size_t count);
    ssize_t (*write)(int fd, const void* buf, std::size_t count);
    int (*poll)(struct pollfd* fds, nfds_t nfds, int timeoutMs);
    int (*ioctl)(int fd, unsigned long request, void* arg);
    int (*fsync)(int fd);
    int (*rename)(const char* from, const char* to);
    int (*unlink)(const char* path);
    int (*flock)(int fd, int operation);
    int (*tcgetattr)(int fd, struct termios* t);
    int (*tcsetattr)(int fd, int actions, const struct termios* t);
    int (*tcflush)(int fd, int queue);
    int (*socket)(int domain, int type, int protocol);
    int (*connect)(int fd, const struct sockaddr* addr, socklen_t len);
    int (*bind)(int fd, const struct sockaddr* addr, socklen_t len);
    ssize_t (*send)(int fd, const void* buf, std::size_t len, int flags);
    ssize_t (*recv)(int fd, void* buf, std::size_t len, int flags);
    ssize_t (*sendto)(int fd, const void* buf, std::size_t len, int flags,
                      const struct sockaddr* addr, socklen_t alen);
    ssize_t (*recvfrom)(int fd, void* buf, std::size_t len, int flags, struct sockaddr* addr,
                        socklen_t* alen);
    int (*shutdown)(int fd, int how);
    int (*setsockopt)(int fd, int level, int name, const void* value, socklen_t len);
    int (*getsockopt)(int fd, int level, int name, void* value, socklen_t* len);
    // Worker threads, so tests can see a refused thread start.
    int (*pthread_create)(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                          void* arg);
    // What an opened device is, so tests can play a printer node with an ordinary one.
    int (*fstat)(int fd, struct stat* st);
};

// The table in use. Not synchronised: tests change entries before starting the code
// under test and restore them afterwards (ScopedSysCall).
SysCalls& Sys();
// The real calls, for tests that wrap them.
const SysCalls& RealSysCalls();

// Replaces one entry for the lifetime of the object.
template <typename Fn> class ScopedSysCall
{
public:
    ScopedSysCall(Fn SysCalls::*entry, Fn replacement) : m_entry(entry), m_saved(Sys().*entry)
    {
        Sys().*entry = replacement;
    }
    ~ScopedSysCall() { Sys().*m_entry = m_saved; }
    ScopedSysCall(const ScopedSysCall&) = delete;
    ScopedSysCall& operator=(const ScopedSysCall&) = delete;

private:
    Fn SysCalls::*m_entry;
    Fn m_saved;
};
