#pragma once
// What the kernel says of this machine's IPv4 connections to a listening printer, for
// tests that must know that a segment (data, an end, a reset) has reached the other side
// before they go on, rather than sleeping and hoping it has.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

// The states, as /proc/net/tcp writes them, of the connections whose remote end is port
// (and address, when one is given: dotted IPv4).
inline std::vector<std::string> TcpStatesTo(unsigned port, const std::string& address = "")
{
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    std::string wantedAddress;
    if (!address.empty())
    {
        in_addr a{};
        ::inet_pton(AF_INET, address.c_str(), &a);
        char hex[16];
        // The address in the byte order of the machine, as the kernel prints it.
        std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(a.s_addr));
        wantedAddress = hex;
    }
    std::vector<std::string> states;
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    std::getline(tcp, line); // header
    while (std::getline(tcp, line))
    {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        if (remote.size() == 13 && remote.substr(8) == wanted &&
            (wantedAddress.empty() || remote.substr(0, 8) == wantedAddress))
            states.push_back(state);
    }
    return states;
}

// The bytes sent on this socket that the other end has not acknowledged yet: 0 once
// everything sent is in the other end's receive queue.
inline int UnacknowledgedBytes(int fd)
{
    int n = -1;
    return ::ioctl(fd, SIOCOUTQ, &n) == 0 ? n : -1;
}

// True once the other end has acknowledged this socket's end of the data.
inline bool EndAcknowledged(int fd)
{
    tcp_info info{};
    socklen_t len = sizeof info;
    return ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 &&
           (info.tcpi_state == TCP_FIN_WAIT2 || info.tcpi_state == TCP_TIME_WAIT);
}

constexpr char kTcpEstablished[] = "01";
constexpr char kTcpCloseWait[] = "08"; // the other end has sent its end of the data

inline bool AnyTcpStateTo(unsigned port, const char* state, const std::string& address = "")
{
    for (const std::string& s : TcpStatesTo(port, address))
        if (s == state)
            return true;
    return false;
}
