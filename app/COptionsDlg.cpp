#include "COptionsDlg.h"

#include "CSettingsApplication.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>

COptionsDlg::COptionsDlg() : CDialog(IDD, nullptr)
{
    setWindowTitle(QStringLiteral("Options"));
    auto* label = new QLabel(QStringLiteral("Default Odometer Units:"), this);
    m_displayUnitsCombo = new QComboBox(this);
    SetControlId(m_displayUnitsCombo, IDC_DISPLAY_UNITS, "IDC_DISPLAY_UNITS");
    m_displayUnitsCombo->setMinimumWidth(DialogUnitsX(75));
    label->setBuddy(m_displayUnitsCombo);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(ok, IDOK, "IDOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    SetControlId(cancel, IDCANCEL, "IDCANCEL");
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_displayUnitsCombo, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    grid->addLayout(buttons, 1, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    SetTabOrderList({m_displayUnitsCombo, ok, cancel});
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
