#pragma once
// CRC-32C (Castagnoli), the checksum of VHDX headers, region tables and log entries.
#include <cstddef>
#include <cstdint>

namespace ondrel {

// The checksum of size bytes; continue a running one by passing it back as crc.
std::uint32_t crc32c(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

}  // namespace ondrel
