#pragma once
// The most-recently-used file list the framework keeps for every document program: the
// last four files opened or saved, most recent first, stored per user as "File1" to
// "File4" under "Recent File List". The program shows it in no menu.
#include "CString.h"

#include <vector>

class CRecentFileList
{
public:
    explicit CRecentFileList(int size = 4);

    void ReadList();
    void WriteList() const;
    // Moves the file to the front (an entry for the same file is dropped).
    void Add(const CString& path);
    const std::vector<CString>& Files() const { return m_files; }

private:
    int m_nSize;
    std::vector<CString> m_files;
};
