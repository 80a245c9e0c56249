#pragma once
// Discovery answers over UDP: one socket on the discovery address takes broadcasts, and
// each network printer has its own socket on its address, from which it answers (so a
// requester sees the answer come from the printer) and which takes unicast requests to
// that printer. Answers go to loopback requesters only unless non-loopback is allowed.
//
// Threading: single-threaded, like the loop.
#include "Transport.h"

#include <memory>

struct sockaddr_in;

namespace printersim
{

class DiscoveryTransport : public Transport
{
public:
    DiscoveryTransport(EventLog& log, std::string bindAddress, int port, bool allowNonLoopback)
        : m_log(log), m_bind(std::move(bindAddress)), m_port(port),
          m_allowNonLoopback(allowNonLoopback)
    {
    }
    ~DiscoveryTransport() override;

    // Binds the discovery socket and one socket per network printer. "" or an error.
    std::string Start(const std::vector<std::unique_ptr<Device>>& devices);

    void AddFds(PollSet& set) override;

private:
    // only: the printer whose own socket it came to; null for the discovery socket.
    void OnReadable(int fd, Device* only);
    void Answer(Device& d, const ::sockaddr_in& to);

    EventLog& m_log;
    std::string m_bind;
    int m_port;
    bool m_allowNonLoopback;
    std::vector<Device*> m_devices;
    int m_discoveryFd = -1;
};

} // namespace printersim
