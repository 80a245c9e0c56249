#pragma once
// A printer reached by raw TCP (port 9100 by default): one connection per operation.
//
// Open connects within TCP_CONNECT_LIMIT_MS (Sockets.h, about 21 s as on the original
// platform). The first write of a connection (a command) is handed to the stack as it is.
// Later writes (a download's pieces) are gathered and handed over GATHER_BYTES at a time;
// Read and Close send what is gathered first, and the stack may hold the last part-filled
// segment back until Close ends the data.
//
// Whatever the stack takes is kept until the printer has acknowledged it. When the
// printer drops the connection, what sat in the dead connection's buffers would be lost:
// the port connects again to the same address and sends again from the first byte the
// printer had not acknowledged, then goes on. It does that after every drop that followed
// some progress; it gives up with code 12 when it cannot tell where the printer stands, no
// longer holds the bytes from there, or the printer keeps dropping connections without
// taking anything. WaitUntilDelivered ends a download: it returns only once every byte
// has been acknowledged.
//
// Whether the printer has ended its side is asked before the first write of a
// connection, after a write it did not take in full and after a pause of
// PEER_CHECK_IDLE_MS between writes; writes that follow each other closely learn of a
// dropped connection from the stack. A printer that takes nothing for SEND_STALL_LIMIT_MS
// while the connection stays up ends the write without an error, reporting how much of
// the write was taken (0 when none), so the caller offers only the rest again. Read never
// waits. Close sends the end of the data, discards what the printer sent, waits briefly
// for the printer to acknowledge the data (CLOSE_ACK_LIMIT_MS) and releases the
// connection; it never throws. Each wait ends at once when the thread's cancel event is
// set (a stopped download): a write then throws 995 and does not connect again.
//
// Threading: as CPortBase, one thread at a time; the socket is created, used and
// destroyed by the thread that opened the port.
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
    // Returns when the printer has acknowledged every byte written since Open; code 12
    // when it has not within SEND_STALL_LIMIT_MS of its last progress, or when bytes it
    // lost cannot be sent again.
    void WaitUntilDelivered() override;
    bool IsOpen() const override;
    void CopyFrom(const CPortBase* other) override;
    virtual void CopySettings(const CNetworkPort* other);

    void SetIPAddress(BYTE a, BYTE b, BYTE c, BYTE d);
    void GetIPAddress(BYTE& a, BYTE& b, BYTE& c, BYTE& d) const;

    static constexpr int SEND_STALL_LIMIT_MS = 30000;
    static constexpr int PEER_CHECK_IDLE_MS = 1000;
    static constexpr int CLOSE_ACK_LIMIT_MS = 2000;
    // Pieces gathered before one send: about what a plain file copy sends at once.
    static constexpr DWORD GATHER_BYTES = 16 * 1024;
    // Close discards at most this much unread data from a printer that keeps sending.
    static constexpr DWORD CLOSE_DRAIN_LIMIT = 1 << 20;

    // The configuration dialog reads and writes it directly.
    DWORD m_tcpPort;

protected:
    CTCPSocket* m_socket;

private:
    // Throws what the failed send left as the last error (code 12 when bytes are lost);
    // returns for a connection that is up but took nothing.
    void ThrowSendError();
};
