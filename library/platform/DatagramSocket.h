#pragma once
// An IPv4 UDP socket for discovery: bound to one port on all interfaces, able to
// broadcast, non-blocking. The program and the printer simulator (or a second program
// on the same computer) share the discovery port, so the socket asks for SO_REUSEADDR
// and, where the system allows it, SO_REUSEPORT before binding.
//
// Failures return false or -1 and leave errno of the failing call in LastErrno(),
// captured before anything else can change it.
//
// Threading: one thread uses a socket at a time (the discovery thread that made it).
#include "CString.h"
#include "Export.h"
#include "WinTypes.h"

#include <cstddef>
#include <vector>

class VARKO_EXPORT CDatagramSocket
{
public:
    CDatagramSocket() = default;
    ~CDatagramSocket(); // closes
    CDatagramSocket(const CDatagramSocket&) = delete;
    CDatagramSocket& operator=(const CDatagramSocket&) = delete;

    // Makes the socket and binds it to 0.0.0.0:port. On failure to bind the socket stays
    // open (it can still send from a port the system picks) and false is returned.
    bool Create(UINT port);
    bool EnableBroadcast();
    // Asks for room for bytes of queued datagrams (the kernel counts its own overhead in
    // it), beyond the system's usual limit where the process may do so. Returns the room
    // granted, 0 when the socket is not open.
    int SetReceiveBuffer(int bytes);
    // The number of bytes sent, or -1.
    long SendTo(const void* data, std::size_t length, const CString& address, UINT port);
    // One datagram, at most capacity bytes (the rest of a longer one is lost, as UDP
    // does); -1 when there is none or on an error.
    long ReceiveFrom(void* buffer, std::size_t capacity, CString& senderAddress, UINT& senderPort);
    // The pending error of the socket (SO_ERROR), 0 when there is none.
    int TakePendingError();
    void Close();

    bool IsOpen() const { return m_fd >= 0; }
    int GetDescriptor() const { return m_fd; }
    int LastErrno() const { return m_lastErrno; }

private:
    int m_fd = -1;
    int m_lastErrno = 0;
};

// This computer's first IPv4 address as dotted text, looked up from its host name;
// empty when the name does not resolve to an IPv4 address.
VARKO_EXPORT CString GetOwnIPv4Address();
// The broadcast addresses of this computer's IPv4 interfaces, as dotted text.
std::vector<CString> GetInterfaceBroadcastAddresses();
