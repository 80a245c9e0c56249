#include "InstanceLock.h"

#include "SysCalls.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
bool usableRuntimeDir(const std::string& dir)
{
    struct stat st;
    return !dir.empty() && dir[0] == '/' && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(dir.c_str(), W_OK | X_OK) == 0;
}

// /tmp is shared with every user: the folder must be ours, a real folder (not a link to
// somewhere else) and closed to others, or another user could hold our lock or swap
// the lock file.
std::string privateTmpDir()
{
    std::string dir = "/tmp/varko-" + std::to_string(::getuid());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        (st.st_mode & 077) != 0)
        return {};
    return dir;
}

std::string lockFolder()
{
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && usableRuntimeDir(run))
        return run;
    return privateTmpDir();
}
} // namespace

CInstanceLock::CInstanceLock(CString name) : m_name(std::move(name)) {}

CInstanceLock::~CInstanceLock()
{
    Release();
}

CString CInstanceLock::LockFilePath() const
{
    std::string dir = lockFolder();
    if (dir.empty())
        return CString();
    return CString(dir + "/" + m_name.str() + ".lock");
}

CInstanceLock::EResult CInstanceLock::Acquire()
{
    if (m_held)
        return eAcquired;
    CString path = LockFilePath();
    if (path.IsEmpty() || m_name.IsEmpty() || m_name.Find('/') >= 0)
        return eFailed;
    if (m_fd < 0)
    {
        m_fd = Sys().open(path.GetString(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0)
            return eFailed;
    }
    int r;
    do
        r = Sys().flock(m_fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r == 0)
    {
        m_held = true;
        return eAcquired;
    }
    return errno == EWOULDBLOCK ? eHeldElsewhere : eFailed;
}

void CInstanceLock::Release()
{
    if (m_fd >= 0)
    {
        // Closing the descriptor drops the lock; the file stays for the next holder, so
        // nobody can unlink it from under a program that is just opening it.
        Sys().close(m_fd);
        m_fd = -1;
    }
    m_held = false;
}
