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

const char* relocatedRoot()
{
    const char* relocated = std::getenv("VARKO_SETTINGS_ROOT");
    return relocated && *relocated ? relocated : nullptr;
}

InstanceLockFolder lockFolder(const std::string& runUserBase, const std::string& tmpBase,
                              bool relocatable)
{
    if (const char* relocated = relocatable ? relocatedRoot() : nullptr)
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
    return OpenInstanceLockFolder(runUserBase, tmpBase);
}

// The lock file in a folder just checked, whatever its path leads to by now; -1 with
// why in problem.
int openLockFile(const InstanceLockFolder& f, const std::string& file, std::string& problem)
{
    const int fd = ::openat(f.fd, file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    const int err = errno;
    if (fd < 0)
    {
        problem = f.path + "/" + file + ": " + std::strerror(err);
        return -1;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
    {
        Sys().close(fd);
        problem = f.path + "/" + file + " is not this user's file";
        return -1;
    }
    return fd;
}

// 0 when taken, else the error (EWOULDBLOCK: held elsewhere).
int tryLock(int fd)
{
    const SysResult<int> r = RetryOnEintr([&] { return Sys().flock(fd, LOCK_EX | LOCK_NB); });
    return r.Failed() ? r.error : 0;
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

CInstanceLock::CInstanceLock(CString name, std::string runUserBase, std::string tmpBase)
    : m_name(std::move(name)), m_runUserBase(std::move(runUserBase)), m_tmpBase(std::move(tmpBase)),
      m_bRelocatable(false)
{
}

CInstanceLock::~CInstanceLock()
{
    Release();
}

CString CInstanceLock::LockFilePath() const
{
    InstanceLockFolder f = lockFolder(m_runUserBase, m_tmpBase, m_bRelocatable);
    if (f.fd < 0)
        return CString();
    Sys().close(f.fd);
    return CString(f.path + "/" + m_name.str() + ".lock");
}

CInstanceLock::EResult CInstanceLock::Fail(const std::string& why)
{
    m_failure = CString("The printers cannot be locked against a second program: " + why +
                        ". Remove it, or have it removed, and try again.");
    return eFailed;
}

CInstanceLock::EResult CInstanceLock::Acquire()
{
    if (m_held)
        return eAcquired;
    m_failure.Empty();
    if (m_name.IsEmpty() || m_name.Find('/') >= 0)
        return Fail("the lock name \"" + m_name.str() + "\" is not a file name");
    const std::string file = m_name.str() + ".lock";
    if (m_fd < 0)
    {
        InstanceLockFolder f = lockFolder(m_runUserBase, m_tmpBase, m_bRelocatable);
        if (f.fd < 0)
            return Fail(f.problem);
        std::string problem;
        m_fd = openLockFile(f, file, problem);
        const bool inRuntimeFolder =
            f.path.compare(0, m_runUserBase.size() + 1, m_runUserBase + "/") == 0 &&
            !(m_bRelocatable && relocatedRoot());
        Sys().close(f.fd);
        if (m_fd < 0)
            return Fail(problem);
        if (inRuntimeFolder)
        {
            std::string ignored;
            InstanceLockFolder tmp;
            tmp.path = m_tmpBase + "/varko-" + std::to_string(::getuid());
            tmp.fd = openPrivateFolder(tmp.path, true, ignored);
            if (tmp.fd >= 0)
            {
                m_companionFd = openLockFile(tmp, file, ignored);
                Sys().close(tmp.fd);
            }
        }
    }
    if (const int err = tryLock(m_fd))
        return err == EWOULDBLOCK
                   ? eHeldElsewhere
                   : Fail(std::string("the lock cannot be taken: ") + std::strerror(err));
    if (m_companionFd >= 0)
        if (const int err = tryLock(m_companionFd))
        {
            // A program without a runtime folder holds it: it runs, so this one may not.
            Sys().flock(m_fd, LOCK_UN);
            return err == EWOULDBLOCK
                       ? eHeldElsewhere
                       : Fail(std::string("the lock cannot be taken: ") + std::strerror(err));
        }
    m_held = true;
    return eAcquired;
}

void CInstanceLock::Release()
{
    // Closing a descriptor drops its lock; the file stays for the next holder, so nobody
    // can unlink it from under a program that is just opening it.
    for (int* fd : {&m_fd, &m_companionFd})
        if (*fd >= 0)
        {
            Sys().close(*fd);
            *fd = -1;
        }
    m_held = false;
}
