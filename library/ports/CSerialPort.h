#pragma once
// A printer on a serial (COM) line. The line is programmed on every Open from the five
// stored settings; reads end 100 ms after the last byte or 5000 ms after they began,
// writes after 5000 ms at most.
#include "CPortBase.h"

class CSerialPort : public CPortBase
{
    DECLARE_DYNCREATE(CSerialPort)
public:
    CSerialPort();
    ~CSerialPort() override;

    void Serialize(CArchive& ar) override;
    CString DisplayName() const override;
    void SetPortName(const CString& name) override;
    CString PortName() const override;
    void Open() override;
    void CopyFrom(const CPortBase* other) override;
    virtual void CopySettings(const CSerialPort* other);

    void GetSettings(int& baudRate, int& dataBits, int& parity, int& stopBits,
                     int& flowControl) const;
    // Validates and stores one value after the other; throws codes 1 to 5 on the first
    // value it does not accept, keeping the ones stored before it.
    void SetSettings(int baudRate, int dataBits, int parity, int stopBits, int flowControl);

    static bool IsAcceptedBaudRate(int baudRate);

protected:
    EDeviceKind DeviceKind() const override { return EDeviceKind::eSerialLine; }

    CString m_portName;
    int m_baudRate;
    int m_dataBits;
    int m_parity;
    int m_stopBits;
    int m_flowControl;
};
