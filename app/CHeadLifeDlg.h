#pragma once
// Head Life: how far a model's print head goes before it is worn out, in the units the
// list shows. The odometer history's forecast needs it; nothing is assumed where it is
// left empty. The caller reads m_headLifeInches after OK (empty: not known).
#include "CDialog.h"
#include "CString.h"
#include "CVarkoPrinterData.h"

#include <optional>

class QLineEdit;

class CHeadLifeDlg : public CDialog
{
    Q_OBJECT
public:
    static constexpr UINT IDD = 135;

    CHeadLifeDlg(const CString& model, std::optional<double> headLifeInches, EDisplayUnits units,
                 QWidget* parent = nullptr);
    ~CHeadLifeDlg() override;

    std::optional<double> m_headLifeInches;

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;

private:
    EDisplayUnits m_units;
    QLineEdit* m_valueEdit;
};
