#include "CSerialPort.h"

#include "CArchive.h"
#include "CVarkoPrinterException.h"
#include "DeviceFile.h"

IMPLEMENT_DYNCREATE(CSerialPort, CPortBase)

namespace
{
constexpr int kAcceptedBaudRates[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                                      19200, 38400, 56000, 57600, 115200, 128000, 256000};
const char kDevicePrefix[] = "\\\\.\\";
} // namespace

CSerialPort::CSerialPort()
    : m_baudRate(9600), m_dataBits(8), m_parity(NOPARITY), m_stopBits(ONESTOPBIT), m_flowControl(2)
{
}

CSerialPort::~CSerialPort() = default;

bool CSerialPort::IsAcceptedBaudRate(int baudRate)
{
    for (int rate : kAcceptedBaudRates)
        if (rate == baudRate)
            return true;
    return false;
}

void CSerialPort::Serialize(CArchive& ar)
{
    CPortBase::Serialize(ar);
    if (ar.IsStoring())
    {
        ar << LONG(m_baudRate) << LONG(m_dataBits) << LONG(m_parity) << LONG(m_stopBits)
           << LONG(m_flowControl) << m_portName;
    }
    else
    {
        // Stored values are taken as they are; an unusable one shows up at Open.
        LONG baud, data, parity, stop, flow;
        ar >> baud >> data >> parity >> stop >> flow >> m_portName;
        m_baudRate = baud;
        m_dataBits = data;
        m_parity = parity;
        m_stopBits = stop;
        m_flowControl = flow;
    }
}

CString CSerialPort::DisplayName() const
{
    return m_portName;
}

void CSerialPort::SetPortName(const CString& name)
{
    m_portName = name;
    m_name = kDevicePrefix + name;
}

CString CSerialPort::PortName() const
{
    return m_portName;
}

void CSerialPort::Open()
{
    CPortBase::Open();

    DCB dcb{};
    dcb.DCBlength = 28;
    GetCommState(m_handle, &dcb);

    dcb.BaudRate = static_cast<DWORD>(m_baudRate);
    dcb.ByteSize = static_cast<BYTE>(m_dataBits);
    dcb.Parity = static_cast<BYTE>(m_parity);
    dcb.StopBits = static_cast<BYTE>(m_stopBits);
    dcb.fBinary = 1;
    dcb.XonLim = 80;
    dcb.XoffLim = 200;
    if (m_flowControl == 1 || m_flowControl == 2)
    {
        const bool hardware = m_flowControl == 2;
        dcb.fOutxCtsFlow = hardware ? 1 : 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fDsrSensitivity = 0;
        dcb.fTXContinueOnXoff = 0;
        dcb.fOutX = hardware ? 0 : 1;
        dcb.fInX = 0;
        dcb.fErrorChar = 0;
        dcb.fNull = 0;
        dcb.fRtsControl = hardware ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_DISABLE;
        dcb.fAbortOnError = 0;
        dcb.XonLim = 100;
        dcb.XoffLim = 100;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
    }

    // Only the rates the settings dialog offers are programmed. A stored file may hold
    // any number; a rate outside the list is refused like one the driver refuses,
    // instead of letting the line run at whatever the driver would round it to.
    if (!IsAcceptedBaudRate(m_baudRate) || !SetCommState(m_handle, &dcb))
        throw CVarkoPrinterException(CVarkoPrinterException::eInvalidParameter);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 100;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 5000;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 5000;
    SetCommTimeouts(m_handle, &timeouts);
    SetCommMask(m_handle, 0xA0); // EV_RLSD | EV_ERR
}

void CSerialPort::CopyFrom(const CPortBase* other)
{
    if (const auto* serial = dynamic_cast<const CSerialPort*>(other))
        CopySettings(serial);
    else
        CPortBase::CopyFrom(other);
}

void CSerialPort::CopySettings(const CSerialPort* other)
{
    CPortBase::CopyFrom(other);
    if (!other)
        return;
    m_baudRate = other->m_baudRate;
    m_dataBits = other->m_dataBits;
    m_parity = other->m_parity;
    m_stopBits = other->m_stopBits;
    m_flowControl = other->m_flowControl;
    m_portName = other->m_portName;
}

void CSerialPort::GetSettings(int& baudRate, int& dataBits, int& parity, int& stopBits,
                              int& flowControl) const
{
    baudRate = m_baudRate;
    dataBits = m_dataBits;
    parity = m_parity;
    stopBits = m_stopBits;
    flowControl = m_flowControl;
}

void CSerialPort::SetSettings(int baudRate, int dataBits, int parity, int stopBits, int flowControl)
{
    if (!IsAcceptedBaudRate(baudRate))
        throw CVarkoPrinterException(CVarkoPrinterException::eBaudRate);
    m_baudRate = baudRate;
    if (dataBits != 7 && dataBits != 8)
        throw CVarkoPrinterException(CVarkoPrinterException::eDataBits);
    m_dataBits = dataBits;
    if (parity != NOPARITY && parity != ODDPARITY && parity != EVENPARITY)
        throw CVarkoPrinterException(CVarkoPrinterException::eParity);
    m_parity = parity;
    if (stopBits != ONESTOPBIT && stopBits != TWOSTOPBITS)
        throw CVarkoPrinterException(CVarkoPrinterException::eStopBits);
    m_stopBits = stopBits;
    if (flowControl != 1 && flowControl != 2)
        throw CVarkoPrinterException(CVarkoPrinterException::eFlowControl);
    m_flowControl = flowControl;
}
