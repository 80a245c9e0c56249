#include "InstanceLock.h"

#include "IoRetry.h"
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
// A folder that must be ours, a real folder (not a link to somewhere else) and closed
// to others, or another user could hold our lock or swap the lock file.
bool privateFolder(const std::string& dir)
{
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

// Only the user id decides where the lock lives, so that every process of one user
// finds the same file: a program started by cron or a service has no XDG_RUNTIME_DIR,
// the desktop's has, and the two must still exclude each other. A relocated settings
// root (VARKO_SETTINGS_ROOT: tests, the demo) is a world of its own and carries its own
// lock.
std::string lockFolder()
{
    if (const char* relocated = std::getenv("VARKO_SETTINGS_ROOT"); relocated && *relocated)
    {
        std::string root = relocated;
        if (::mkdir(root.c_str(), 0700) != 0 && errno != EEXIST)
            return {};
        std::string dir = root + "/run";
        return privateFolder(dir) ? dir : std::string();
    }
    std::string dir = "/tmp/varko-" + std::to_string(::getuid());
    return privateFolder(dir) ? dir : std::string();
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
    const SysResult<int> r = RetryOnEintr([&] { return Sys().flock(m_fd, LOCK_EX | LOCK_NB); });
    if (!r.Failed())
    {
        m_held = true;
        return eAcquired;
    }
    return r.error == EWOULDBLOCK ? eHeldElsewhere : eFailed;
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
