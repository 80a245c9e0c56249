#include "DiscoveryPacket.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace
{
constexpr BYTE kAnswerSignature[3] = {0x3A, 0x2C, 0x2E};
}

UINT DiscoveryPort()
{
    if (const char* text = std::getenv("VARKO_DISCOVERY_PORT"); text && *text)
    {
        char* end = nullptr;
        unsigned long port = std::strtoul(text, &end, 10);
        if (*end == '\0' && port >= 1 && port <= 65535)
            return static_cast<UINT>(port);
    }
    return DISCOVERY_PORT;
}

CString FormatIPv4(const BYTE address[4])
{
    return CString::Formatted("%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
}

CString DiscoveryRecord::AddressText() const
{
    return FormatIPv4(&bytes[ADDRESS_OFFSET]);
}

CString DiscoveryRecord::PrinterName() const
{
    const char* start = reinterpret_cast<const char*>(&bytes[NAME_OFFSET]);
    std::size_t room = SIZE - NAME_OFFSET;
    std::size_t length = strnlen(start, room);
    return CString(start, static_cast<int>(length));
}

EDiscoveryVerdict CheckDiscoveryDatagram(const BYTE* data, std::size_t length,
                                         const CString& senderAddress, const CString& ownAddress)
{
    if (!data || length == 0)
        return EDiscoveryVerdict::eEmpty;
    if (!ownAddress.IsEmpty() && senderAddress == ownAddress)
        return EDiscoveryVerdict::eFromSelf;
    if (senderAddress == "0.0.0.0")
        return EDiscoveryVerdict::eFromNowhere;
    if (length < sizeof kAnswerSignature ||
        std::memcmp(data, kAnswerSignature, sizeof kAnswerSignature) != 0)
        return EDiscoveryVerdict::eBadSignature;
    if (length < DiscoveryRecord::MIN_DATAGRAM)
        return EDiscoveryVerdict::eTooShort;
    if (!IsUnicastIPv4(data + DiscoveryRecord::ADDRESS_OFFSET))
        return EDiscoveryVerdict::eNotUnicast;
    return EDiscoveryVerdict::eAccepted;
}

bool IsUnicastIPv4(const BYTE address[4])
{
    return address[0] != 0 && address[0] < 224;
}

std::unique_ptr<DiscoveryRecord> MakeDiscoveryRecord(const BYTE* data, std::size_t length)
{
    if (!data || length < DiscoveryRecord::MIN_DATAGRAM)
        return nullptr;
    auto record = std::make_unique<DiscoveryRecord>(); // zero-filled
    std::memcpy(record->bytes.data(), data, std::min(length, DiscoveryRecord::SIZE));
    return record;
}
