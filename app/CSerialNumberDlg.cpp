#include "CSerialNumberDlg.h"

#include "QtText.h"
#include "Resource.h"
#include "UserPrompt.h"

#include <QLineEdit>
#include <QValidator>

namespace
{
// The edit control's text limit: typing and pasting stop at the limit, but a longer
// text put there by the program stays whole (it can be shortened, not lengthened), as
// a limited edit control behaves. QLineEdit's own maximum would cut such a text.
class CLimitTextValidator : public QValidator
{
public:
    CLimitTextValidator(QLineEdit* edit, const bool& active, int limit)
        : QValidator(edit), m_edit(edit), m_active(active), m_limit(limit)
    {
    }
    State validate(QString& input, int&) const override
    {
        if (!m_active || input.size() <= m_limit || input.size() < m_edit->text().size())
            return Acceptable;
        return Invalid;
    }

private:
    QLineEdit* m_edit;
    const bool& m_active;
    int m_limit;
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
