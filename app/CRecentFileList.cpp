#include "CRecentFileList.h"

#include "SettingsStore.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

namespace
{
constexpr const char* kKey = "Software\\Varko Technologies Corporation\\Odomira\\Recent File List";
// Longest path kept; a longer stored value is taken as damaged and skipped.
constexpr DWORD kMaxPath = 4096;

CString EntryName(int index)
{
    return CString::Formatted("File%d", index + 1);
}
} // namespace

CRecentFileList::CRecentFileList(int size) : m_nSize(size) {}

void CRecentFileList::ReadList()
{
    m_files.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < m_nSize; ++i)
    {
        std::vector<char> buffer(kMaxPath + 1, '\0');
        DWORD length = kMaxPath;
        DWORD type = 0;
        if (RegQueryValueExA(key, EntryName(i).GetString(), nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer.data()), &length) != ERROR_SUCCESS ||
            type != REG_SZ)
            continue;
        CString path(buffer.data(), static_cast<int>(strnlen(buffer.data(), length)));
        if (!path.IsEmpty())
            m_files.push_back(path);
    }
    RegCloseKey(key);
}

void CRecentFileList::WriteList() const
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    for (int i = 0; i < m_nSize; ++i)
    {
        const CString name = EntryName(i);
        if (i < static_cast<int>(m_files.size()))
            RegSetValueExA(key, name.GetString(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(m_files[i].GetString()),
                           static_cast<DWORD>(m_files[i].GetLength()));
        else
            RegDeleteValueA(key, name.GetString());
    }
    RegCloseKey(key);
}

void CRecentFileList::Add(const CString& path)
{
    std::error_code ec;
    const std::filesystem::path full = std::filesystem::absolute(path.str(), ec);
    const CString entry = ec ? path : CString(full.lexically_normal().string());
    std::erase_if(m_files, [&](const CString& f) { return f.Compare(entry.GetString()) == 0; });
    m_files.insert(m_files.begin(), entry);
    if (static_cast<int>(m_files.size()) > m_nSize)
        m_files.resize(static_cast<std::size_t>(m_nSize));
}
