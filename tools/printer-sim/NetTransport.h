#pragma once
// Network printers: a TCP listener on the printer's (loopback) address, one connection
// at a time, read until the client shuts down its sending side. Never sends a byte.
//
// Threading: single-threaded, like the loop.
#include "Transport.h"

#include <netinet/in.h>

namespace printersim
{

class NetTransport : public Transport
{
public:
    explicit NetTransport(TransportHost& host) : m_host(host), m_log(host.Log()) {}
    ~NetTransport() override;

    // Serves d from now on; listens at once when d is powered. "" or an error.
    std::string Add(Device& d);
    // Power on: listens on d's address and port. "" or an error.
    std::string Start(Device& d);
    // Power off: ends a running connection (reset: with RST) and stops listening.
    void Stop(Device& d, bool reset);

    void AddFds(PollSet& set) override;

private:
    void OnAccept(Device& d);
    void OnReadable(Device& d);
    void DropConnection(Device& d);
    void KeepAcknowledged(Device& d);
    std::string FillBacklog(Device& d, const sockaddr_in& address);
    void CloseConnection(Device& d, const char* why);

    TransportHost& m_host;
    EventLog& m_log;
    std::vector<Device*> m_devices;
};

} // namespace printersim
