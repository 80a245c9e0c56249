#include "CSerialNumberDlg.h"

#include "QtText.h"
#include "Resource.h"
#include "UserPrompt.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
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
    : CDialog(IDD, nullptr), m_serialNumber(serialNumber)
{
    setWindowTitle(QStringLiteral("Set Serial Number"));
    auto* label = new QLabel(QStringLiteral("Serial Number:"), this);
    m_serialNumberEdit = new QLineEdit(this);
    SetControlId(m_serialNumberEdit, IDC_SERIAL_NUMBER, "IDC_SERIAL_NUMBER");
    m_serialNumberEdit->setMinimumWidth(DialogUnitsX(123));
    m_serialNumberEdit->setValidator(
        new CLimitTextValidator(m_serialNumberEdit, m_bLimitText, MAX_SERIAL_CHARS));
    label->setBuddy(m_serialNumberEdit);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(ok, IDOK, "IDOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    SetControlId(cancel, IDCANCEL, "IDCANCEL");
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_serialNumberEdit, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    grid->addLayout(buttons, 1, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    SetTabOrderList({m_serialNumberEdit, ok, cancel});
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
