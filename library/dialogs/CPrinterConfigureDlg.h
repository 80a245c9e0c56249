#pragma once
// "Printer Settings": name, model, connection type and port of one printer, with the
// serial line settings one button away. The dialog edits a private copy of the printer
// (port included); the caller applies GetEditedPrinter() after IDOK, so Cancel never
// changes the printer.
//
// The connection type of an entry is its item data (CommType), never its position:
// the list is sorted, and "USB" is only there for a printer that already is a USB
// printer (whose type then cannot be changed here).
//
// Threading: user-interface thread only.
#include "CDialog.h"
#include "CString.h"
#include "CVarkoPrinter.h"

class CComboBox;
class CIPAddressCtrl;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

class CPrinterConfigureDlg : public CDialog
{
    Q_OBJECT
public:
    enum
    {
        IDD = 3000
    };
    enum CommType
    {
        eCommSerial = 0,
        eCommParallel = 1,
        eCommUSB = 2,
        eCommNetwork = 3
    };

    CPrinterConfigureDlg(const CVarkoPrinter& printer, EConfigFlags flags,
                         QWidget* parent = nullptr);
    ~CPrinterConfigureDlg() override;

    const CVarkoPrinter& GetEditedPrinter() const { return m_printer; }
    CVarkoPrinter& GetEditedPrinter() { return m_printer; }

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCommTypeChange();
    void OnPortSettings();

    // The code of the selected connection type, -1 when none is selected.
    int SelectedCommType() const;

protected:
    bool DoDataExchange(bool bSaveAndValidate) override;

private:
    void FillPortLists();
    void SelectCommType(int code);
    void LoadFromPrinter();
    void ShowPortControls();
    bool SaveToPrinter();
    bool ExchangeTcpPort(bool bSaveAndValidate);
    void ExchangeTexts(bool bSaveAndValidate);

    QCheckBox* m_calibrate;
    QLineEdit* m_nameEdit;
    QLineEdit* m_modelEdit;
    CComboBox* m_spareList;
    QLabel* m_portLabel;
    QLabel* m_addressLabel;
    QLineEdit* m_tcpPortEdit;
    QPushButton* m_portSettings;
    CComboBox* m_serialList;
    CComboBox* m_parallelList;
    CIPAddressCtrl* m_address;
    CComboBox* m_commType;

    int m_nTCPPort;
    CString m_strName;
    int m_nCalibrate;
    CString m_strModel;
    EConfigFlags m_flags;
    CVarkoPrinter m_printer;
    // False when the last save exchange refused a value (the user has been told).
    bool m_bExchangeOK;
};
