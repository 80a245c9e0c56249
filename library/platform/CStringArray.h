#pragma once
// A growable array of texts, as the framework's CStringArray: the USB discovery library
// fills one with device paths, so the library and its callers must agree on this one
// definition (both are built from this header).
//
// Threading: none of its own; one thread uses an array at a time.
#include "CString.h"

#include <vector>

class CStringArray
{
public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    int GetCount() const { return GetSize(); }
    bool IsEmpty() const { return m_items.empty(); }
    // Out-of-range indices give an empty text instead of undefined behaviour: the array
    // is filled by a library outside this program.
    CString GetAt(int i) const
    {
        return i >= 0 && i < GetSize() ? m_items[static_cast<std::size_t>(i)] : CString();
    }
    CString operator[](int i) const { return GetAt(i); }
    int Add(const CString& item)
    {
        m_items.push_back(item);
        return GetSize() - 1;
    }
    void RemoveAll() { m_items.clear(); }

private:
    std::vector<CString> m_items;
};
