#include "DatagramSocket.h"

#include "IoRetry.h"
#include "SysCalls.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

CDatagramSocket::~CDatagramSocket()
{
    Close();
}

bool CDatagramSocket::Create(UINT port)
{
    Close();
    m_fd = Sys().socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_fd < 0)
    {
        m_lastErrno = errno;
        return false;
    }
    int one = 1;
    // Both are best effort: without them a second user of the port fails to bind, which
    // is reported below; SO_REUSEPORT is refused between different users on Linux.
    Sys().setsockopt(m_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#ifdef SO_REUSEPORT
    Sys().setsockopt(m_fd, SOL_SOCKET, SO_REUSEPORT, &one, sizeof one);
#endif
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (Sys().bind(m_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
    {
        m_lastErrno = errno;
        return false;
    }
    return true;
}

bool CDatagramSocket::EnableBroadcast()
{
    int one = 1;
    if (m_fd < 0)
    {
        m_lastErrno = EBADF;
        return false;
    }
    if (Sys().setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one) != 0)
    {
        m_lastErrno = errno;
        return false;
    }
    return true;
}

int CDatagramSocket::SetReceiveBuffer(int bytes)
{
    if (m_fd < 0)
        return 0;
    auto granted = [this]
    {
        int size = 0;
        socklen_t len = sizeof size;
        return Sys().getsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, &len) == 0 ? size : 0;
    };
    // Linux doubles what it is asked for (its overhead is counted in the room) and caps
    // the request at net.core.rmem_max; a privileged process may go past the cap.
    Sys().setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
#ifdef SO_RCVBUFFORCE
    if (granted() < bytes)
        Sys().setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
#endif
    return granted();
}

long CDatagramSocket::SendTo(const void* data, std::size_t length, const CString& address,
                             UINT port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (m_fd < 0)
    {
        m_lastErrno = EBADF;
        return -1;
    }
    if (::inet_pton(AF_INET, address.GetString(), &to.sin_addr) != 1)
    {
        m_lastErrno = EINVAL;
        return -1;
    }
    const SysResult<ssize_t> n = RetryOnEintr(
        [&] {
            return Sys().sendto(m_fd, data, length, 0, reinterpret_cast<const sockaddr*>(&to),
                                sizeof to);
        });
    if (n.Failed())
        m_lastErrno = n.error;
    return static_cast<long>(n.value);
}

long CDatagramSocket::ReceiveFrom(void* buffer, std::size_t capacity, CString& senderAddress,
                                  UINT& senderPort)
{
    senderAddress.Empty();
    senderPort = 0;
    if (m_fd < 0)
    {
        m_lastErrno = EBADF;
        return -1;
    }
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    const SysResult<ssize_t> received = RetryOnEintr(
        [&]
        {
            return Sys().recvfrom(m_fd, buffer, capacity, 0, reinterpret_cast<sockaddr*>(&from),
                                  &fromLength);
        });
    if (received.Failed())
    {
        m_lastErrno = received.error;
        return -1;
    }
    const ssize_t n = received.value;
    if (fromLength >= sizeof from && from.sin_family == AF_INET)
    {
        const BYTE* a = reinterpret_cast<const BYTE*>(&from.sin_addr.s_addr);
        senderAddress.Format("%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
        senderPort = ntohs(from.sin_port);
    }
    else
        senderAddress = "0.0.0.0"; // no usable sender: the caller drops it
    return static_cast<long>(n);
}

int CDatagramSocket::TakePendingError()
{
    if (m_fd < 0)
        return EBADF;
    int err = 0;
    socklen_t len = sizeof err;
    if (Sys().getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        return errno;
    return err;
}

void CDatagramSocket::Close()
{
    if (m_fd >= 0)
    {
        Sys().close(m_fd);
        m_fd = -1;
    }
}

std::vector<CString> GetInterfaceBroadcastAddresses()
{
    std::vector<CString> found;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return found;
    for (ifaddrs* a = list; a; a = a->ifa_next)
        if ((a->ifa_flags & IFF_BROADCAST) && a->ifa_broadaddr &&
            a->ifa_broadaddr->sa_family == AF_INET)
        {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ifa_broadaddr);
            const BYTE* b = reinterpret_cast<const BYTE*>(&in->sin_addr.s_addr);
            found.push_back(CString::Formatted("%u.%u.%u.%u", b[0], b[1], b[2], b[3]));
        }
    ::freeifaddrs(list);
    return found;
}

CString GetOwnIPv4Address()
{
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return CString();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &result) != 0 || !result)
        return CString();
    CString text;
    for (addrinfo* a = result; a; a = a->ai_next)
        if (a->ai_family == AF_INET && a->ai_addrlen >= sizeof(sockaddr_in))
        {
            const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
            const BYTE* b = reinterpret_cast<const BYTE*>(&in->sin_addr.s_addr);
            text.Format("%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
            break;
        }
    ::freeaddrinfo(result);
    return text;
}
