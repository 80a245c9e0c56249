#pragma once
// A file opened for reading, as the download job sends it: read in pieces, stepped back
// when a printer took only part of a piece. Failures throw CFileException carrying the
// file name and the cause.
//
// Only reading is offered; the settings file goes through CArchive's own writer.
// shareDenyWrite takes a shared advisory lock: a writer that asks for an exclusive
// lock is kept out while the file is sent, and a file that someone holds exclusively
// is refused with a sharing violation, which is as close as this platform comes.
//
// Threading: one thread at a time per object.
#include "CException.h"
#include "CString.h"
#include "Export.h"
#include "WinTypes.h"

#include <cstdint>

class VARKO_EXPORT CFile
{
public:
    enum OpenFlags : UINT
    {
        modeRead = 0x0000,
        shareDenyWrite = 0x0020,
        typeBinary = 0x8000
    };
    enum SeekPosition : UINT
    {
        begin = 0,
        current = 1,
        end = 2
    };

    CFile();
    // Opens at once; throws CFileException.
    CFile(const CString& path, UINT openFlags);
    // Closes quietly if still open.
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // FALSE on failure; the cause goes to error when one is given. Any other mode than
    // reading is refused (invalidFile), and so is anything but a regular file (a FIFO
    // is not waited on).
    BOOL Open(const CString& path, UINT openFlags, CFileException* error = nullptr);
    std::uint64_t GetLength() const;
    // Returns the count read; 0 at the end of the file.
    UINT Read(void* buffer, UINT count);
    // Returns the new position from the start of the file.
    std::uint64_t Seek(std::int64_t offset, UINT from);
    // Throws when the system reports a failure on closing; the file is closed anyway.
    void Close();
    bool IsOpen() const { return m_fd >= 0; }
    const CString& GetFilePath() const { return m_strFileName; }

private:
    [[noreturn]] void ThrowErrno(int err) const;

    int m_fd;
    CString m_strFileName;
};
