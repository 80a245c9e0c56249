#pragma once
// A printer on a parallel (LPT) line: send-only, so a printer on it is never queried.
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
    void Read(void* buffer, DWORD capacity, DWORD& received) override;
    void CopyFrom(const CPortBase* other) override;
    virtual void CopySettings(const CParallelPort* other);

protected:
    CString m_portName;
};
