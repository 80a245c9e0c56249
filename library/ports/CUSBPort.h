#pragma once
// A printer on USB, reached by the device path that discovery found. Shown as "USB".
#include "CPortBase.h"

class CUSBPort : public CPortBase
{
    DECLARE_DYNCREATE(CUSBPort)
public:
    CUSBPort();
    ~CUSBPort() override;

    void Serialize(CArchive& ar) override;
    CString DisplayName() const override;
    CString DeviceModel() override;
    void Open() override;
    void Write(const void* buffer, DWORD count, DWORD& written) override;
    void Read(void* buffer, DWORD capacity, DWORD& received) override;
    void CopyFrom(const CPortBase* other) override;
    virtual void CopySettings(const CUSBPort* other);
};
