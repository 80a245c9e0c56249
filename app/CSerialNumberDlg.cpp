#include "CSerialNumberDlg.h"

#include "QtText.h"
#include "Resource.h"
#include "UserPrompt.h"

#include <QLineEdit>
#include <QValidator>

#include <algorithm>

namespace
{
// The edit control's text limit: typing stops at the limit and a paste is cut to what
// still fits, but a longer text put there by the program stays whole (it can be
// shortened, not lengthened), as a limited edit control behaves. QLineEdit's own
// maximum would cut such a text.
class CLimitTextValidator : public QValidator
{
public:
    CLimitTextValidator(QLineEdit* edit, const bool& active, int limit)
        : QValidator(edit), m_active(active), m_limit(limit)
    {
    }
    State validate(QString& input, int& pos) const override
    {
        // The edit has already changed its text when it asks; the text before the change
        // is the last one accepted here (a refused change is undone to it).
        const QString before = m_accepted;
        if (!m_active || input.size() <= m_limit || input.size() <= before.size())
        {
            m_accepted = input;
            return Acceptable;
        }
        // What the edit inserted: the text between what the old and the new text share
        // at their start and at their end. Only as much of it as fits is kept.
        qsizetype head = 0;
        while (head < before.size() && head < input.size() && before[head] == input[head])
            ++head;
        qsizetype tail = 0;
        while (tail < before.size() - head && tail < input.size() - head &&
               before[before.size() - 1 - tail] == input[input.size() - 1 - tail])
            ++tail;
        const qsizetype inserted = input.size() - head - tail;
        const qsizetype kept = input.size() - inserted;
        const qsizetype room = std::max<qsizetype>(0, m_limit - kept);
        if (room == 0 && kept >= before.size())
            return Invalid;
        input = input.left(head + std::min(room, inserted)) + input.right(tail);
        pos = static_cast<int>(head + std::min(room, inserted));
        m_accepted = input;
        return Acceptable;
    }

private:
    const bool& m_active;
    int m_limit;
    mutable QString m_accepted;
};
} // namespace

CSerialNumberDlg::CSerialNumberDlg(const CString& serialNumber)
    : CSingleFieldDlg(IDD, QStringLiteral("Set Serial Number")), m_serialNumber(serialNumber)
{
    m_serialNumberEdit = new QLineEdit(this);
    SetControlId(m_serialNumberEdit, IDC_SERIAL_NUMBER, "IDC_SERIAL_NUMBER");
    m_serialNumberEdit->setValidator(
        new CLimitTextValidator(m_serialNumberEdit, m_bLimitText, MAX_SERIAL_CHARS));
    LayOut(QStringLiteral("Serial Number:"), m_serialNumberEdit, 123);
}

CSerialNumberDlg::~CSerialNumberDlg() = default;

BOOL CSerialNumberDlg::OnInitDialog()
{
    m_bLimitText = false;
    const BOOL result = CDialog::OnInitDialog();
    m_bLimitText = true;
    return result;
}

bool CSerialNumberDlg::DoDataExchange(bool bSaveAndValidate)
{
    if (!bSaveAndValidate)
    {
        m_serialNumberEdit->setText(ToQString(m_serialNumber));
        return true;
    }
    const QString text = m_serialNumberEdit->text();
    if (text.size() > MAX_SERIAL_CHARS)
    {
        // A text longer than the limit can only be one the printer reported; it goes
        // back to the printer only once the user has shortened it.
        AfxMessageBox(CString::Formatted("Enter no more than %d characters.", MAX_SERIAL_CHARS),
                      MB_OK | MB_ICONEXCLAMATION);
        m_serialNumberEdit->setFocus();
        m_serialNumberEdit->selectAll();
        return false;
    }
    m_serialNumber = FromQString(text, m_serialNumber);
    return true;
}
