#include "CUDPSocket.h"

#include "CDetectPrintersThread.h"

#include <cerrno>
#include <cstdlib>
#include <new>
#include <poll.h>

namespace
{
// The few socket errors discovery tells apart; the rest are read and dropped.
DWORD winSockError(int err)
{
    switch (err)
    {
    case 0:
        return 0;
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    case EINVAL:
        return WSAEINVAL;
    case EBADF:
        return WSAENOTSOCK;
    default:
        return WSAEOPNOTSUPP;
    }
}
} // namespace

CUDPSocket::CUDPSocket(CDetectPrintersThread* owner, UINT port)
    : m_port(port), m_pOwner(owner), m_lastError(0), m_watched(false)
{
}

CUDPSocket::~CUDPSocket()
{
    Close();
}

CString CUDPSocket::BroadcastAddress()
{
    const char* configured = std::getenv("VARKO_DISCOVERY_BROADCAST");
    return configured && *configured ? CString(configured) : CString(DEFAULT_BROADCAST);
}

void CUDPSocket::Create()
{
    // A name that does not resolve leaves the own address empty: then no sender is
    // taken for this computer, and our own request is still dropped by its signature.
    m_ownAddress = GetOwnIPv4Address();
    m_broadcasts = GetInterfaceBroadcastAddresses();
    m_broadcasts.push_back(BroadcastAddress());
    if (!m_socket.Create(m_port))
        m_lastError = winSockError(m_socket.LastErrno());
    if (!m_socket.EnableBroadcast())
        m_lastError = winSockError(m_socket.LastErrno());
    m_socket.SetReceiveBuffer(DISCOVERY_SOCKET_BUFFER);
    if (m_socket.IsOpen() && m_pOwner)
    {
        m_pOwner->AddSocketWatch(m_socket.GetDescriptor(), POLLIN,
                                 [this](int, short revents)
                                 {
                                     int error = 0;
                                     if (revents & POLLERR)
                                         error = static_cast<int>(
                                             winSockError(m_socket.TakePendingError()));
                                     OnReceive(error);
                                 });
        m_watched = true;
    }
}

bool CUDPSocket::SendDiscoveryRequest()
{
    long sent = m_socket.SendTo(DISCOVERY_REQUEST.data(), DISCOVERY_REQUEST.size(),
                                BroadcastAddress(), m_port);
    if (sent < 0)
    {
        m_lastError = winSockError(m_socket.LastErrno());
        return false;
    }
    return true;
}

void CUDPSocket::OnReceive(int errorCode)
{
    if (errorCode == static_cast<int>(WSAENETDOWN))
        return;
    try
    {
        BYTE buffer[DISCOVERY_RECEIVE_BUFFER];
        CString sender;
        UINT senderPort = 0;
        long n = m_socket.ReceiveFrom(buffer, sizeof buffer, sender, senderPort);
        if (n <= 0)
        {
            if (n < 0)
                m_lastError = winSockError(m_socket.LastErrno());
            return;
        }
        auto length = static_cast<std::size_t>(n);
        if (CheckDiscoveryDatagram(buffer, length, sender, m_ownAddress) !=
            EDiscoveryVerdict::eAccepted)
            return;
        auto record = MakeDiscoveryRecord(buffer, length);
        if (!record || !m_pOwner)
            return;
        const CString claimed = record->AddressText();
        for (const CString& broadcast : m_broadcasts)
            if (claimed == broadcast)
                return;
        m_pOwner->AddResponse(record.release());
    }
    catch (const std::bad_alloc&)
    {
        // An answer lost for want of memory is like one lost on the network.
    }
}

void CUDPSocket::Close()
{
    if (m_watched && m_pOwner && m_socket.IsOpen())
        m_pOwner->RemoveSocketWatch(m_socket.GetDescriptor());
    m_watched = false;
    m_socket.Close();
}
