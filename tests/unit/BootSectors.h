#pragma once
// Boot records and partition tables written into a disk buffer, for the
// volume-discovery cases the real tools cannot be made to produce.
#include "unit/TestSupport.h"
#include "fs/fat/FatBootParameters.h"

#include <cstring>
#include <string>

namespace ondrel::test {

inline void putText(ByteVector& d, std::size_t off, const std::string& text) {
    std::memcpy(d.data() + off, text.data(), text.size());
}

inline void ntfsBoot(ByteVector& d, std::size_t sector, std::uint64_t totalSectors, std::uint16_t bytesPerSector = 512) {
    std::size_t o = sector * 512;
    d[o] = 0xEB;
    d[o + 1] = 0x52;
    d[o + 2] = 0x90;
    putText(d, o + 3, "NTFS    ");
    putLe(d, o + 0x0B, bytesPerSector, 2);
    d[o + 0x0D] = 8;
    putLe(d, o + 0x28, totalSectors, 8);
    putLe(d, o + 510, 0xAA55, 2);
}

// A FAT boot sector: FAT16 when fatSize16 is set, FAT32 layout otherwise.
inline void fatBoot(ByteVector& d, std::size_t sector, const std::string& oem, std::uint32_t totalSectors,
                    std::uint8_t sectorsPerCluster, std::uint16_t fatSize16, std::uint32_t fatSize32) {
    using namespace fatbpb;
    std::size_t o = sector * 512;
    d[o + kJump] = 0xEB;
    d[o + kJump + 1] = fatSize16 ? 0x3C : 0x58;
    d[o + kJump + 2] = 0x90;
    putText(d, o + kOemName, oem);
    putLe(d, o + kBytesPerSector, 512, 2);
    d[o + kSectorsPerCluster] = sectorsPerCluster;
    putLe(d, o + kReservedSectors, fatSize16 ? 4 : 32, 2);
    d[o + kFatCount] = 2;
    putLe(d, o + kRootEntries, fatSize16 ? 512 : 0, 2);
    if (totalSectors < 65536) putLe(d, o + kTotalSectors16, totalSectors, 2);
    else putLe(d, o + kTotalSectors32, totalSectors, 4);
    d[o + kMedia] = 0xF8;
    putLe(d, o + kSectorsPerFat16, fatSize16, 2);
    if (!fatSize16) putLe(d, o + kSectorsPerFat32, fatSize32, 4);
    putLe(d, o + kBootMark, kBootMarkValue, 2);
}

inline void exfatBoot(ByteVector& d, std::size_t sector, std::uint64_t volumeSectors) {
    std::size_t o = sector * 512;
    d[o] = 0xEB;
    d[o + 1] = 0x76;
    d[o + 2] = 0x90;
    putText(d, o + 3, "EXFAT   ");
    putLe(d, o + 0x48, volumeSectors, 8);
    d[o + 0x6C] = 9;
    putLe(d, o + 510, 0xAA55, 2);
}

inline void hfsPlusHeader(ByteVector& d, std::size_t volumeSector, std::uint32_t blockSize, std::uint32_t blocks) {
    std::size_t o = volumeSector * 512 + 1024;
    d[o] = 'H';
    d[o + 1] = '+';
    d[o + 2] = 0;
    d[o + 3] = 4;
    putBe(d, o + 0x28, blockSize, 4);
    putBe(d, o + 0x2C, blocks, 4);
}

inline void extSuperblock(ByteVector& d, std::size_t volumeSector, std::uint32_t blocks, std::uint32_t logBlockSize,
                          std::uint16_t groupNumber = 0) {
    std::size_t o = volumeSector * 512 + 1024;
    putLe(d, o + 0, 2048, 4);
    putLe(d, o + 4, blocks, 4);
    putLe(d, o + 20, logBlockSize == 0 ? 1 : 0, 4);
    putLe(d, o + 24, logBlockSize, 4);
    putLe(d, o + 32, 8192, 4);
    putLe(d, o + 40, 2048, 4);
    putLe(d, o + 56, 0xEF53, 2);
    putLe(d, o + 76, 1, 4);
    putLe(d, o + 90, groupNumber, 2);
}

// One partition entry of an MBR or extended boot record.
inline void mbrEntry(ByteVector& d, std::size_t recordSector, int slot, std::uint8_t type, std::uint32_t lba,
                     std::uint32_t sectors) {
    std::size_t o = recordSector * 512 + 0x1BE + static_cast<std::size_t>(slot) * 16;
    d[o + 4] = type;
    putLe(d, o + 8, lba, 4);
    putLe(d, o + 12, sectors, 4);
    putLe(d, recordSector * 512 + 510, 0xAA55, 2);
}

}  // namespace ondrel::test
