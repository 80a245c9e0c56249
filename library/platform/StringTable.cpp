#include "StringTable.h"

#include <mutex>
#include <vector>

namespace
{
struct Table
{
    const StringTableEntry* entries;
    int count;
};

std::mutex& tablesLock()
{
    static std::mutex m;
    return m;
}

std::vector<Table>& tables()
{
    static std::vector<Table> t;
    return t;
}
} // namespace

void RegisterStringTable(const StringTableEntry* entries, int count)
{
    std::lock_guard g(tablesLock());
    for (const Table& t : tables())
        if (t.entries == entries)
            return;
    tables().push_back({entries, count});
}

bool LoadStringById(UINT id, CString& text)
{
    std::lock_guard g(tablesLock());
    for (const Table& t : tables())
        for (int i = 0; i < t.count; ++i)
            if (t.entries[i].id == id)
            {
                text = t.entries[i].text;
                return true;
            }
    text.Empty();
    return false;
}

CString LoadStringById(UINT id)
{
    CString s;
    LoadStringById(id, s);
    return s;
}
