// Discovery answers as anyone on the network may send them: the datagram is handed to
// the discovery socket's receive handler by the receive call itself (the first four
// input bytes are the sender's address, the rest is the datagram, cut at the 4096-byte
// receive buffer as a real receive would cut it), and the handler files what it accepts
// with the searching thread.
//
// What must hold: a datagram is kept exactly when it carries the answer signature, is
// long enough for an address, comes from neither this computer nor 0.0.0.0, and claims
// an address one host can have (unicast, and none of the broadcast addresses); a kept
// record holds the datagram's bytes (cut at 432, zero-filled after a short one); its
// address and name read from their offsets, the name without a 0 byte and never past
// the record; handling one datagram takes no more heap than one record.
#include "CDetectPrintersThread.h"
#include "CUDPSocket.h"
#include "DatagramSocket.h"
#include "DiscoveryPacket.h"
#include "FuzzSupport.h"
#include "SysCalls.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <string>

namespace
{
const char kOwnAddress[] = "10.1.2.3";
const std::uint8_t* g_datagram = nullptr;
std::size_t g_datagramSize = 0;
std::uint8_t g_sender[4];

ssize_t FakeReceiveFrom(int, void* buf, std::size_t len, int, sockaddr* addr, socklen_t* alen)
{
    std::size_t n = std::min(len, g_datagramSize);
    std::memcpy(buf, g_datagram, n);
    if (addr && alen && *alen >= sizeof(sockaddr_in))
    {
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(4201);
        std::memcpy(&from.sin_addr.s_addr, g_sender, 4);
        std::memcpy(addr, &from, sizeof from);
        *alen = sizeof from;
    }
    return static_cast<ssize_t>(n);
}

struct Discovery
{
    CDetectPrintersThread thread; // never started: its handlers are called directly
    CUDPSocket socket{&thread, 0};
    Discovery()
    {
        fuzz::HeapWatch::Install();
        socket.Create(); // a real socket on a port of the system's choosing; nothing is sent
        socket.SetOwnAddress(kOwnAddress);
        Sys().recvfrom = &FakeReceiveFrom;
    }
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Discovery d;
    if (size < 4)
        return 0;
    std::memcpy(g_sender, data, 4);
    g_datagram = data + 4;
    g_datagramSize = size - 4;
    const std::size_t received = std::min(g_datagramSize, DISCOVERY_RECEIVE_BUFFER);

    d.thread.OnStartDetect(0, 0); // a search runs: answers are kept
    fuzz::HeapWatch::Start();
    d.socket.OnReceive(0);
    fuzz::HeapWatch::Stop();
    // One record at most, whatever the datagram says.
    FUZZ_REQUIRE(fuzz::HeapWatch::PeakBytes() <= 4096);

    const std::string sender = FormatIPv4(g_sender).str();
    const bool answer = received >= DiscoveryRecord::MIN_DATAGRAM && sender != kOwnAddress &&
                        sender != "0.0.0.0" && g_datagram[0] == 0x3A && g_datagram[1] == 0x2C &&
                        g_datagram[2] == 0x2E;
    bool claimsHost = false;
    if (answer)
    {
        const std::uint8_t* c = g_datagram + DiscoveryRecord::ADDRESS_OFFSET;
        claimsHost = c[0] != 0 && c[0] < 224;
        static const std::vector<CString> broadcasts = []
        {
            std::vector<CString> b = GetInterfaceBroadcastAddresses();
            b.push_back(CUDPSocket::BroadcastAddress());
            return b;
        }();
        for (const CString& b : broadcasts)
            claimsHost = claimsHost && FormatIPv4(c) != b;
    }
    const bool wanted = answer && claimsHost;
    FUZZ_REQUIRE(d.thread.GetResponseCount() == (wanted ? 1 : 0));
    const EDiscoveryVerdict verdict =
        CheckDiscoveryDatagram(g_datagram, received, CString(sender), CString(kOwnAddress));
    // The subnets' broadcast addresses are the socket's to know, not the datagram's.
    FUZZ_REQUIRE((verdict == EDiscoveryVerdict::eAccepted) ==
                 (answer && g_datagram[DiscoveryRecord::ADDRESS_OFFSET] != 0 &&
                  g_datagram[DiscoveryRecord::ADDRESS_OFFSET] < 224));
    if (!wanted)
        return 0;

    POSITION pos = d.thread.GetFirstResponse();
    const DiscoveryRecord* record = d.thread.GetNextResponse(pos);
    FUZZ_REQUIRE(record && pos == nullptr);
    const std::size_t kept = std::min(received, DiscoveryRecord::SIZE);
    FUZZ_REQUIRE(std::memcmp(record->bytes.data(), g_datagram, kept) == 0);
    for (std::size_t i = kept; i < DiscoveryRecord::SIZE; ++i)
        FUZZ_REQUIRE(record->bytes[i] == 0);

    const std::uint8_t* a = &record->bytes[DiscoveryRecord::ADDRESS_OFFSET];
    char dotted[16];
    std::snprintf(dotted, sizeof dotted, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    FUZZ_REQUIRE(record->AddressText() == dotted);

    const std::string name = record->PrinterName().str();
    FUZZ_REQUIRE(name.size() <= DiscoveryRecord::SIZE - DiscoveryRecord::NAME_OFFSET);
    FUZZ_REQUIRE(name.find('\0') == std::string::npos);
    FUZZ_REQUIRE(
        std::memcmp(name.data(), &record->bytes[DiscoveryRecord::NAME_OFFSET], name.size()) == 0);
    return 0;
}
