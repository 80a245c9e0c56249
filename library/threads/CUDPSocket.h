#pragma once
// The discovery socket: UDP port 4201 on all interfaces, broadcast on, shared with other
// users of the port on this computer. It sends the one request of a search and turns
// each answer into a record for its thread. Its notifications are served by the loop of
// the thread that made it, so OnReceive runs on that thread.
//
// The request goes to 255.255.255.255 unless the environment variable
// VARKO_DISCOVERY_BROADCAST names another IPv4 address: tests and the demo use
// 127.255.255.255 so that nothing leaves the computer.
//
// Threading: made, used and destroyed on the discovery thread only.
#include "CString.h"
#include "DatagramSocket.h"
#include "DiscoveryPacket.h"
#include "WinTypes.h"

#include <vector>

class CDetectPrintersThread;

class CUDPSocket
{
public:
    // The answer record (432 bytes; layout and the handling of odd sizes in
    // DiscoveryPacket.h).
    using DiscoveryResponsePacketF3 = DiscoveryRecord;

    static constexpr const char* DEFAULT_BROADCAST = "255.255.255.255";

    CUDPSocket(CDetectPrintersThread* owner, UINT port);
    ~CUDPSocket(); // closes

    // Looks up the own address, makes and binds the socket, turns broadcasting on and
    // has the owner's loop watch it. Failures are recorded (GetLastError) and otherwise
    // ignored: the search then ends at once because the send fails, or hears nothing.
    void Create();
    bool SendDiscoveryRequest();
    // One datagram per call; errorCode is the notification's Windows Sockets error.
    void OnReceive(int errorCode);
    void Close();

    const CString& GetOwnAddress() const { return m_ownAddress; }
    // For tests that play another computer's view of the network.
    void SetOwnAddress(const CString& address) { m_ownAddress = address; }
    DWORD GetLastError() const { return m_lastError; }

    // Where the request goes: VARKO_DISCOVERY_BROADCAST or 255.255.255.255.
    static CString BroadcastAddress();

private:
    UINT m_port;
    CString m_ownAddress;
    // Addresses no answer may claim: where the request went, and each interface's
    // broadcast address.
    std::vector<CString> m_broadcasts;
    CDetectPrintersThread* m_pOwner;
    CDatagramSocket m_socket;
    DWORD m_lastError;
    bool m_watched;
};
