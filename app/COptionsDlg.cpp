#include "COptionsDlg.h"

#include "CSettingsApplication.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

COptionsDlg::COptionsDlg() : CSingleFieldDlg(IDD, QStringLiteral("Options"))
{
    m_displayUnitsCombo = new QComboBox(this);
    SetControlId(m_displayUnitsCombo, IDC_DISPLAY_UNITS, "IDC_DISPLAY_UNITS");
    m_refreshCheck = new QCheckBox(ToQString(LoadStringById(IDS_REFRESH_EVERY)), this);
    SetControlId(m_refreshCheck, IDC_REFRESH_LIST, "IDC_REFRESH_LIST");
    m_refreshMinutes = new QSpinBox(this);
    SetControlId(m_refreshMinutes, IDC_REFRESH_MINUTES, "IDC_REFRESH_MINUTES");
    m_refreshMinutes->setRange(1, static_cast<int>(CSettingsApplication::MAX_REFRESH_MINUTES));
    m_refreshMinutes->setValue(60);
    auto* unit = new QLabel(ToQString(LoadStringById(IDS_REFRESH_MINUTES)), this);
    connect(m_refreshCheck, &QCheckBox::toggled, m_refreshMinutes, &QWidget::setEnabled);
    LayOut(QStringLiteral("Default Odometer Units:"), m_displayUnitsCombo, 75,
           {m_refreshCheck, m_refreshMinutes, unit});
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
    const std::uint32_t minutes = GetApplicationSettings().m_refreshMinutes;
    m_refreshCheck->setChecked(minutes != 0);
    m_refreshMinutes->setEnabled(minutes != 0);
    if (minutes != 0)
        m_refreshMinutes->setValue(static_cast<int>(minutes));
    return TRUE;
}

void COptionsDlg::OnOK()
{
    int selected = m_displayUnitsCombo->currentIndex();
    if (selected < 0)
        selected = 0;
    m_displayUnits = m_displayUnitsCombo->itemText(selected);
    GetApplicationSettings().m_displayUnits = FromQString(m_displayUnits);
    GetApplicationSettings().m_refreshMinutes =
        m_refreshCheck->isChecked() ? static_cast<std::uint32_t>(m_refreshMinutes->value()) : 0;
    EndDialog(IDOK);
}
