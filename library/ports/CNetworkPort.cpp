#include "CNetworkPort.h"

#include "CArchive.h"
#include "CVarkoPrinterException.h"
#include "DeviceFile.h"
#include "Sockets.h"

#include <chrono>
#include <cstdlib>

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
    int Send(const void* buffer, DWORD count, int)
    {
        int r = MayHaveLeft() && PeerHasLeft() ? failDropped() : SendNow(buffer, count);
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
        // whether the printer has left unless this one did not go through.
        r = SendNow(buffer, count);
        m_checkPeer = r != static_cast<int>(count);
        return r;
    }

    int Receive(void* buffer, DWORD capacity, int)
    {
        if (m_socket == INVALID_SOCKET)
        {
            SetLastErrorWithText(WSAENOTCONN, "Not connected");
            return SOCKET_ERROR;
        }
        return TcpReceiveNow(m_socket, buffer, capacity);
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
    // A connection's first write may be a command the printer is to act on or answer
    // at once: it goes out as it is. Further writes are a download's pieces, which the
    // stack gathers into full segments; the end of the data (Close) pushes out the rest.
    int SendNow(const void* buffer, DWORD count)
    {
        const bool gather = m_writes++ > 0;
        return TcpSendAll(m_socket, buffer, count, SEND_STALL_LIMIT_MS, gather);
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
    unsigned m_writes = 0; // of this connection
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

void CNetworkPort::Close()
{
    if (!m_socket)
        return;
    try
    {
        m_socket->ShutDown(SD_SEND);
        char buffer[50];
        DWORD received = 0;
        DWORD drained = 0;
        do
        {
            Read(buffer, sizeof buffer, received);
            drained += received;
        } while (received > 0 && drained < CLOSE_DRAIN_LIMIT);
    }
    catch (const CVarkoPrinterException&)
    {
        // Nothing more has arrived (10035) or the connection is gone: either ends it.
    }
    // Releasing a socket with unread data resets the connection, and a reset throws away
    // whatever the printer has not yet acknowledged. Let it acknowledge, then discard
    // what arrived meanwhile.
    m_socket->WaitUntilAcknowledged(CLOSE_ACK_LIMIT_MS);
    try
    {
        char buffer[50];
        DWORD received = 0;
        DWORD drained = 0;
        do
        {
            Read(buffer, sizeof buffer, received);
            drained += received;
        } while (received > 0 && drained < CLOSE_DRAIN_LIMIT);
    }
    catch (const CVarkoPrinterException&)
    {
    }
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
