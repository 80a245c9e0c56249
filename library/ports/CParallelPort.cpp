#include "CParallelPort.h"

#include "CArchive.h"
#include "DeviceFile.h"

IMPLEMENT_DYNCREATE(CParallelPort, CPortBase)

namespace
{
const char kDevicePrefix[] = "\\\\.\\";
} // namespace

CParallelPort::CParallelPort() = default;

CParallelPort::~CParallelPort() = default;

void CParallelPort::Serialize(CArchive& ar)
{
    CPortBase::Serialize(ar);
    if (ar.IsStoring())
        ar << m_portName;
    else
        ar >> m_portName;
}

CString CParallelPort::DisplayName() const
{
    return m_portName;
}

void CParallelPort::SetPortName(const CString& name)
{
    m_portName = name;
    m_name = kDevicePrefix + name;
}

CString CParallelPort::PortName() const
{
    return m_portName;
}

void CParallelPort::Open()
{
    CPortBase::Open();
    // The parallel driver retries a stuck printer for ever and offers no poll, so
    // nothing else would end a write to a printer that is off line or out of paper.
    // A write that gets nothing accepted for this long returns with the count taken,
    // as a timed-out serial write does.
    SetWriteStallLimit(m_handle, WRITE_STALL_LIMIT_MS);
}

void CParallelPort::Write(const void* buffer, DWORD count, DWORD& written)
{
    CPortBase::Write(buffer, count, written);
    if (written == count)
        WaitForWrittenData();
}

void CParallelPort::Read(void*, DWORD, DWORD& received)
{
    // Send-only: nothing is read, the device and the buffer are not touched.
    received = 0;
}

void CParallelPort::CopyFrom(const CPortBase* other)
{
    if (const auto* parallel = dynamic_cast<const CParallelPort*>(other))
        CopySettings(parallel);
    else
        CPortBase::CopyFrom(other);
}

void CParallelPort::CopySettings(const CParallelPort* other)
{
    CPortBase::CopyFrom(other);
    if (other)
        m_portName = other->m_portName;
}
