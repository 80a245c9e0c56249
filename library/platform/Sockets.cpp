#include "Sockets.h"

#include "CancellablePoll.h"
#include "DeviceFile.h"
#include "ErrorMapping.h"
#include "IoRetry.h"
#include "SysCalls.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <unistd.h>

using Clock = IoClock;

namespace
{
int failSocket(int err)
{
    SetLastErrorWithText(WinSockErrorFromErrno(err), ErrnoText(err));
    return SOCKET_ERROR;
}

// Bytes handed to the stack that the peer has not acknowledged; -1 when unknown.
long long unacknowledged(int s)
{
    int queued = 0;
    return Sys().ioctl(s, SIOCOUTQ, &queued) == 0 ? queued : -1;
}

// The errno of a connection that poll reports failed or ended by the peer, or 0.
int connectionEnded(int s, short revents)
{
    if (!(revents & (POLLERR | POLLHUP | POLLNVAL | POLLRDHUP)))
        return 0;
    int soError = 0;
    socklen_t len = sizeof soError;
    if (Sys().getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len) == 0 && soError != 0)
        return soError;
    return (revents & POLLNVAL) ? EBADF : EPIPE;
}

// The stack holds all it will take: waits until the peer acknowledges some of it (which
// is progress), at most until stallLimitMs after lastProgress. Room alone is not enough:
// Linux finds a few kilobytes in a full queue now and then (it merges what is queued,
// it grows the queue with each probe of a closed window), and sending into that room
// would keep a printer that reads nothing looking alive for ever. Where the queue
// cannot be measured, room is taken as progress. A connection that has failed or ended
// is reported at once. Returns 0, or the errno to fail with.
int waitForPeer(int s, Clock::time_point& lastProgress, int stallLimitMs)
{
    const long long queuedBefore = unacknowledged(s);
    const IoDeadline stalled = IoDeadline::After(lastProgress, stallLimitMs);
    for (;;)
    {
        if (stalled.Passed())
            return ETIMEDOUT;
        struct pollfd p = {s, POLLOUT | POLLRDHUP, 0};
        const SysResult<int> pr =
            RetryOnEintr([&] { return PollOrCancel(&p, 1, stalled.PollTimeoutMs()); });
        if (pr.Failed())
            return pr.error;
        if (pr.value == 0)
            continue;
        // A reset empties the queue, and a peer that has ended its side takes nothing
        // more: waiting for the queue to shrink would wait out the limit.
        if (int err = connectionEnded(s, p.revents))
            return err;
        const long long queued = unacknowledged(s);
        if (queuedBefore < 0 || queued < 0 || queued < queuedBefore)
        {
            lastProgress = Clock::now();
            return 0;
        }
        // Room, but nothing acknowledged: look again shortly instead of spinning.
        if (PollOrCancel(nullptr, 0, std::min(stalled.PollTimeoutMs(), 50)) < 0 &&
            errno == ECANCELED)
            return ECANCELED;
    }
}

// Letters, digits, hyphens and dots in labels of 1 to 63 characters: anything else is
// not a host name, and asking the name service about it would only cost a time-out.
bool looksLikeHostName(const CString& text)
{
    const std::string& s = text.str();
    if (s.empty() || s.size() > 253)
        return false;
    bool anyLetter = false;
    std::size_t label = 0;
    for (char ch : s)
    {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c == '.')
        {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        if (!std::isalnum(c) && c != '-')
            return false;
        if (std::isalpha(c))
            anyLetter = true;
        if (++label > 63)
            return false;
    }
    // All digits and dots: a malformed address, not a name.
    return anyLetter;
}
} // namespace

DWORD WSAGetLastError()
{
    return GetLastError();
}

bool ParseDottedIPv4(const CString& text, BYTE octets[4])
{
    struct in_addr a;
    if (inet_pton(AF_INET, text.GetString(), &a) != 1)
        return false;
    std::memcpy(octets, &a.s_addr, 4);
    return true;
}

bool ResolveTcpAddress(const CString& host, DWORD port, sockaddr_in* address)
{
    std::memset(address, 0, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(static_cast<std::uint16_t>(port));
    if (inet_pton(AF_INET, host.GetString(), &address->sin_addr) == 1)
        return true;
    if (!looksLikeHostName(host))
    {
        SetLastErrorWithText(WSAHOST_NOT_FOUND, "Not a network address or host name");
        return false;
    }
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* found = nullptr;
    int r = getaddrinfo(host.GetString(), nullptr, &hints, &found);
    if (r != 0 || !found)
    {
        SetLastErrorWithText(WSAHOST_NOT_FOUND, gai_strerror(r));
        if (found)
            freeaddrinfo(found);
        return false;
    }
    address->sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

SOCKET TcpConnect(const CString& host, DWORD port, int limitMs)
{
    sockaddr_in address;
    if (!ResolveTcpAddress(host, port, &address))
        return INVALID_SOCKET;
    SOCKET s = Sys().socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0)
        return failSocket(errno);
    const IoDeadline deadline = IoDeadline::After(IoClock::now(), limitMs);
    const int r = Sys().connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int connectError = r < 0 ? errno : 0;
    if (r < 0 && connectError != EINPROGRESS && connectError != EINTR)
    {
        Sys().close(s);
        return failSocket(connectError);
    }
    if (r < 0)
    {
        // A connect interrupted by a signal goes on in the background, like one in
        // progress: wait for either to finish.
        for (;;)
        {
            if (deadline.Passed())
            {
                Sys().close(s);
                return failSocket(ETIMEDOUT);
            }
            struct pollfd p = {s, POLLOUT, 0};
            const SysResult<int> pr =
                RetryOnEintr([&] { return PollOrCancel(&p, 1, deadline.PollTimeoutMs()); });
            if (pr.Failed())
            {
                Sys().close(s);
                return failSocket(pr.error);
            }
            if (pr.value > 0)
                break;
        }
        int soError = 0;
        socklen_t len = sizeof soError;
        if (Sys().getsockopt(s, SOL_SOCKET, SO_ERROR, &soError, &len) < 0)
            soError = errno;
        if (soError != 0)
        {
            Sys().close(s);
            return failSocket(soError);
        }
    }
    // Commands are small and a printer waits for them: send each at once.
    int one = 1;
    Sys().setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    SetLastError(ERROR_SUCCESS);
    return s;
}

int TcpSendAll(SOCKET s, const void* buffer, DWORD count, int stallLimitMs, bool moreFollows,
               DWORD* handed)
{
    DWORD ignored = 0;
    DWORD& sent = handed ? *handed : ignored;
    sent = 0;
    const int flags = MSG_NOSIGNAL | (moreFollows ? MSG_MORE : 0);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    // A download calls this once per piece and the stack nearly always takes the piece
    // at once: the clock is read only when there is a wait to time.
    Clock::time_point lastProgress;
    bool progressed = true;
    while (sent < count)
    {
        const SysResult<ssize_t> r =
            RetryOnEintr([&] { return Sys().send(s, bytes + sent, count - sent, flags); });
        if (r.value > 0)
        {
            sent += static_cast<DWORD>(r.value);
            progressed = true;
            continue;
        }
        if (r.Failed() && r.error != EAGAIN)
            return failSocket(r.error);
        if (progressed)
        {
            lastProgress = Clock::now();
            progressed = false;
        }
        if (int err = waitForPeer(s, lastProgress, stallLimitMs))
        {
            if (err != ETIMEDOUT)
                return failSocket(err);
            // The bytes the stack took are on their way to the printer: the caller must
            // hear how many, or it would send them a second time.
            failSocket(ETIMEDOUT);
            return static_cast<int>(sent);
        }
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(count);
}

int TcpReceiveNow(SOCKET s, void* buffer, DWORD capacity)
{
    const SysResult<ssize_t> r =
        RetryOnEintr([&] { return Sys().recv(s, buffer, capacity, MSG_DONTWAIT); });
    return r.Failed() ? failSocket(r.error) : static_cast<int>(r.value);
}

int TcpShutdown(SOCKET s, int how)
{
    int mode = how == SD_RECEIVE ? SHUT_RD : how == SD_SEND ? SHUT_WR : SHUT_RDWR;
    if (Sys().shutdown(s, mode) < 0)
        return failSocket(errno);
    return 0;
}

bool TcpWaitSendQueueEmpty(SOCKET s, int limitMs)
{
    const IoDeadline deadline = IoDeadline::After(IoClock::now(), limitMs);
    for (;;)
    {
        int queued = 0;
        if (Sys().ioctl(s, SIOCOUTQ, &queued) < 0 || queued <= 0)
            return true;
        if (deadline.Passed())
            return false;
        if (PollOrCancel(nullptr, 0, std::min(10, deadline.PollTimeoutMs())) < 0 &&
            errno == ECANCELED)
            return false;
    }
}

void TcpPushPending(SOCKET s)
{
    // Turning TCP_NODELAY on (again) pushes the frames held back.
    int one = 1;
    Sys().setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

long long TcpUnacknowledged(SOCKET s)
{
    return unacknowledged(s);
}

int TcpWaitAcknowledged(SOCKET s, int stallLimitMs)
{
    long long queued = unacknowledged(s);
    IoDeadline stalled = IoDeadline::After(Clock::now(), stallLimitMs);
    for (;;)
    {
        if (queued == 0)
            return 0;
        if (queued < 0)
            return EINVAL;
        struct pollfd p = {s, POLLRDHUP, 0};
        const SysResult<int> pr = RetryOnEintr(
            [&] { return PollOrCancel(&p, 1, std::min(stalled.PollTimeoutMs(), 10)); });
        if (pr.Failed())
            return pr.error;
        // Acknowledged in full just before the peer ended its side is delivered all the
        // same: the queue is looked at first.
        const long long now = unacknowledged(s);
        if (now == 0)
            return 0;
        if (int err = pr.value > 0 ? connectionEnded(s, p.revents) : 0)
            return err;
        if (now >= 0 && now < queued)
            stalled = IoDeadline::After(Clock::now(), stallLimitMs);
        else if (stalled.Passed())
            return ETIMEDOUT;
        queued = now;
    }
}

bool TcpIsConnected(SOCKET s)
{
    struct tcp_info info;
    socklen_t len = sizeof info;
    if (Sys().getsockopt(s, IPPROTO_TCP, TCP_INFO, &info, &len) < 0)
        return false;
    return info.tcpi_state == TCP_ESTABLISHED;
}

bool TcpPeerHasLeft(SOCKET s)
{
    struct pollfd p = {s, POLLRDHUP, 0};
    const int r = RetryOnEintr([&] { return Sys().poll(&p, 1, 0); }).value;
    return r > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

void TcpClose(SOCKET s)
{
    if (s >= 0)
        Sys().close(s);
}
