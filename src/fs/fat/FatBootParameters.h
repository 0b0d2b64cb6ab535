#pragma once
// The BIOS parameter block of a FAT boot sector, decoded once for the boot-sector
// test and the FAT parser (little-endian on disk, in host order here).
#include "common/Endian.h"

#include <cstddef>
#include <cstdint>

namespace ondrel {

namespace fatbpb {
// Byte offsets in the boot sector.
inline constexpr std::size_t kJump = 0x00;
inline constexpr std::size_t kOemName = 0x03;
inline constexpr std::size_t kBytesPerSector = 0x0B;
inline constexpr std::size_t kSectorsPerCluster = 0x0D;
inline constexpr std::size_t kReservedSectors = 0x0E;
inline constexpr std::size_t kFatCount = 0x10;
inline constexpr std::size_t kRootEntries = 0x11;
inline constexpr std::size_t kTotalSectors16 = 0x13;
inline constexpr std::size_t kMedia = 0x15;
inline constexpr std::size_t kSectorsPerFat16 = 0x16;
inline constexpr std::size_t kTotalSectors32 = 0x20;
inline constexpr std::size_t kSectorsPerFat32 = 0x24;
inline constexpr std::size_t kRootCluster = 0x2C;
inline constexpr std::size_t kBootMark = 0x1FE;
inline constexpr std::uint16_t kBootMarkValue = 0xAA55;
}  // namespace fatbpb

struct FatBootParameters {
    std::uint8_t jump[3] = {0, 0, 0};
    bool bootMark = false;            // 55 AA at the sector's end
    bool ntfsOrExfatId = false;       // "NTFS" or "EXFAT" where the OEM name stands
    std::uint32_t bytesPerSector = 0;
    std::uint32_t sectorsPerCluster = 0;
    std::uint32_t reservedSectors = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t rootEntries = 0;
    std::uint32_t totalSectors16 = 0;
    std::uint8_t media = 0;
    std::uint32_t sectorsPerFat16 = 0;
    std::uint32_t totalSectors32 = 0;
    std::uint32_t sectorsPerFat32 = 0;
    std::uint32_t rootCluster = 0;

    std::uint64_t totalSectors() const { return totalSectors16 != 0 ? totalSectors16 : totalSectors32; }
    std::uint64_t sectorsPerFat() const { return sectorsPerFat16 != 0 ? sectorsPerFat16 : sectorsPerFat32; }
    // No fixed root folder and a 32-bit FAT size: laid out as FAT32.
    bool fat32Layout() const { return sectorsPerFat16 == 0 && rootEntries == 0; }
};

inline FatBootParameters parseFatBootParameters(Bytes s) {
    using namespace fatbpb;
    FatBootParameters p;
    for (std::size_t i = 0; i < 3; ++i) p.jump[i] = le8(s, kJump + i);
    p.bootMark = le16(s, kBootMark) == kBootMarkValue;
    p.ntfsOrExfatId = hasText(s, kOemName, "NTFS") || hasText(s, kOemName, "EXFAT");
    p.bytesPerSector = le16(s, kBytesPerSector);
    p.sectorsPerCluster = le8(s, kSectorsPerCluster);
    p.reservedSectors = le16(s, kReservedSectors);
    p.fatCount = le8(s, kFatCount);
    p.rootEntries = le16(s, kRootEntries);
    p.totalSectors16 = le16(s, kTotalSectors16);
    p.media = le8(s, kMedia);
    p.sectorsPerFat16 = le16(s, kSectorsPerFat16);
    p.totalSectors32 = le32(s, kTotalSectors32);
    p.sectorsPerFat32 = le32(s, kSectorsPerFat32);
    p.rootCluster = le32(s, kRootCluster);
    return p;
}

}  // namespace ondrel
