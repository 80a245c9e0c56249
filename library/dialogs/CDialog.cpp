#include "CDialog.h"

#include <QFontMetrics>
#include <QVariant>

CDialog::CDialog(UINT nIDTemplate, QWidget* parent) : QDialog(parent), m_nIDTemplate(nIDTemplate)
{
    // The templates have a caption and a system menu but no help or resize handles.
    setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) &
                   ~Qt::WindowContextHelpButtonHint);
    setObjectName(QStringLiteral("IDD_%1").arg(nIDTemplate));
}

CDialog::~CDialog() = default;

int CDialog::DoModal()
{
    return RunModalDialog(*this);
}

void CDialog::InitModal()
{
    m_nModalResult = -1;
    setResult(0);
    if (OnInitDialog())
    {
        // As the platform does after an initialisation that returns TRUE: the first
        // control of the tab order gets the focus, whatever the handler focused.
        for (QWidget* w : m_tabOrder)
        {
            if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(this))
            {
                w->setFocus(Qt::TabFocusReason);
                break;
            }
        }
    }
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    if (!UpdateData(TRUE))
        return;
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

int CDialog::RunModalLoop()
{
    InitModal();
    if (m_nModalResult == -1)
        exec();
    return m_nModalResult == -1 ? IDCANCEL : m_nModalResult;
}

void CDialog::ShowModeless(bool show)
{
    if (show)
        QDialog::show();
    else
        QDialog::hide();
}

void CDialog::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    // done() leaves exec() when there is one and only hides the dialog otherwise.
    QDialog::done(nResult);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    return DoDataExchange(bSaveAndValidate != FALSE) ? TRUE : FALSE;
}

bool CDialog::DoDataExchange(bool)
{
    return true;
}

QWidget* CDialog::GetDlgItem(int nID) const
{
    const auto children = findChildren<QWidget*>();
    for (QWidget* w : children)
    {
        QVariant id = w->property("controlId");
        if (id.isValid() && id.toInt() == nID)
            return w;
    }
    return nullptr;
}

void CDialog::SetTabOrderList(std::initializer_list<QWidget*> controls)
{
    SetTabOrderList(std::vector<QWidget*>(controls));
}

void CDialog::SetTabOrderList(const std::vector<QWidget*>& controls)
{
    m_tabOrder = controls;
    for (std::size_t i = 1; i < m_tabOrder.size(); ++i)
        QWidget::setTabOrder(m_tabOrder[i - 1], m_tabOrder[i]);
}

void CDialog::SetControlId(QWidget* control, int nID, const char* symbol)
{
    control->setObjectName(QString::fromLatin1(symbol));
    control->setProperty("controlId", nID);
}

// The platform's dialog base units: the average width of the alphabet and the height
// of the font, a quarter and an eighth of which make one unit.
int CDialog::DialogUnitsX(int units) const
{
    QFontMetrics fm(font());
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    int base = (fm.horizontalAdvance(alphabet) / 26 + 1) / 2;
    return (units * base + 2) / 4;
}

int CDialog::DialogUnitsY(int units) const
{
    QFontMetrics fm(font());
    return (units * fm.height() + 4) / 8;
}

void CDialog::accept()
{
    OnOK();
}

void CDialog::reject()
{
    OnCancel();
}
