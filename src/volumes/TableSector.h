#pragma once
// What the partition-table volume systems share: reading one 512-byte sector
// by its LBA, and the list's number formats ("%lld   MB").
#include "diskimage/ByteSource.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace ondrel {

using TableSector = std::array<std::uint8_t, 512>;

inline bool readTableSector(const ByteSource& source, std::uint64_t lba, TableSector& out) {
    return source.readAt(static_cast<std::int64_t>(lba * 512), out.data(), out.size());
}

// One number in the volume list's printf format.
inline std::string listText(const char* format, long long value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace ondrel
