#pragma once
// A printer reached by raw TCP (port 9100 by default): one connection per operation.
#include "CPortBase.h"

class CNetworkPort : public CPortBase
{
    DECLARE_DYNCREATE(CNetworkPort)
public:
    class CTCPSocket;

    CNetworkPort();
    ~CNetworkPort() override;

    void Serialize(CArchive& ar) override;
    void Open() override;
    void Close() override;
    void Write(const void* buffer, DWORD count, DWORD& written) override;
    void Read(void* buffer, DWORD capacity, DWORD& received) override;
    bool IsOpen() const override;
    void CopyFrom(const CPortBase* other) override;
    virtual void CopySettings(const CNetworkPort* other);

    void SetIPAddress(BYTE a, BYTE b, BYTE c, BYTE d);
    void GetIPAddress(BYTE& a, BYTE& b, BYTE& c, BYTE& d) const;

    // The configuration dialog reads and writes it directly.
    DWORD m_tcpPort;

protected:
    CTCPSocket* m_socket;
};
