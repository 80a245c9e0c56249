#include "CFile.h"

#include "IoRetry.h"
#include "SysCalls.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

CFile::CFile() : m_fd(-1) {}

CFile::CFile(const CString& path, UINT openFlags) : m_fd(-1)
{
    CFileException error(CFileException::none, 0, path);
    if (!Open(path, openFlags, &error))
        throw error;
}

CFile::~CFile()
{
    if (m_fd >= 0)
        Sys().close(m_fd);
}

BOOL CFile::Open(const CString& path, UINT openFlags, CFileException* error)
{
    auto fail = [&](CFileException::Cause cause, int err)
    {
        if (error)
            *error = CFileException(cause, err, path);
        return FALSE;
    };
    if (m_fd >= 0)
        return fail(CFileException::genericException, 0);
    m_strFileName = path;
    if ((openFlags & 0x3) != modeRead)
        return fail(CFileException::invalidFile, EINVAL);
    // Without waiting: a FIFO named as the file would hold the open (and the printer's
    // thread) until someone writes to it.
    int fd = Sys().open(path.GetString(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (fd < 0)
    {
        int err = errno;
        if (error)
            *error = CFileException::FromErrno(err, path);
        return FALSE;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0)
    {
        const int err = errno;
        Sys().close(fd);
        if (error)
            *error = CFileException::FromErrno(err, path);
        return FALSE;
    }
    if (S_ISDIR(st.st_mode))
    {
        Sys().close(fd);
        return fail(CFileException::accessDenied, EISDIR);
    }
    if (!S_ISREG(st.st_mode))
    {
        // A device or pipe has no length to send and may never end.
        Sys().close(fd);
        return fail(CFileException::invalidFile, 0);
    }
    if (openFlags & shareDenyWrite)
    {
        if (Sys().flock(fd, LOCK_SH | LOCK_NB) != 0)
        {
            int err = errno;
            // Only a conflicting holder refuses the open; a file system without locks
            // still lets the file be read.
            if (err == EWOULDBLOCK)
            {
                Sys().close(fd);
                return fail(CFileException::sharingViolation, err);
            }
        }
    }
    m_fd = fd;
    return TRUE;
}

void CFile::ThrowErrno(int err) const
{
    throw CFileException::FromErrno(err, m_strFileName);
}

std::uint64_t CFile::GetLength() const
{
    if (m_fd < 0)
        throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        ThrowErrno(errno);
    return static_cast<std::uint64_t>(st.st_size);
}

UINT CFile::Read(void* buffer, UINT count)
{
    if (m_fd < 0)
        throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    const SysResult<ssize_t> n = RetryOnEintr([&] { return Sys().read(m_fd, buffer, count); });
    if (n.Failed())
        ThrowErrno(n.error);
    return static_cast<UINT>(n.value);
}

std::uint64_t CFile::Seek(std::int64_t offset, UINT from)
{
    if (m_fd < 0)
        throw CFileException(CFileException::invalidFile, EBADF, m_strFileName);
    int whence = from == begin ? SEEK_SET : from == end ? SEEK_END : SEEK_CUR;
    off_t pos = ::lseek(m_fd, static_cast<off_t>(offset), whence);
    if (pos < 0)
    {
        int err = errno;
        throw CFileException(err == EINVAL ? CFileException::badSeek
                                           : CFileException::FromErrno(err, m_strFileName).m_cause,
                             err, m_strFileName);
    }
    return static_cast<std::uint64_t>(pos);
}

void CFile::Close()
{
    if (m_fd < 0)
        return;
    int fd = m_fd;
    m_fd = -1;
    // The descriptor is gone whatever close answers, so never retry it.
    if (Sys().close(fd) != 0 && errno != EINTR)
        ThrowErrno(errno);
}
