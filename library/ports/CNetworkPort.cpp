#include "CNetworkPort.h"

#include "CArchive.h"
#include "CVarkoPrinterException.h"
#include "DeviceFile.h"
#include "Sockets.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

IMPLEMENT_DYNCREATE(CNetworkPort, CPortBase)

// The connection of an open network port. A reconnect makes a new socket to the same
// address and port: a Linux socket that has failed cannot be connected again.
class CNetworkPort::CTCPSocket
{
public:
    explicit CTCPSocket(CNetworkPort* port) : m_port(port) {}
    ~CTCPSocket() { Close(); }
    CTCPSocket(const CTCPSocket&) = delete;
    CTCPSocket& operator=(const CTCPSocket&) = delete;

    bool Connect(const CString& host, DWORD port)
    {
        Close();
        m_socket = TcpConnect(host, port);
        m_checkPeer = true;
        m_writes = 0;
        return m_socket != INVALID_SOCKET;
    }

    // All count bytes, or as many as a printer that stopped taking data took before the
    // stall limit (0 when none: the connection is still up, and connecting a connected
    // socket fails on the original platform), or SOCKET_ERROR.
    //
    // A connection's first write may be a command the printer is to act on or answer at
    // once: it goes out as it is. Later writes are a download's pieces; they are gathered
    // here and handed to the stack GATHER_BYTES at a time, since a system call per piece
    // costs more than the copy. Read and Close send what is gathered first, so nothing
    // waits here for a write that may never come.
    int Send(const void* buffer, DWORD count, int)
    {
        if (m_writes++ == 0 || count >= GATHER_BYTES)
        {
            if (!SendGathered(SEND_STALL_LIMIT_MS))
                return SOCKET_ERROR;
            return SendOrReconnect(buffer, count, m_writes > 1, SEND_STALL_LIMIT_MS);
        }
        if (m_gathered + count > GATHER_BYTES)
        {
            if (!SendGathered(SEND_STALL_LIMIT_MS))
                return SOCKET_ERROR;
            // Left over only when the printer took nothing for the stall limit: the
            // piece is not taken either, so the caller sees the stall.
            if (m_gathered > 0)
                return 0;
        }
        if (!m_buffer)
            m_buffer = std::make_unique<unsigned char[]>(GATHER_BYTES);
        std::memcpy(m_buffer.get() + m_gathered, buffer, count);
        m_gathered += count;
        return static_cast<int>(count);
    }

    // False with the error set when what was gathered could not be sent; what the
    // printer did take is gone from the gathered bytes either way.
    bool SendGathered(int stallLimitMs, bool moreFollows = true)
    {
        if (m_gathered == 0)
            return true;
        int r = SendOrReconnect(m_buffer.get(), m_gathered, moreFollows, stallLimitMs);
        if (r == SOCKET_ERROR)
            return false;
        const auto taken = static_cast<DWORD>(r);
        m_gathered -= taken;
        if (m_gathered > 0)
            std::memmove(m_buffer.get(), m_buffer.get() + taken, m_gathered);
        return true;
    }

    int Receive(void* buffer, DWORD capacity, int)
    {
        if (m_socket == INVALID_SOCKET)
        {
            SetLastErrorWithText(WSAENOTCONN, "Not connected");
            return SOCKET_ERROR;
        }
        // The printer answers what it has been sent, so it goes out now, not held back.
        if (!SendGathered(SEND_STALL_LIMIT_MS, false))
            return SOCKET_ERROR;
        return TcpReceiveNow(m_socket, buffer, capacity);
    }

    // What is still gathered goes out within limitMs or is given up: a close never
    // waits out the stall limit of a write. The time this takes, in ms.
    int SendRest(int limitMs)
    {
        const auto start = std::chrono::steady_clock::now();
        if (!SendGathered(limitMs) || m_gathered > 0)
            m_gathered = 0;
        return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
    }

    void ShutDown(int how)
    {
        if (m_socket != INVALID_SOCKET)
            TcpShutdown(m_socket, how);
    }

    void WaitUntilAcknowledged(int limitMs)
    {
        if (m_socket != INVALID_SOCKET)
            TcpWaitSendQueueEmpty(m_socket, limitMs);
    }

    void Close()
    {
        TcpClose(m_socket);
        m_socket = INVALID_SOCKET;
    }

    CNetworkPort* m_port;

private:
    int SendOrReconnect(const void* buffer, DWORD count, bool moreFollows, int stallLimitMs)
    {
        int r = MayHaveLeft() && PeerHasLeft()
                    ? failDropped()
                    : TcpSendAll(m_socket, buffer, count, stallLimitMs, moreFollows);
        // A printer that did not take everything may be about to give up on us.
        if (r != static_cast<int>(count))
            m_checkPeer = true;
        if (r != SOCKET_ERROR)
            return r;
        // A stopped job does not connect again.
        if (WSAGetLastError() == ERROR_OPERATION_ABORTED)
            return SOCKET_ERROR;
        if (m_socket != INVALID_SOCKET && TcpIsConnected(m_socket) && !PeerHasLeft())
        {
            SetLastErrorWithText(WSAEISCONN, "The connection to the printer is still open");
            return SOCKET_ERROR;
        }
        if (!Connect(m_port->PortName(), m_port->m_tcpPort))
            return SOCKET_ERROR;
        // The new connection was asked for just now; the next write need not ask
        // whether the printer has left unless this one did not go through. What is
        // resent is the new connection's first write, so it goes out as it is.
        m_writes = 1;
        r = TcpSendAll(m_socket, buffer, count, stallLimitMs, false);
        m_checkPeer = r != static_cast<int>(count);
        return r;
    }

    // A raw printer never ends its side while it expects data: if it has, or the
    // connection is gone, anything sent now would be lost without an error.
    bool PeerHasLeft() const { return m_socket == INVALID_SOCKET || TcpPeerHasLeft(m_socket); }

    // Asking is a system call that costs about as much as sending a piece, so it is
    // asked where a printer may have left unnoticed: before the first write of a
    // connection, after a write it did not take in full, and after a pause between
    // writes. While the pieces of a download follow each other, a printer that drops
    // the connection makes the next send fail, and that send is made again.
    bool MayHaveLeft()
    {
        const auto now = std::chrono::steady_clock::now();
        const bool idle = now - m_lastSend >= std::chrono::milliseconds(PEER_CHECK_IDLE_MS);
        m_lastSend = now;
        const bool ask = m_checkPeer || idle;
        m_checkPeer = false;
        return ask;
    }

    static int failDropped()
    {
        SetLastErrorWithText(WSAECONNRESET, "The printer closed the connection");
        return SOCKET_ERROR;
    }

    SOCKET m_socket = INVALID_SOCKET;
    bool m_checkPeer = true;
    unsigned m_writes = 0;                     // of this connection
    std::unique_ptr<unsigned char[]> m_buffer; // gathered pieces, allocated on first use
    DWORD m_gathered = 0;
    std::chrono::steady_clock::time_point m_lastSend;
};

CNetworkPort::CNetworkPort() : m_tcpPort(9100), m_socket(nullptr) {}

CNetworkPort::~CNetworkPort()
{
    // Clients close before destroying; a port left open still must not leak its socket.
    delete m_socket;
}

void CNetworkPort::Serialize(CArchive& ar)
{
    CPortBase::Serialize(ar);
    if (ar.IsStoring())
        ar << m_tcpPort;
    else
        ar >> m_tcpPort;
}

void CNetworkPort::Open()
{
    // Callers open a closed port; an open one keeps its connection instead of leaking it.
    if (m_socket)
        return;
    m_socket = new CTCPSocket(this);
    if (!m_socket->Connect(PortName(), m_tcpPort))
    {
        delete m_socket;
        m_socket = nullptr;
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    }
}

namespace
{
// Reads and throws away what the printer sent, up to CLOSE_DRAIN_LIMIT bytes, until
// nothing more has arrived (10035) or the connection is gone: either ends it.
void DiscardWhatArrived(CNetworkPort& port)
{
    try
    {
        char buffer[50];
        DWORD received = 0;
        DWORD drained = 0;
        do
        {
            port.Read(buffer, sizeof buffer, received);
            drained += received;
        } while (received > 0 && drained < CNetworkPort::CLOSE_DRAIN_LIMIT);
    }
    catch (const CVarkoPrinterException&)
    {
    }
}
} // namespace

void CNetworkPort::Close()
{
    if (!m_socket)
        return;
    // The acknowledgement wait below shares its limit with sending what is left.
    const int spent = std::min(m_socket->SendRest(CLOSE_ACK_LIMIT_MS), CLOSE_ACK_LIMIT_MS);
    m_socket->ShutDown(SD_SEND);
    DiscardWhatArrived(*this);
    // Releasing a socket with unread data resets the connection, and a reset throws away
    // whatever the printer has not yet acknowledged. Let it acknowledge, then discard
    // what arrived meanwhile.
    m_socket->WaitUntilAcknowledged(CLOSE_ACK_LIMIT_MS - spent);
    DiscardWhatArrived(*this);
    delete m_socket;
    m_socket = nullptr;
}

void CNetworkPort::Write(const void* buffer, DWORD count, DWORD& written)
{
    written = 0;
    if (!m_socket)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    int r = m_socket->Send(buffer, count, 0);
    if (r == SOCKET_ERROR)
    {
        written = 0;
        DWORD error = WSAGetLastError();
        if (error == WSAEISCONN)
            return;
        ThrowPortError(error);
    }
    written = static_cast<DWORD>(r);
}

void CNetworkPort::Read(void* buffer, DWORD capacity, DWORD& received)
{
    received = 0;
    if (!m_socket)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    int r = m_socket->Receive(buffer, capacity, 0);
    if (r == SOCKET_ERROR)
    {
        received = 0;
        ThrowPortError(WSAGetLastError());
    }
    received = static_cast<DWORD>(r);
}

bool CNetworkPort::IsOpen() const
{
    return m_socket != nullptr;
}

void CNetworkPort::CopyFrom(const CPortBase* other)
{
    if (const auto* network = dynamic_cast<const CNetworkPort*>(other))
        CopySettings(network);
    else
        CPortBase::CopyFrom(other);
}

void CNetworkPort::CopySettings(const CNetworkPort* other)
{
    CPortBase::CopyFrom(other);
    if (other)
        m_tcpPort = other->m_tcpPort;
}

void CNetworkPort::SetIPAddress(BYTE a, BYTE b, BYTE c, BYTE d)
{
    m_name.Format("%d.%d.%d.%d", a, b, c, d);
}

void CNetworkPort::GetIPAddress(BYTE& a, BYTE& b, BYTE& c, BYTE& d) const
{
    // As the original reads it: each part is at most three characters read like atoi,
    // keeping the low 8 bits, and a missing full stop restarts at the beginning.
    auto take = [this](int start) -> BYTE
    {
        CString part = m_name.Mid(start, 3);
        return static_cast<BYTE>(std::atoi(part.GetString()) & 0xFF);
    };
    int p1 = m_name.Find('.', 0);
    a = take(0);
    int p2 = m_name.Find('.', p1 + 1);
    b = take(p1 + 1);
    int p3 = m_name.Find('.', p2 + 1);
    c = take(p2 + 1);
    d = take(p3 + 1);
}
