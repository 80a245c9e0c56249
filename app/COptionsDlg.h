#pragma once
// Options: the display units of the odometer columns, and how often the open window asks
// its printers again by itself. OK stores both in the application settings; the caller
// then has the list asked again.
#include "CSingleFieldDlg.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

class COptionsDlg : public CSingleFieldDlg
{
    Q_OBJECT
public:
    static constexpr UINT IDD = 133;

    COptionsDlg();
    ~COptionsDlg() override;

    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    QComboBox* m_displayUnitsCombo;
    // Bound to the combo box's text by the data exchange; nothing reads it further.
    QString m_displayUnits;
    QCheckBox* m_refreshCheck;
    QSpinBox* m_refreshMinutes;
};
