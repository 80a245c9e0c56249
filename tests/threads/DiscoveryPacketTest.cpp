// The discovery datagrams as bytes, and the datagram socket on loopback only.
#include "DiscoveryPacket.h"
#include "DatagramSocket.h"
#include "DynamicLibrary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <poll.h>
#include <string>
#include <thread>
#include <vector>

namespace
{
std::vector<BYTE> Answer(std::initializer_list<BYTE> address, const std::string& name,
                         std::size_t length = DiscoveryRecord::SIZE)
{
    std::vector<BYTE> d(length, 0xAA);
    d[0] = 0x3A;
    d[1] = 0x2C;
    d[2] = 0x2E;
    std::size_t i = DiscoveryRecord::ADDRESS_OFFSET;
    for (BYTE b : address)
        if (i < d.size())
            d[i++] = b;
    for (std::size_t k = 0; k <= name.size(); ++k) // with its 0 byte
        if (DiscoveryRecord::NAME_OFFSET + k < d.size())
            d[DiscoveryRecord::NAME_OFFSET + k] = k < name.size() ? BYTE(name[k]) : 0;
    return d;
}

TEST(DiscoveryPacket, RequestIsTheSixFixedBytes)
{
    const BYTE expected[] = {0x2E, 0x2C, 0x3A, 0x01, 0x00, 0x00};
    ASSERT_EQ(DISCOVERY_REQUEST.size(), 6u);
    EXPECT_EQ(std::memcmp(DISCOVERY_REQUEST.data(), expected, 6), 0);
    EXPECT_EQ(DISCOVERY_PORT, 4201u);
}

TEST(DiscoveryPacket, AnswerFieldsAreReadAtTheirOffsets)
{
    auto d = Answer({192, 168, 7, 201}, "Lobby");
    ASSERT_EQ(CheckDiscoveryDatagram(d.data(), d.size(), "127.0.0.2", "127.0.0.1"),
              EDiscoveryVerdict::eAccepted);
    auto r = MakeDiscoveryRecord(d.data(), d.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->AddressText(), "192.168.7.201");
    EXPECT_EQ(r->PrinterName(), "Lobby");
    // Uninterpreted bytes are kept as received.
    EXPECT_EQ(r->bytes[3], 0xAA);
    EXPECT_EQ(r->bytes[431], 0xAA);
}

TEST(DiscoveryPacket, FiltersDropOwnRequestsSelfAndNowhere)
{
    auto d = Answer({10, 0, 0, 5}, "P");
    EXPECT_EQ(CheckDiscoveryDatagram(d.data(), d.size(), "127.0.0.1", "127.0.0.1"),
              EDiscoveryVerdict::eFromSelf);
    EXPECT_EQ(CheckDiscoveryDatagram(d.data(), d.size(), "0.0.0.0", "127.0.0.1"),
              EDiscoveryVerdict::eFromNowhere);
    EXPECT_EQ(CheckDiscoveryDatagram(DISCOVERY_REQUEST.data(), 6, "127.0.0.9", "127.0.0.1"),
              EDiscoveryVerdict::eBadSignature);
    d[2] = 0x2F;
    EXPECT_EQ(CheckDiscoveryDatagram(d.data(), d.size(), "127.0.0.9", "127.0.0.1"),
              EDiscoveryVerdict::eBadSignature);
    EXPECT_EQ(CheckDiscoveryDatagram(d.data(), 0, "127.0.0.9", "127.0.0.1"),
              EDiscoveryVerdict::eEmpty);
    EXPECT_EQ(CheckDiscoveryDatagram(d.data(), 2, "127.0.0.9", "127.0.0.1"),
              EDiscoveryVerdict::eBadSignature);
}

TEST(DiscoveryPacket, AnswersClaimingAnAddressNoHostHasAreDropped)
{
    struct Case
    {
        std::initializer_list<BYTE> address;
        bool unicast;
    };
    const Case cases[] = {
        {{10, 0, 0, 5}, true},        {{127, 0, 0, 2}, true},        {{192, 168, 1, 255}, true},
        {{223, 255, 255, 254}, true}, {{1, 0, 0, 0}, true},          {{0, 0, 0, 0}, false},
        {{0, 1, 2, 3}, false},        {{224, 0, 0, 1}, false},       {{239, 255, 255, 250}, false},
        {{240, 0, 0, 1}, false},      {{255, 255, 255, 255}, false},
    };
    for (const Case& c : cases)
    {
        auto d = Answer(c.address, "P");
        const BYTE* a = &d[DiscoveryRecord::ADDRESS_OFFSET];
        EXPECT_EQ(IsUnicastIPv4(a), c.unicast) << FormatIPv4(a).str();
        EXPECT_EQ(CheckDiscoveryDatagram(d.data(), d.size(), "127.0.0.2", "127.0.0.1"),
                  c.unicast ? EDiscoveryVerdict::eAccepted : EDiscoveryVerdict::eNotUnicast)
            << FormatIPv4(a).str();
    }
}

TEST(DiscoveryPacket, UnresolvedOwnAddressStillAcceptsAnswers)
{
    auto d = Answer({10, 0, 0, 5}, "P");
    EXPECT_EQ(CheckDiscoveryDatagram(d.data(), d.size(), "127.0.0.2", ""),
              EDiscoveryVerdict::eAccepted);
    EXPECT_EQ(CheckDiscoveryDatagram(d.data(), d.size(), "", ""), EDiscoveryVerdict::eAccepted);
}

TEST(DiscoveryPacket, LongDatagramsAreCutAndShortOnesZeroFilledOrDropped)
{
    // 4096 bytes of which the record takes the first 432; nothing beyond is touched.
    auto big = Answer({1, 2, 3, 4}, "Big", DISCOVERY_RECEIVE_BUFFER);
    auto r = MakeDiscoveryRecord(big.data(), big.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->PrinterName(), "Big");
    EXPECT_EQ(r->bytes[431], 0xAA);

    // Address complete, name cut short without its 0 byte: ends where the datagram ends.
    auto cut = Answer({1, 2, 3, 4}, "Warehouse", DiscoveryRecord::NAME_OFFSET + 4);
    ASSERT_EQ(CheckDiscoveryDatagram(cut.data(), cut.size(), "127.0.0.2", ""),
              EDiscoveryVerdict::eAccepted);
    r = MakeDiscoveryRecord(cut.data(), cut.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->PrinterName(), "Ware");
    EXPECT_EQ(r->bytes[DiscoveryRecord::NAME_OFFSET + 4], 0);
    EXPECT_EQ(r->bytes[431], 0);

    // Just the address: accepted with an empty name.
    auto bare = Answer({1, 2, 3, 4}, "", DiscoveryRecord::MIN_DATAGRAM);
    r = MakeDiscoveryRecord(bare.data(), bare.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->AddressText(), "1.2.3.4");
    EXPECT_EQ(r->PrinterName(), "");

    // Not even the address: never becomes a printer.
    auto tiny = Answer({1, 2, 3}, "", DiscoveryRecord::MIN_DATAGRAM - 1);
    EXPECT_EQ(CheckDiscoveryDatagram(tiny.data(), tiny.size(), "127.0.0.2", ""),
              EDiscoveryVerdict::eTooShort);
    EXPECT_FALSE(MakeDiscoveryRecord(tiny.data(), tiny.size()));
}

TEST(DiscoveryPacket, NameWithoutTerminatorEndsAtTheRecordsEnd)
{
    std::vector<BYTE> d = Answer({1, 2, 3, 4}, "");
    std::memset(&d[DiscoveryRecord::NAME_OFFSET], 'N',
                DiscoveryRecord::SIZE - DiscoveryRecord::NAME_OFFSET);
    d.push_back('X'); // beyond the record
    auto r = MakeDiscoveryRecord(d.data(), d.size());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->PrinterName(), std::string(348, 'N'));
}

bool WaitReadable(int fd, int ms)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1;
}

// Two sockets share the discovery port on one computer, and a loopback broadcast
// reaches a socket bound to all interfaces. Only 127.x addresses are used.
TEST(DatagramSocket, SharesThePortAndHearsLoopbackBroadcasts)
{
    constexpr UINT port = 42017; // clear of a discovery demo running on this computer
    CDatagramSocket a, b;
    ASSERT_TRUE(a.Create(port)) << a.LastErrno();
    ASSERT_TRUE(b.Create(port)) << b.LastErrno();
    ASSERT_TRUE(a.EnableBroadcast());

    ASSERT_EQ(a.SendTo(DISCOVERY_REQUEST.data(), 6, "127.255.255.255", port), 6);
    ASSERT_TRUE(WaitReadable(b.GetDescriptor(), 2000));
    BYTE buf[DISCOVERY_RECEIVE_BUFFER];
    CString from;
    UINT fromPort = 0;
    ASSERT_EQ(b.ReceiveFrom(buf, sizeof buf, from, fromPort), 6);
    EXPECT_EQ(fromPort, port);
    EXPECT_EQ(from.Left(4), "127.");
    // The sender hears its own broadcast too, which is why answers are filtered.
    ASSERT_TRUE(WaitReadable(a.GetDescriptor(), 2000));
    EXPECT_EQ(a.ReceiveFrom(buf, sizeof buf, from, fromPort), 6);
    // Nothing more: a non-blocking receive reports "would block".
    EXPECT_EQ(a.ReceiveFrom(buf, sizeof buf, from, fromPort), -1);
    EXPECT_EQ(a.LastErrno(), EAGAIN);
}

TEST(DatagramSocket, BroadcastWithoutPermissionFailsAndBadAddressesAreRefused)
{
    CDatagramSocket s;
    ASSERT_TRUE(s.Create(42018));
    EXPECT_EQ(s.SendTo(DISCOVERY_REQUEST.data(), 6, "127.255.255.255", 42018), -1);
    EXPECT_EQ(s.LastErrno(), EACCES);
    EXPECT_EQ(s.SendTo(DISCOVERY_REQUEST.data(), 6, "not an address", 42018), -1);
    s.Close();
    EXPECT_FALSE(s.EnableBroadcast());
}

TEST(DatagramSocket, OwnAddressIsDottedIPv4OrEmpty)
{
    CString own = GetOwnIPv4Address();
    if (own.IsEmpty())
        GTEST_SKIP() << "this computer's name does not resolve";
    unsigned a, b, c, d;
    char tail;
    EXPECT_EQ(std::sscanf(own.GetString(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail), 4) << own.str();
}

TEST(DynamicLibrary, MissingLibraryAndMissingSymbolFindNothing)
{
    CDynamicLibrary lib;
    EXPECT_FALSE(lib.Load("libDoesNotExist-odomira.so"));
    EXPECT_FALSE(lib.LastError().IsEmpty());
    EXPECT_EQ(lib.GetProcAddress("DetectUSBDevices"), nullptr);

    // The C library is on every library path.
    ASSERT_TRUE(lib.Load("libc.so.6")) << lib.LastError().str();
    EXPECT_NE(lib.GetProcAddress("strlen"), nullptr);
    EXPECT_EQ(lib.GetProcAddress("DetectUSBDevices"), nullptr);
    lib.Free();
    EXPECT_FALSE(lib.IsLoaded());
}
} // namespace

namespace
{
TEST(DiscoveryPacket, PortIs4201UnlessAValidPortIsConfigured)
{
    unsetenv("VARKO_DISCOVERY_PORT");
    EXPECT_EQ(DiscoveryPort(), 4201u);
    for (const char* bad : {"", "0", "65536", "12x", "-5"})
    {
        setenv("VARKO_DISCOVERY_PORT", bad, 1);
        EXPECT_EQ(DiscoveryPort(), 4201u) << bad;
    }
    setenv("VARKO_DISCOVERY_PORT", "14201", 1);
    EXPECT_EQ(DiscoveryPort(), 14201u);
    unsetenv("VARKO_DISCOVERY_PORT");
}
} // namespace
