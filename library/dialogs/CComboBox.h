#pragma once
// A drop-down list with the platform's list semantics, which the dialogs depend on:
// a sorted list keeps its entries in case-insensitive order whatever the insertion
// order; every entry carries a number (its item data) by which callers find it;
// FindString is a case-insensitive prefix search; and selecting by program never
// reports a selection change, only the user's choices do (currentIndexChanged).
//
// Threading: user-interface thread only.
#include "CString.h"
#include "WinTypes.h"

#include <QComboBox>

#include <cstdint>

class CComboBox : public QComboBox
{
    Q_OBJECT
public:
    static constexpr int CB_ERR = -1;

    explicit CComboBox(bool sorted, QWidget* parent = nullptr);

    bool IsSorted() const { return m_sorted; }
    // Returns the index the entry got.
    int AddString(const CString& text);
    int GetCount() const { return count(); }
    CString GetLBText(int index) const;
    // CB_ERR when nothing is selected.
    int GetCurSel() const { return currentIndex(); }
    // -1 clears the selection; an index out of range clears it too and gives CB_ERR.
    int SetCurSel(int index);
    // CB_ERR for an index out of range.
    std::intptr_t GetItemData(int index) const;
    int SetItemData(int index, std::intptr_t data);
    // The first entry after startAfter that begins with prefix, ignoring case; the
    // search wraps round to the start. startAfter -1 searches the whole list from the
    // top. CB_ERR when no entry begins with prefix.
    int FindString(int startAfter, const CString& prefix) const;
    void ResetContent() { clear(); }

private:
    bool m_sorted;
};
