#pragma once
// A printer on a parallel (LPT) line: send-only, so a printer on it is never queried.
// Writes end when the printer has taken every byte, or with fewer bytes counted when it
// has taken nothing for WRITE_STALL_LIMIT_MS (off line, out of paper). A write that the
// driver has taken in full also waits, within the same limit, until the driver is done
// with it, so that the close that follows drops nothing; code 12 when it never is.
//
// Threading: as CPortBase, one thread at a time.
#include "CPortBase.h"

class CParallelPort : public CPortBase
{
    DECLARE_DYNCREATE(CParallelPort)
public:
    CParallelPort();
    ~CParallelPort() override;

    void Serialize(CArchive& ar) override;
    CString DisplayName() const override;
    void SetPortName(const CString& name) override;
    CString PortName() const override;
    void Open() override;
    void Write(const void* buffer, DWORD count, DWORD& written) override;
    void Read(void* buffer, DWORD capacity, DWORD& received) override;
    void CopyFrom(const CPortBase* other) override;
    virtual void CopySettings(const CParallelPort* other);

    static constexpr DWORD WRITE_STALL_LIMIT_MS = 30000;

protected:
    EDeviceKind DeviceKind() const override { return EDeviceKind::eParallelPrinter; }

    CString m_portName;
};
