#include "CNetworkPort.h"

#include "CArchive.h"
#include "CVarkoPrinterException.h"
#include "DeviceFile.h"
#include "ErrorMapping.h"
#include "Sockets.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

IMPLEMENT_DYNCREATE(CNetworkPort, CPortBase)

// The connection of an open network port. A reconnect makes a new socket to the same
// address and port: a Linux socket that has failed cannot be connected again.
//
// What the stack has taken is kept (the replay) until the printer has acknowledged it:
// when a connection drops, the bytes that sat in its buffers went down with it, and
// they go again, first thing, on a new connection. The bytes of one opening are counted
// as one stream across its connections: m_handed is how far the stream has been handed
// to the stack, m_connStart where the current connection took it up.
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
        m_connStart = m_handed;
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
            return SendOrResume(buffer, count, m_writes > 1, SEND_STALL_LIMIT_MS);
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
        int r = SendOrResume(m_buffer.get(), m_gathered, moreFollows, stallLimitMs);
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

    // Sends what is gathered and waits until the printer has acknowledged every byte,
    // taking the stream up on a new connection when this one drops. False, with the
    // last error set, when the printer did not get everything (Lost() tells when the
    // port knows it never will).
    bool Deliver(int stallLimitMs)
    {
        if (!SendGathered(stallLimitMs, false))
            return false;
        if (m_gathered > 0)
        {
            // The printer took nothing for the stall limit.
            SetLastErrorWithText(WSAETIMEDOUT, "The printer takes no more data");
            return false;
        }
        // A piece sent with more to follow may still be held back by the stack, and
        // it would wait for ever to be acknowledged.
        if (m_socket != INVALID_SOCKET)
            TcpPushPending(m_socket);
        for (;;)
        {
            // A connection that could not be made again is tried once more here.
            if (m_socket == INVALID_SOCKET)
            {
                if (!Resume())
                    return false;
                continue;
            }
            const int err = TcpWaitAcknowledged(m_socket, stallLimitMs);
            if (err == 0)
                return true;
            if (err == ETIMEDOUT || err == ECANCELED)
            {
                SetLastErrorWithText(err == ECANCELED ? ERROR_OPERATION_ABORTED : WSAETIMEDOUT,
                                     ErrnoText(err));
                return false;
            }
            if (!Resume())
                return false;
        }
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

    // True once bytes the printer never acknowledged cannot be sent again: the job
    // cannot be complete.
    bool Lost() const { return m_lost; }

    CNetworkPort* m_port;

private:
    int SendOrResume(const void* buffer, DWORD count, bool moreFollows, int stallLimitMs)
    {
        const auto* bytes = static_cast<const unsigned char*>(buffer);
        DWORD done = 0;
        for (;;)
        {
            const DWORD want = count - done;
            DWORD handed = 0;
            int r = MayHaveLeft() && PeerHasLeft() ? failDropped()
                                                   : TcpSendAll(m_socket, bytes + done, want,
                                                                stallLimitMs, moreFollows, &handed);
            Keep(bytes + done, handed);
            done += handed;
            // A printer that did not take everything may be about to give up on us.
            if (r != static_cast<int>(want))
                m_checkPeer = true;
            if (r != SOCKET_ERROR)
                return static_cast<int>(done);
            // A stopped job does not connect again.
            if (WSAGetLastError() == ERROR_OPERATION_ABORTED)
                return SOCKET_ERROR;
            if (m_socket != INVALID_SOCKET && TcpIsConnected(m_socket) && !PeerHasLeft())
            {
                if (done > 0)
                    return static_cast<int>(done);
                SetLastErrorWithText(WSAEISCONN, "The connection to the printer is still open");
                return SOCKET_ERROR;
            }
            if (!Resume())
                return SOCKET_ERROR;
            // The rest goes on the new connection, after what was sent again.
            if (done == count)
                return static_cast<int>(done);
        }
    }

    // The connection has dropped: takes the stream up on a new connection from the first
    // byte the printer did not acknowledge, and sends from there to where the stream
    // had got. False when that cannot be done: when the port cannot tell where the
    // printer stands, no longer holds the bytes from there, or the printer keeps
    // dropping connections without acknowledging anything new (all three mark the
    // stream lost); or when no new connection can be made (the socket error).
    bool Resume()
    {
        for (;;)
        {
            const std::uint64_t onConnection = m_handed - m_connStart;
            const long long unacked = m_socket == INVALID_SOCKET
                                          ? static_cast<long long>(onConnection)
                                          : TcpUnacknowledged(m_socket);
            if (unacked < 0 || static_cast<std::uint64_t>(unacked) > onConnection)
                return lose("The printer's position in the data is unknown");
            const std::uint64_t acknowledged = m_handed - static_cast<std::uint64_t>(unacked);
            if (acknowledged < m_replayStart)
                return lose("The data the printer lost is no longer held");
            if (acknowledged > m_resumedAt)
                m_idleResumes = 0;
            else if (++m_idleResumes > MAX_IDLE_RESUMES)
                return lose("The printer drops every connection without taking data");
            m_resumedAt = acknowledged;

            // The stream goes as far as the replay holds it.
            const std::uint64_t end = m_replayStart + m_replay.size();
            m_handed = acknowledged;
            if (!Connect(m_port->PortName(), m_port->m_tcpPort))
                return false;
            // What is sent again is the new connection's first write.
            m_writes = 1;
            bool dropped = false;
            while (m_handed < end && !dropped)
            {
                const std::size_t at = static_cast<std::size_t>(m_handed - m_replayStart);
                const DWORD n = static_cast<DWORD>(
                    std::min<std::uint64_t>(end - m_handed, std::uint64_t(1) << 30));
                DWORD handed = 0;
                const int r = TcpSendAll(m_socket, m_replay.data() + at, n, SEND_STALL_LIMIT_MS,
                                         false, &handed);
                m_handed += handed;
                if (r == SOCKET_ERROR)
                {
                    if (WSAGetLastError() == ERROR_OPERATION_ABORTED)
                        return false;
                    dropped = true;
                }
                else if (static_cast<DWORD>(r) < n)
                {
                    // Taken in part and then nothing for the stall limit: what was
                    // written before cannot be given back to the caller.
                    return lose("The printer takes no more data");
                }
            }
            if (!dropped)
                return true;
        }
    }

    // The bytes just handed to the stack, kept until the printer has acknowledged them.
    void Keep(const unsigned char* bytes, DWORD count)
    {
        if (count == 0)
            return;
        m_replay.insert(m_replay.end(), bytes, bytes + count);
        m_handed += count;
        if (m_replay.size() < m_trimAt)
            return;
        // Now and then, what the printer has acknowledged is let go. The front is cut
        // only when it is at least half the buffer, so each byte is moved at most once
        // on average; the buffer stays within about twice what the stack holds.
        const long long unacked = TcpUnacknowledged(m_socket);
        if (unacked >= 0 && static_cast<std::uint64_t>(unacked) <= m_handed - m_connStart)
        {
            const std::uint64_t acknowledged = m_handed - static_cast<std::uint64_t>(unacked);
            const auto done = static_cast<std::size_t>(acknowledged - m_replayStart);
            if (done >= m_replay.size() / 2)
            {
                m_replay.erase(m_replay.begin(), m_replay.begin() + static_cast<long>(done));
                m_replayStart = acknowledged;
            }
        }
        m_trimAt = m_replay.size() + REPLAY_CHECK_BYTES;
    }

    bool lose(const char* why)
    {
        m_lost = true;
        SetLastErrorWithText(WSAETIMEDOUT, why);
        return false;
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

    // Resumes that found nothing newly acknowledged allowed in a row: a printer that is
    // restarting may drop a connection once more before it takes data again.
    static constexpr int MAX_IDLE_RESUMES = 1;
    // How much is kept between looks at what the printer has acknowledged.
    static constexpr std::size_t REPLAY_CHECK_BYTES = 256 * 1024;

    SOCKET m_socket = INVALID_SOCKET;
    bool m_checkPeer = true;
    unsigned m_writes = 0;                     // of this connection
    std::unique_ptr<unsigned char[]> m_buffer; // gathered pieces, allocated on first use
    DWORD m_gathered = 0;
    std::chrono::steady_clock::time_point m_lastSend;

    std::vector<unsigned char> m_replay; // the stream from m_replayStart to m_handed
    std::uint64_t m_replayStart = 0;
    std::uint64_t m_handed = 0;
    std::uint64_t m_connStart = 0;
    std::size_t m_trimAt = REPLAY_CHECK_BYTES;
    std::uint64_t m_resumedAt = 0; // where the last resume took the stream up
    int m_idleResumes = 0;
    bool m_lost = false;
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
        ThrowSendError();
    }
    written = static_cast<DWORD>(r);
}

void CNetworkPort::WaitUntilDelivered()
{
    if (!m_socket)
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    if (m_socket->Deliver(SEND_STALL_LIMIT_MS))
        return;
    // A printer that stopped acknowledging has not got the job either, nor has one
    // that is still connected but took nothing.
    const DWORD error = WSAGetLastError();
    if (error == WSAETIMEDOUT || error == WSAEISCONN)
        throw CVarkoPrinterException(CVarkoPrinterException::eTimeout);
    ThrowSendError();
}

void CNetworkPort::ThrowSendError()
{
    DWORD error = WSAGetLastError();
    // Bytes the printer never acknowledged and that cannot be sent again: the job
    // cannot be complete, whatever the socket said.
    if (m_socket->Lost())
        throw CVarkoPrinterException(CVarkoPrinterException::eTimeout);
    // Still connected, nothing taken: the write reports 0 bytes and no error.
    if (error == WSAEISCONN)
        return;
    ThrowPortError(error);
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
