#pragma once
// CRC-32 as zlib computes it (IEEE polynomial, reflected, initial and final inversion),
// so a test can compare the simulator's label checksum with one of its own.
#include <cstddef>
#include <cstdint>

namespace printersim
{

// Continues a running checksum; start with crc = 0.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t length);

} // namespace printersim
