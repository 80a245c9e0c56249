#include "CPrinterJobLink.h"

#include "CPortBase.h"
#include "CVarkoPrinter.h"

CPrinterJobLink::CPrinterJobLink(CVarkoPrinterData* printer) : m_printer(printer) {}

CPrinterJobLink::~CPrinterJobLink()
{
    if (m_handedOver)
    {
        m_handedOver->Close();
        delete m_handedOver;
    }
}

CPrinterJobLink::Lease CPrinterJobLink::Take()
{
    std::lock_guard g(m_lock);
    Lease lease;
    if (!m_printer)
        return lease;
    lease.attached = true;
    lease.downloadFile = m_printer->DownloadFile();
    lease.portUse = m_printer->PortUse();
    if (auto* live = dynamic_cast<CVarkoPrinter*>(m_printer))
        lease.port = live->GetPort();
    return lease;
}

void CPrinterJobLink::ClearDownloadFile()
{
    std::lock_guard g(m_lock);
    if (m_printer)
        m_printer->DownloadFile(CString());
}

bool CPrinterJobLink::Calibrate()
{
    std::lock_guard g(m_lock);
    auto* live = dynamic_cast<CVarkoPrinter*>(m_printer);
    return live && live->m_bCalibrate;
}

void CPrinterJobLink::Detach(CPortBase* port)
{
    std::lock_guard g(m_lock);
    m_printer = nullptr;
    if (port && port != m_handedOver)
    {
        delete m_handedOver;
        m_handedOver = port;
    }
}
