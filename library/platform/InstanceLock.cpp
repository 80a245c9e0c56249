#include "InstanceLock.h"

#include "IoRetry.h"
#include "SysCalls.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::string because(const std::string& dir, const char* what)
{
    return dir + " " + what;
}

// Whether what lstat or fstat saw is a folder only this user can enter or change.
const char* unsafeFolder(const struct stat& st)
{
    if (S_ISLNK(st.st_mode))
        return "is a symbolic link";
    if (!S_ISDIR(st.st_mode))
        return "is not a folder";
    if (st.st_uid != ::getuid())
        return "belongs to another user";
    if (st.st_mode & 077)
        return "is open to other users";
    return nullptr;
}

// Opens dir if it is safely ours, made first when create is set. Both looks are needed:
// lstat sees a link where open would follow it, and fstat of the open folder sees the
// folder actually used, even if the path was swapped in between.
int openPrivateFolder(const std::string& dir, bool create, std::string& problem)
{
    if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    {
        problem = dir + ": " + std::strerror(errno);
        return -1;
    }
    struct stat seen;
    if (::lstat(dir.c_str(), &seen) != 0)
    {
        problem = dir + ": " + std::strerror(errno);
        return -1;
    }
    if (const char* why = unsafeFolder(seen))
    {
        problem = because(dir, why);
        return -1;
    }
    const int fd = Sys().open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    if (fd < 0)
    {
        problem = dir + ": " + std::strerror(errno);
        return -1;
    }
    struct stat opened;
    const char* why = ::fstat(fd, &opened) != 0 ? "cannot be examined" : unsafeFolder(opened);
    if (!why && (opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino))
        why = "changed while it was checked";
    if (why)
    {
        Sys().close(fd);
        problem = because(dir, why);
        return -1;
    }
    return fd;
}

InstanceLockFolder lockFolder()
{
    if (const char* relocated = std::getenv("VARKO_SETTINGS_ROOT"); relocated && *relocated)
    {
        // A relocated settings root (tests, the demo) is a world of its own and carries
        // its own lock.
        InstanceLockFolder f;
        std::string root = relocated;
        if (::mkdir(root.c_str(), 0700) != 0 && errno != EEXIST)
        {
            f.problem = root + ": " + std::strerror(errno);
            return f;
        }
        f.path = root + "/run";
        f.fd = openPrivateFolder(f.path, true, f.problem);
        return f;
    }
    return OpenInstanceLockFolder("/run/user", "/tmp");
}
} // namespace

InstanceLockFolder OpenInstanceLockFolder(const std::string& runUserBase,
                                          const std::string& tmpBase)
{
    const std::string uid = std::to_string(::getuid());
    InstanceLockFolder f;
    f.path = runUserBase + "/" + uid;
    struct stat st;
    if (::lstat(f.path.c_str(), &st) == 0 && st.st_uid == ::getuid())
    {
        f.fd = openPrivateFolder(f.path, false, f.problem);
        if (f.fd >= 0)
            return f;
    }
    f.path = tmpBase + "/varko-" + uid;
    f.problem.clear();
    f.fd = openPrivateFolder(f.path, true, f.problem);
    return f;
}

CInstanceLock::CInstanceLock(CString name) : m_name(std::move(name)) {}

CInstanceLock::~CInstanceLock()
{
    Release();
}

CString CInstanceLock::LockFilePath() const
{
    InstanceLockFolder f = lockFolder();
    if (f.fd < 0)
        return CString();
    Sys().close(f.fd);
    return CString(f.path + "/" + m_name.str() + ".lock");
}

CInstanceLock::EResult CInstanceLock::Acquire()
{
    if (m_held)
        return eAcquired;
    m_failure.Empty();
    auto failed = [this](const std::string& why)
    {
        m_failure = CString("The printers cannot be locked against a second program: " + why +
                            ". Remove it, or have it removed, and try again.");
        return eFailed;
    };
    if (m_name.IsEmpty() || m_name.Find('/') >= 0)
        return failed("the lock name \"" + m_name.str() + "\" is not a file name");
    if (m_fd < 0)
    {
        InstanceLockFolder f = lockFolder();
        if (f.fd < 0)
            return failed(f.problem);
        const std::string file = m_name.str() + ".lock";
        // Inside the folder just checked, whatever its path leads to by now.
        m_fd = ::openat(f.fd, file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        const int err = errno;
        Sys().close(f.fd);
        struct stat st;
        if (m_fd < 0)
            return failed(f.path + "/" + file + ": " + std::strerror(err));
        if (::fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
        {
            Sys().close(m_fd);
            m_fd = -1;
            return failed(f.path + "/" + file + " is not this user's file");
        }
    }
    const SysResult<int> r = RetryOnEintr([&] { return Sys().flock(m_fd, LOCK_EX | LOCK_NB); });
    if (!r.Failed())
    {
        m_held = true;
        return eAcquired;
    }
    if (r.error == EWOULDBLOCK)
        return eHeldElsewhere;
    return failed(std::string("the lock cannot be taken: ") + std::strerror(r.error));
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
