#include "COptionsDlg.h"

#include "CSettingsApplication.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"

#include <QComboBox>

COptionsDlg::COptionsDlg() : CSingleFieldDlg(IDD, QStringLiteral("Options"))
{
    m_displayUnitsCombo = new QComboBox(this);
    SetControlId(m_displayUnitsCombo, IDC_DISPLAY_UNITS, "IDC_DISPLAY_UNITS");
    LayOut(QStringLiteral("Default Odometer Units:"), m_displayUnitsCombo, 75);
}

COptionsDlg::~COptionsDlg() = default;

BOOL COptionsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_displayUnitsCombo->clear();
    // A sorted list: the two texts are already in order.
    m_displayUnitsCombo->addItem(ToQString(LoadStringById(IDS_INCHES)));
    m_displayUnitsCombo->addItem(ToQString(LoadStringById(IDS_MILLIMETERS)));
    // The list's exact-match search ignores case, so "millimeters" finds "Millimeters".
    const int found = m_displayUnitsCombo->findText(
        ToQString(GetApplicationSettings().m_displayUnits), Qt::MatchFixedString);
    m_displayUnitsCombo->setCurrentIndex(found >= 0 ? found : 0);
    m_displayUnits = m_displayUnitsCombo->currentText();
    return TRUE;
}

void COptionsDlg::OnOK()
{
    int selected = m_displayUnitsCombo->currentIndex();
    if (selected < 0)
        selected = 0;
    m_displayUnits = m_displayUnitsCombo->itemText(selected);
    GetApplicationSettings().m_displayUnits = FromQString(m_displayUnits);
    EndDialog(IDOK);
}
