#pragma once
// TCP streams over POSIX sockets, with the error numbers of Windows Sockets: a failing
// call returns SOCKET_ERROR and leaves the WinSock number (10035, 10054, ...) and the
// system's text as the thread's last error (GetLastError, WSAGetLastError).
//
// Sockets are always non-blocking underneath; the calls that wait do it with poll and
// a limit, and end early with ERROR_OPERATION_ABORTED (995) when the calling thread's
// cancel event is set (CThreadCancelScope, WaitHandles.h). A send never raises SIGPIPE:
// a printer that resets the connection gives an error number, never a signal that would
// end the program.
//
// Threading: a socket is used by one thread at a time. No global state.
#include "CString.h"
#include "WinTypes.h"

using SOCKET = int;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int SOCKET_ERROR = -1;
constexpr int SD_RECEIVE = 0;
constexpr int SD_SEND = 1;
constexpr int SD_BOTH = 2;
constexpr DWORD WSAHOST_NOT_FOUND = 11001;

// How long a connect may take. Windows gives up after about 21 s (three SYNs, 3+6+12 s);
// Linux would wait over two minutes, which would freeze a query of a switched-off
// network printer far longer than on the original platform.
constexpr int TCP_CONNECT_LIMIT_MS = 21000;

// WSAGetLastError: the same per-thread slot as GetLastError.
DWORD WSAGetLastError();

struct sockaddr_in;

// Dotted IPv4 text (exactly four decimal parts) to an address, without any name
// service.
bool ParseDottedIPv4(const CString& text, BYTE octets[4]);
// Resolves the address text of a network printer: dotted IPv4 directly, otherwise a
// host name through the system's name service. Text that is neither (numbers that are
// no IPv4 address, characters no host name has) fails without asking the name service.
// port keeps its low 16 bits, as the Windows socket calls do.
bool ResolveTcpAddress(const CString& host, DWORD port, sockaddr_in* address);

// A connected stream socket to host:port within limitMs, or INVALID_SOCKET.
SOCKET TcpConnect(const CString& host, DWORD port, int limitMs = TCP_CONNECT_LIMIT_MS);
// Hands all count bytes to the stack and returns count, or SOCKET_ERROR. A peer that
// takes nothing, or acknowledges nothing for stallLimitMs while the stack holds all it will
// take, ends the send early, the connection staying up: the result is then the number of
// bytes the stack did take (0 when none), and the last error is WSAETIMEDOUT. moreFollows
// tells the stack that the caller goes on sending (or ends the connection next): it may
// then hold back a part-filled segment until more bytes come or the sending side is shut
// down, instead of sending every call's bytes as a segment of their own.
// A peer that ends its side while it is sent to counts as gone (a raw printer never does
// that while it expects data), so the send fails instead of waiting out the limit.
// handed, when given, receives how many bytes the stack took, also when the send fails.
int TcpSendAll(SOCKET s, const void* buffer, DWORD count, int stallLimitMs,
               bool moreFollows = false, DWORD* handed = nullptr);
// What has already arrived, up to capacity, without waiting: the count, 0 when the
// peer has closed its side, or SOCKET_ERROR (WSAEWOULDBLOCK when nothing is there).
int TcpReceiveNow(SOCKET s, void* buffer, DWORD capacity);
int TcpShutdown(SOCKET s, int how);
// Waits at most limitMs until the peer has acknowledged everything sent (false when it
// has not, or the wait was cancelled).
bool TcpWaitSendQueueEmpty(SOCKET s, int limitMs);
// Sends at once what the stack holds back for more to follow (MSG_MORE).
void TcpPushPending(SOCKET s);
// How many of the bytes handed to the stack the peer has not acknowledged; -1 when the
// system cannot tell. It stays readable after the connection has failed, so it tells
// where a dropped connection left off.
long long TcpUnacknowledged(SOCKET s);
// Waits until the peer has acknowledged everything sent: 0, or the errno to fail with:
// ETIMEDOUT when nothing more was acknowledged for stallLimitMs, EPIPE (or the socket's
// own error) when the peer ended its side or the connection failed first, ECANCELED
// when the thread's cancel event was set.
int TcpWaitAcknowledged(SOCKET s, int stallLimitMs);
// True while the socket still has a peer (the connection was not reset or closed).
bool TcpIsConnected(SOCKET s);
// True when the peer has ended its side or the connection has failed, without waiting.
bool TcpPeerHasLeft(SOCKET s);
void TcpClose(SOCKET s);
