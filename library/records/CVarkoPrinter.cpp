#include "CVarkoPrinter.h"
#include "CWnd.h"

#include "CArchive.h"
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CUSBPort.h"
#include "CVarkoPrinterException.h"

#include <cstring>

namespace
{
// The port kinds a settings file may name, compared exactly: another spelling is not
// one of ours, and the printer is then loaded without a port.
const CRuntimeClass* portClassNamed(const CString& name)
{
    const CRuntimeClass* known[] = {RUNTIME_CLASS(CSerialPort), RUNTIME_CLASS(CParallelPort),
                                    RUNTIME_CLASS(CUSBPort), RUNTIME_CLASS(CNetworkPort)};
    for (const CRuntimeClass* c : known)
        if (name == c->m_lpszClassName)
            return c;
    return nullptr;
}

template <typename Port> CPortBase* copyAs(const CPortBase* source)
{
    auto* copy = new Port;
    copy->CopySettings(static_cast<const Port*>(source));
    return copy;
}

// A fresh port of the source's kind with the source's settings; the copy is closed.
CPortBase* copyPort(const CPortBase* source)
{
    if (!source)
        return nullptr;
    if (source->IsKindOf(RUNTIME_CLASS(CSerialPort)))
        return copyAs<CSerialPort>(source);
    if (source->IsKindOf(RUNTIME_CLASS(CParallelPort)))
        return copyAs<CParallelPort>(source);
    if (source->IsKindOf(RUNTIME_CLASS(CUSBPort)))
        return copyAs<CUSBPort>(source);
    if (source->IsKindOf(RUNTIME_CLASS(CNetworkPort)))
        return copyAs<CNetworkPort>(source);
    return nullptr;
}
} // namespace

CVarkoPrinter::CVarkoPrinter(CWnd* owner)
    : m_bCalibrate(false), m_pOwner(owner), m_hOwner(owner ? owner->GetSafeHwnd() : nullptr),
      m_pThread(nullptr)
{
}

CVarkoPrinter::CVarkoPrinter(const CVarkoPrinter& source)
    : CVarkoPrinterData(), m_bCalibrate(source.m_bCalibrate), m_pOwner(source.m_pOwner),
      m_hOwner(source.m_hOwner), m_pThread(nullptr)
{
    m_strDownloadFile = source.DownloadFile();
    m_strName = source.m_strName;
    m_strModel = source.m_strModel;
    m_pPort = copyPort(source.m_pPort);
}

CVarkoPrinter::~CVarkoPrinter()
{
    // Owners stop a printer before destroying it; one that was not stopped must not
    // leave its thread working on a port and a record that are gone.
    if (m_pThread)
        StopThreads();
    delete m_pPort;
}

void CVarkoPrinter::SetPort(CPortBase* port)
{
    if (port != m_pPort)
        delete m_pPort;
    m_pPort = port;
}

void CVarkoPrinter::Serialize(CArchive& ar)
{
    CVarkoPrinterData::Serialize(ar);
    if (ar.IsStoring())
    {
        ar << CString(m_pPort ? m_pPort->GetRuntimeClass()->m_lpszClassName : "");
        ar << static_cast<DWORD>(m_bCalibrate ? 1 : 0);
        if (m_pPort)
            m_pPort->Serialize(ar);
        return;
    }
    CString className;
    DWORD calibrate = 0;
    ar >> className >> calibrate;
    m_bCalibrate = calibrate == 1;
    // A class name that is none of the four cannot be a port this program wrote: the
    // file is damaged, and its port fields cannot even be told from the next printer.
    const CRuntimeClass* cls = portClassNamed(className);
    if (!cls)
        throw CArchiveException(CArchiveException::badClass, ar.GetFileName());
    SetPort(static_cast<CPortBase*>(cls->CreateObject()));
    m_pPort->Serialize(ar);
}

bool CVarkoPrinter::AttachPort(const CRuntimeClass* portClass, const CString& portName,
                               const CString& printerName, const DWORD* checked)
{
    CObject* created = portClass ? portClass->CreateObject() : nullptr;
    auto* port = dynamic_cast<CPortBase*>(created);
    if (!port)
    {
        delete created;
        throw CVarkoPrinterException(CVarkoPrinterException::eConfiguration);
    }
    if (!printerName.IsEmpty())
        m_strName = printerName;
    SetPort(port);
    m_pPort->SetPortName(portName);
    if (checked)
    {
        if (*checked != 0)
            throw CVarkoPrinterException(*checked);
        return true;
    }
    try
    {
        m_pPort->Open();
    }
    catch (const CVarkoPrinterException&)
    {
        m_pPort->Close();
        throw;
    }
    m_pPort->Close();
    return true;
}

void CVarkoPrinter::SendCommand(const char* bytes, DWORD length)
{
    Exchange(bytes, length, nullptr);
}

void CVarkoPrinter::PrintOdometers(EDisplayUnits units)
{
    const char c[] = {'\n', 'U', 'R', 'L', UnitsLetter(units), 'p', '\n'};
    SendCommand(c, sizeof c);
}

void CVarkoPrinter::PrintHeadHistory(EDisplayUnits units)
{
    const char c[] = {'\n', 'U', 'R', 'H', UnitsLetter(units), 'p', '\n'};
    SendCommand(c, sizeof c);
}

// A test page to a printer that is switched off fails quietly: the user sees that no
// page came out, and a box per printer would only be noise in a batch.
void CVarkoPrinter::PrintTestPageRLX()
{
    try
    {
        SendCommand("\nU\n", 3);
    }
    catch (const CVarkoPrinterException&)
    {
    }
}

void CVarkoPrinter::PrintTestPageTPX()
{
    try
    {
        SendCommand("~WC", 3);
    }
    catch (const CVarkoPrinterException&)
    {
    }
}

// Nobody up the stack would see the exception, so the failure is reported here.
void CVarkoPrinter::Calibrate()
{
    try
    {
        SendCommand("\nxa\n", 4);
    }
    catch (const CVarkoPrinterException& e)
    {
        e.ReportError(MB_OK, 0);
    }
}

void CVarkoPrinter::SendCalibration(CPortBase* port)
{
    ExchangeOn(port, "\nxa\n", 4, nullptr);
}
