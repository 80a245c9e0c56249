#pragma once
// Set Serial Number: one edit field, filled with the printer's current serial number.
// The caller reads m_serialNumber after OK.
#include "CSingleFieldDlg.h"
#include "CString.h"

class QLineEdit;

class CSerialNumberDlg : public CSingleFieldDlg
{
    Q_OBJECT
public:
    static constexpr UINT IDD = 130;
    // What the edit field accepts, in characters.
    static constexpr int MAX_SERIAL_CHARS = 32;

    explicit CSerialNumberDlg(const CString& serialNumber);
    ~CSerialNumberDlg() override;

    BOOL OnInitDialog() override;

    CString m_serialNumber;

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;

private:
    QLineEdit* m_serialNumberEdit;
    bool m_bLimitText = false;
};
