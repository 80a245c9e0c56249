#include "CComboBox.h"

#include "QtText.h"

#include <QSignalBlocker>

CComboBox::CComboBox(bool sorted, QWidget* parent) : QComboBox(parent), m_sorted(sorted)
{
    setEditable(false);
    // Qt would select the first entry added; the platform's lists start with none.
    setCurrentIndex(-1);
}

int CComboBox::AddString(const CString& text)
{
    const QString s = ToQString(text);
    int at = count();
    if (m_sorted)
    {
        // After equal entries, as the platform inserts a duplicate.
        at = 0;
        while (at < count() && QString::compare(itemText(at), s, Qt::CaseInsensitive) <= 0)
            ++at;
    }
    const QSignalBlocker quiet(this);
    const int selected = currentIndex();
    insertItem(at, s, QVariant::fromValue<qlonglong>(0));
    // Adding never selects: keep "no selection" when there was none.
    setCurrentIndex(selected == -1 ? -1 : (at <= selected ? selected + 1 : selected));
    return at;
}

CString CComboBox::GetLBText(int index) const
{
    if (index < 0 || index >= count())
        return CString();
    return FromQString(itemText(index));
}

int CComboBox::SetCurSel(int index)
{
    const QSignalBlocker quiet(this);
    if (index < 0 || index >= count())
    {
        setCurrentIndex(-1);
        return CB_ERR;
    }
    setCurrentIndex(index);
    return index;
}

std::intptr_t CComboBox::GetItemData(int index) const
{
    if (index < 0 || index >= count())
        return CB_ERR;
    return static_cast<std::intptr_t>(itemData(index).toLongLong());
}

int CComboBox::SetItemData(int index, std::intptr_t data)
{
    if (index < 0 || index >= count())
        return CB_ERR;
    setItemData(index, QVariant::fromValue<qlonglong>(data));
    return 0;
}

int CComboBox::FindString(int startAfter, const CString& prefix) const
{
    const int n = count();
    if (n == 0)
        return CB_ERR;
    const QString p = ToQString(prefix);
    const int first = (startAfter < 0 || startAfter >= n) ? 0 : startAfter + 1;
    for (int k = 0; k < n; ++k)
    {
        const int i = (first + k) % n;
        if (itemText(i).startsWith(p, Qt::CaseInsensitive))
            return i;
    }
    return CB_ERR;
}
