#pragma once
// The settings-file stream: little-endian integers and length-prefixed 8-bit strings,
// exactly as the original framework wrote them, so files move between the Windows
// version and this one unchanged. Loading works on the whole file held in memory and
// never trusts a length it reads: what a length announces is checked against what is
// left before anything is allocated, and a short or malformed stream throws
// CArchiveException.
#include "CException.h"
#include "CString.h"
#include "Export.h"
#include "WinTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

class VARKO_EXPORT CArchive
{
public:
    enum Mode
    {
        store = 0,
        load = 1
    };

    // A storing archive that collects the bytes written; take them with Buffer().
    explicit CArchive(Mode mode = store, CString fileName = CString());
    // A loading archive over the given bytes.
    explicit CArchive(std::vector<std::uint8_t> data, CString fileName = CString());

    bool IsLoading() const { return m_mode == load; }
    bool IsStoring() const { return m_mode == store; }
    const CString& GetFileName() const { return m_fileName; }
    const std::vector<std::uint8_t>& Buffer() const { return m_data; }
    std::size_t Remaining() const { return m_data.size() - m_pos; }

    void Write(const void* bytes, std::size_t count);
    // Reads exactly count bytes or throws CArchiveException(endOfFile).
    void Read(void* bytes, std::size_t count);

    CArchive& operator<<(BYTE v);
    CArchive& operator<<(WORD v);
    CArchive& operator<<(DWORD v);
    CArchive& operator<<(LONG v);
    CArchive& operator<<(const CString& s);
    CArchive& operator>>(BYTE& v);
    CArchive& operator>>(WORD& v);
    CArchive& operator>>(DWORD& v);
    CArchive& operator>>(LONG& v);
    CArchive& operator>>(CString& s);

    // The archive-string length prefix alone (shared by the 8-bit and wide forms).
    void WriteStringLength(std::uint64_t length);
    // Returns the length and whether the text that follows is in 16-bit characters.
    std::uint64_t ReadStringLength(bool& wide);

private:
    [[noreturn]] void ThrowEnd() const;
    void RequireLoading() const;
    void RequireStoring() const;

    Mode m_mode;
    CString m_fileName;
    std::vector<std::uint8_t> m_data;
    std::size_t m_pos = 0;
};

// Whole-file helpers used to load and save settings files. Both throw CFileException
// with the errno of the failing call. Reading refuses a file longer than maxBytes
// (EFBIG, "File too large") before taking memory for it, and anything but a regular
// file without waiting on it (a FIFO, a device: invalidFile, "not a regular file").
// Saving writes a temporary file in the target's folder, flushes it to disk and renames
// it over the target, so a failed or interrupted save never damages the existing file;
// a symbolic link is kept, and the file it leads to is the one replaced.
VARKO_EXPORT std::vector<std::uint8_t> ReadWholeFile(const CString& path,
                                                     std::uint64_t maxBytes = UINT64_MAX);
VARKO_EXPORT void WriteFileAtomically(const CString& path, const std::vector<std::uint8_t>& bytes);
