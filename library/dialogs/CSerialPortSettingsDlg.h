#pragma once
// "Port Settings": the line settings of one serial port. The dialog reads the port's
// settings when it opens and writes them into the port on OK; Cancel leaves the port
// alone. List positions are turned into setting values by the tables of this class,
// never by reading the texts shown.
//
// Threading: user-interface thread only.
#include "CDialog.h"

class CComboBox;
class CSerialPort;
class QPushButton;
class QTabWidget;

class CSerialPortSettingsDlg : public CDialog
{
    Q_OBJECT
public:
    enum
    {
        IDD = 3001
    };

    // port may be null: the dialog then shows the defaults and OK changes nothing.
    explicit CSerialPortSettingsDlg(CSerialPort* port, QWidget* parent = nullptr);

    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnRestoreDefaults();

    // What each list position stands for, in the lists' order.
    static constexpr int kBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                         19200, 38400, 56000, 57600, 115200, 128000, 256000};
    static constexpr int kDataBits[] = {7, 8};
    static constexpr int kParities[] = {2, 1, 0};  // Even, Odd, None
    static constexpr int kStopBits[] = {0, 2};     // 1, 2
    static constexpr int kFlowControls[] = {1, 2}; // Xon / Xoff, Hardware

    static constexpr int DEFAULT_BAUD_POS = 6;
    static constexpr int DEFAULT_DATA_BITS_POS = 1;
    static constexpr int DEFAULT_PARITY_POS = 2;
    static constexpr int DEFAULT_STOP_BITS_POS = 0;
    static constexpr int DEFAULT_FLOW_POS = 0;

private:
    QTabWidget* m_tab;
    CComboBox* m_stopBits;
    CComboBox* m_parity;
    CComboBox* m_flowControl;
    CComboBox* m_dataBits;
    CComboBox* m_bitsPerSecond;
    QPushButton* m_restoreDefaults;
    CSerialPort* m_pPort;
};
