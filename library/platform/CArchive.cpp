#include "CArchive.h"

#include "IoRetry.h"
#include "SysCalls.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

CArchive::CArchive(Mode mode, CString fileName) : m_mode(mode), m_fileName(std::move(fileName)) {}

CArchive::CArchive(std::vector<std::uint8_t> data, CString fileName)
    : m_mode(load), m_fileName(std::move(fileName)), m_data(std::move(data))
{
}

void CArchive::ThrowEnd() const
{
    throw CArchiveException(CArchiveException::endOfFile, m_fileName);
}

void CArchive::RequireLoading() const
{
    if (!IsLoading())
        throw CArchiveException(CArchiveException::writeOnly, m_fileName);
}

void CArchive::RequireStoring() const
{
    if (!IsStoring())
        throw CArchiveException(CArchiveException::readOnly, m_fileName);
}

void CArchive::Write(const void* bytes, std::size_t count)
{
    RequireStoring();
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    m_data.insert(m_data.end(), p, p + count);
}

void CArchive::Read(void* bytes, std::size_t count)
{
    RequireLoading();
    if (count > Remaining())
        ThrowEnd();
    if (count)
        std::memcpy(bytes, m_data.data() + m_pos, count);
    m_pos += count;
}

namespace
{
template <typename T> void putLE(CArchive& ar, T v)
{
    std::uint8_t b[sizeof(T)];
    for (std::size_t i = 0; i < sizeof(T); ++i)
        b[i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i));
    ar.Write(b, sizeof(T));
}

template <typename T> T getLE(CArchive& ar)
{
    std::uint8_t b[sizeof(T)];
    ar.Read(b, sizeof(T));
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        v |= static_cast<std::uint64_t>(b[i]) << (8 * i);
    return static_cast<T>(v);
}
} // namespace

CArchive& CArchive::operator<<(BYTE v)
{
    putLE(*this, v);
    return *this;
}
CArchive& CArchive::operator<<(WORD v)
{
    putLE(*this, v);
    return *this;
}
CArchive& CArchive::operator<<(DWORD v)
{
    putLE(*this, v);
    return *this;
}
CArchive& CArchive::operator<<(LONG v)
{
    putLE(*this, static_cast<DWORD>(v));
    return *this;
}
CArchive& CArchive::operator>>(BYTE& v)
{
    v = getLE<BYTE>(*this);
    return *this;
}
CArchive& CArchive::operator>>(WORD& v)
{
    v = getLE<WORD>(*this);
    return *this;
}
CArchive& CArchive::operator>>(DWORD& v)
{
    v = getLE<DWORD>(*this);
    return *this;
}
CArchive& CArchive::operator>>(LONG& v)
{
    v = static_cast<LONG>(getLE<DWORD>(*this));
    return *this;
}

// 0xFFFE in the 16-bit slot is taken by the wide-text marker, so the 16-bit form ends
// at 65533 and 65534 already needs the 32-bit form.
void CArchive::WriteStringLength(std::uint64_t length)
{
    if (length < 0xFF)
    {
        *this << static_cast<BYTE>(length);
        return;
    }
    *this << static_cast<BYTE>(0xFF);
    if (length < 0xFFFE)
    {
        *this << static_cast<WORD>(length);
        return;
    }
    *this << static_cast<WORD>(0xFFFF);
    if (length < 0xFFFFFFFFull)
    {
        *this << static_cast<DWORD>(length);
        return;
    }
    *this << static_cast<DWORD>(0xFFFFFFFFu);
    putLE(*this, static_cast<std::uint64_t>(length));
}

std::uint64_t CArchive::ReadStringLength(bool& wide)
{
    wide = false;
    for (;;)
    {
        BYTE b8;
        *this >> b8;
        if (b8 < 0xFF)
            return b8;
        WORD b16;
        *this >> b16;
        if (b16 == 0xFFFE)
        {
            // The wide marker may appear once; a second one is not a valid prefix.
            if (wide)
                throw CArchiveException(CArchiveException::badIndex, m_fileName);
            wide = true;
            continue;
        }
        if (b16 < 0xFFFF)
            return b16;
        DWORD b32;
        *this >> b32;
        if (b32 < 0xFFFFFFFFu)
            return b32;
        return getLE<std::uint64_t>(*this);
    }
}

CArchive& CArchive::operator<<(const CString& s)
{
    WriteStringLength(static_cast<std::uint64_t>(s.GetLength()));
    Write(s.GetString(), static_cast<std::size_t>(s.GetLength()));
    return *this;
}

CArchive& CArchive::operator>>(CString& s)
{
    bool wide = false;
    std::uint64_t length = ReadStringLength(wide);
    std::uint64_t bytes = wide ? length * 2 : length;
    // Checked before allocating: a hostile length must not reserve memory.
    if (length > Remaining() || bytes > Remaining())
        ThrowEnd();
    std::string text;
    if (!wide)
    {
        text.resize(static_cast<std::size_t>(length));
        Read(text.data(), text.size());
    }
    else
    {
        text.reserve(static_cast<std::size_t>(length));
        for (std::uint64_t i = 0; i < length; ++i)
        {
            WORD unit;
            *this >> unit;
            // Text is 8-bit in this system; characters outside it cannot be kept.
            text.push_back(unit < 0x100 ? static_cast<char>(unit) : '?');
        }
    }
    s = CString(std::move(text));
    return *this;
}

std::vector<std::uint8_t> ReadWholeFile(const CString& path, std::uint64_t maxBytes)
{
    // Opened without waiting: a FIFO given as the file would otherwise hold the open
    // until someone writes to it, and a device is no settings file either. Only a
    // regular file is read.
    int fd = Sys().open(path.GetString(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0);
    if (fd < 0)
        throw CFileException::FromErrno(errno, path);
    std::vector<std::uint8_t> data;
    struct stat st;
    if (::fstat(fd, &st) != 0)
    {
        const int err = errno;
        Sys().close(fd);
        throw CFileException::FromErrno(err, path);
    }
    if (!S_ISREG(st.st_mode))
    {
        Sys().close(fd);
        if (S_ISDIR(st.st_mode))
            throw CFileException::FromErrno(EISDIR, path);
        throw CFileException(CFileException::invalidFile, 0, path);
    }
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
    {
        Sys().close(fd);
        throw CFileException::FromErrno(EFBIG, path);
    }
    data.reserve(static_cast<std::size_t>(st.st_size));
    std::uint8_t chunk[65536];
    for (;;)
    {
        const SysResult<ssize_t> r =
            RetryOnEintr([&] { return Sys().read(fd, chunk, sizeof chunk); });
        if (r.Failed())
        {
            Sys().close(fd);
            throw CFileException::FromErrno(r.error, path);
        }
        const ssize_t n = r.value;
        if (n == 0)
            break;
        // A file that grows while it is read is held to the limit too.
        if (data.size() + static_cast<std::size_t>(n) > maxBytes)
        {
            Sys().close(fd);
            throw CFileException::FromErrno(EFBIG, path);
        }
        data.insert(data.end(), chunk, chunk + n);
    }
    Sys().close(fd);
    return data;
}

namespace
{
void writeAll(int fd, const std::uint8_t* p, std::size_t n, const CString& path,
              const std::string& temp)
{
    while (n > 0)
    {
        const SysResult<ssize_t> r = RetryOnEintr([&] { return Sys().write(fd, p, n); });
        const ssize_t w = r.value;
        if (w <= 0)
        {
            const int err = r.Failed() ? r.error : EIO;
            Sys().close(fd);
            Sys().unlink(temp.c_str());
            throw CFileException::FromErrno(err, path);
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}
} // namespace

namespace
{
// The file a save replaces: path itself, or, when path is a symbolic link, the file the
// link leads to (links followed to the end, a relative one from its own folder). The
// link stays, as editors keep it: a settings file shared through a link goes on getting
// the changes. A link to a file not made yet leads to where the file is made.
std::string saveTarget(const CString& path)
{
    std::string target = path.str();
    // The system's own limit on links in a row (ELOOP).
    for (int hops = 0; hops < 40; ++hops)
    {
        struct stat st;
        if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return target;
        std::string next(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1,
                         '\0');
        const ssize_t n = ::readlink(target.c_str(), next.data(), next.size());
        if (n < 0 || static_cast<std::size_t>(n) >= next.size())
            throw CFileException::FromErrno(n < 0 ? errno : ENAMETOOLONG, path);
        next.resize(static_cast<std::size_t>(n));
        if (next.empty())
            throw CFileException::FromErrno(ENOENT, path);
        if (next.front() != '/')
        {
            const std::size_t slash = target.rfind('/');
            if (slash != std::string::npos)
                next = target.substr(0, slash + 1) + next;
        }
        target = next;
    }
    throw CFileException::FromErrno(ELOOP, path);
}
} // namespace

void WriteFileAtomically(const CString& path, const std::vector<std::uint8_t>& bytes)
{
    std::string target = saveTarget(path);
    // Keep the existing file's permissions; a new file gets the usual 0666 & ~umask.
    mode_t mode;
    struct stat st;
    if (::stat(target.c_str(), &st) == 0)
        mode = st.st_mode & 07777;
    else
    {
        mode_t mask = ::umask(022);
        ::umask(mask);
        mode = 0666 & ~mask;
    }

    std::string temp = target + ".tmp-XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0)
        throw CFileException::FromErrno(errno, path);
    if (::fchmod(fd, mode) != 0)
    {
        // Not fatal: the file is still written, only with mkstemp's 0600.
    }
    writeAll(fd, bytes.data(), bytes.size(), path, temp);
    if (Sys().fsync(fd) != 0)
    {
        int err = errno;
        Sys().close(fd);
        Sys().unlink(temp.c_str());
        throw CFileException::FromErrno(err, path);
    }
    if (Sys().close(fd) != 0)
    {
        int err = errno;
        Sys().unlink(temp.c_str());
        throw CFileException::FromErrno(err, path);
    }
    if (Sys().rename(temp.c_str(), target.c_str()) != 0)
    {
        int err = errno;
        Sys().unlink(temp.c_str());
        throw CFileException::FromErrno(err, path);
    }
}
