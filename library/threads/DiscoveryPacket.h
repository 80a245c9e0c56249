#pragma once
// The discovery datagrams on UDP port 4201, as pure functions from bytes to values so
// they can be tested on hostile input without a network.
//
// The request is 6 bytes: 2E 2C 3A 01 00 00. An answer is copied into a record of 432
// bytes: its signature 3A 2C 2E at offset 0 (the request's reversed), the printer's IPv4
// address in network order at 72, its name at 84, ended by a 0 byte. Every other byte is
// kept as received and not interpreted.
//
// Datagrams that do not fit the record exactly are handled so that no record is ever
// overrun and no printer is made up from half an answer:
// - longer than 432 bytes: the excess is cut off;
// - shorter than 76 bytes (no complete address): dropped;
// - from 76 to 431 bytes: the rest of the record is zero-filled, so a name cut short
//   ends where the datagram ends;
// - a name without a 0 byte before the end of the record ends at the record's end.
//
// Threading: pure functions and a plain value type; any thread.
#include "CString.h"
#include "WinTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

constexpr UINT DISCOVERY_PORT = 4201;
// The port a search uses: DISCOVERY_PORT, or the environment variable
// VARKO_DISCOVERY_PORT (1-65535) for tests that must not meet other searches running
// on the same computer.
UINT DiscoveryPort();
constexpr std::size_t DISCOVERY_RECEIVE_BUFFER = 4096;
// Room in the socket for answers that arrive faster than the thread reads them: a fleet
// answers one broadcast within a millisecond or two. Linux charges about 1280 bytes per
// answer on loopback (more on a network card), so this holds well over 1000 answers;
// the system may grant less (net.core.rmem_max) to a process without the right to
// exceed it.
constexpr int DISCOVERY_SOCKET_BUFFER = 2 << 20;
// Answers kept per search. A search's window is open to anyone on the network, so the
// list must not grow with a flood of forged answers; far more printers than any fleet
// has fit.
constexpr std::size_t DISCOVERY_MAX_ANSWERS = 8192;
constexpr std::size_t DISCOVERY_REQUEST_SIZE = 6;
inline constexpr std::array<BYTE, DISCOVERY_REQUEST_SIZE> DISCOVERY_REQUEST = {0x2E, 0x2C, 0x3A,
                                                                               0x01, 0x00, 0x00};

struct DiscoveryRecord
{
    static constexpr std::size_t SIZE = 432;
    static constexpr std::size_t ADDRESS_OFFSET = 72;
    static constexpr std::size_t NAME_OFFSET = 84;
    static constexpr std::size_t MIN_DATAGRAM = ADDRESS_OFFSET + 4;

    std::array<BYTE, SIZE> bytes{};

    // The address as dotted decimal text, first byte first ("%u.%u.%u.%u").
    CString AddressText() const;
    // The name from offset 84 up to its 0 byte, or to the end of the record.
    CString PrinterName() const;
};
static_assert(sizeof(DiscoveryRecord) == DiscoveryRecord::SIZE);

enum class EDiscoveryVerdict
{
    eAccepted,
    eEmpty,        // nothing received
    eFromSelf,     // our own address: we hear our own broadcast
    eFromNowhere,  // sender 0.0.0.0
    eBadSignature, // not an answer (our own request looks like this)
    eTooShort,     // no complete address
    eNotUnicast    // the address claimed is no printer's: this network, multicast, broadcast
};

// Whether an address (network order) can be one host's: not in 0.0.0.0/8, not multicast
// (224.0.0.0/4), not reserved or the limited broadcast (240.0.0.0/4). A test connection
// is made to whatever address an answer claims, so an answer that claims anything else
// is a forgery or a mistake.
bool IsUnicastIPv4(const BYTE address[4]);

// The checks an answer must pass before it becomes a record (the claimed address among
// them; a subnet's own broadcast address is known only to the socket). ownAddress may be empty
// when this computer's name does not resolve: then no sender is taken for ourselves
// (our own request is still dropped by its signature).
EDiscoveryVerdict CheckDiscoveryDatagram(const BYTE* data, std::size_t length,
                                         const CString& senderAddress, const CString& ownAddress);

// The record for an accepted datagram (cut or zero-filled as above); null when the
// datagram cannot make one.
std::unique_ptr<DiscoveryRecord> MakeDiscoveryRecord(const BYTE* data, std::size_t length);

// Formats an address given in network order, as the answer carries it.
CString FormatIPv4(const BYTE address[4]);
