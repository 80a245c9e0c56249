#pragma once
// The framework's array of texts, as far as the USB discovery library and its caller
// use it: the caller passes an empty array, the library appends device paths. Both
// sides are built by this project with the same compiler, so the layout is shared.
//
// Threading: none; one owner at a time.
#include "CString.h"

#include <vector>

class CStringArray
{
public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    int GetCount() const { return GetSize(); }
    bool IsEmpty() const { return m_items.empty(); }
    // An index out of range gives empty text instead of undefined behaviour.
    CString GetAt(int index) const
    {
        if (index < 0 || index >= GetSize())
            return CString();
        return m_items[static_cast<std::size_t>(index)];
    }
    CString operator[](int index) const { return GetAt(index); }
    int Add(const CString& text)
    {
        m_items.push_back(text);
        return GetSize() - 1;
    }
    void RemoveAll() { m_items.clear(); }

private:
    std::vector<CString> m_items;
};
