#include "volumes/BootRecordTests.h"

namespace ondrel {

namespace {
bool powerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }
bool hasBootMark(Bytes s) { return le16(s, 510) == 0xAA55; }
}  // namespace

bool isNtfsBootSector(Bytes s, bool requireSystemId, std::int64_t& sizeBytes) {
    if (le8(s, 0) != 0xEB || le8(s, 1) != 0x52) return false;
    if (requireSystemId && !hasText(s, 3, "NTFS")) return false;
    if (le16(s, 0x0B) != 512) return false;
    sizeBytes = static_cast<std::int64_t>(le64(s, 0x28)) * 512;
    if (sizeBytes < 0) sizeBytes = 0;
    return true;
}

FatType fatBootSectorType(Bytes s, std::int64_t& sizeBytes) {
    // Jump instruction (short or near), then the BIOS parameter block.
    std::uint8_t jump = le8(s, 0);
    if (!(jump == 0xEB && le8(s, 2) == 0x90) && jump != 0xE9) return FatType::None;
    if (!hasBootMark(s)) return FatType::None;
    if (hasText(s, 3, "NTFS") || hasText(s, 3, "EXFAT")) return FatType::None;
    std::uint32_t bytesPerSector = le16(s, 0x0B);
    std::uint32_t sectorsPerCluster = le8(s, 0x0D);
    std::uint32_t reserved = le16(s, 0x0E);
    std::uint32_t fats = le8(s, 0x10);
    std::uint32_t rootEntries = le16(s, 0x11);
    std::uint32_t total16 = le16(s, 0x13);
    std::uint8_t media = le8(s, 0x15);
    std::uint32_t fatSize16 = le16(s, 0x16);
    std::uint32_t total32 = le32(s, 0x20);
    std::uint32_t fatSize32 = le32(s, 0x24);
    if (bytesPerSector < 512 || bytesPerSector > 4096 || !powerOfTwo(bytesPerSector)) return FatType::None;
    if (!powerOfTwo(sectorsPerCluster) || sectorsPerCluster > 128) return FatType::None;
    if (reserved == 0 || fats == 0 || fats > 4) return FatType::None;
    if (media != 0xF0 && media < 0xF8) return FatType::None;
    std::uint64_t totalSectors = total16 != 0 ? total16 : total32;
    std::uint64_t fatSize = fatSize16 != 0 ? fatSize16 : fatSize32;
    if (totalSectors == 0 || fatSize == 0) return FatType::None;
    std::uint64_t rootSectors = (rootEntries * 32ull + bytesPerSector - 1) / bytesPerSector;
    std::uint64_t meta = reserved + fats * fatSize + rootSectors;
    if (meta >= totalSectors) return FatType::None;
    std::uint64_t clusters = (totalSectors - meta) / sectorsPerCluster;
    sizeBytes = static_cast<std::int64_t>(totalSectors * bytesPerSector);
    // The cluster count decides, as the FAT standard says.
    // The cluster count decides, as the FAT standard says. A volume laid out as
    // FAT32 (no fixed root, 32-bit FAT size) stays FAT32 even when it has fewer
    // clusters than the standard asks for; mkfs.fat makes such small volumes.
    bool fat32Layout = fatSize16 == 0 && rootEntries == 0;
    if (clusters < 4085) return FatType::Fat12;
    if (fat32Layout) return FatType::Fat32;
    return clusters < 65525 ? FatType::Fat16 : FatType::None;
}

bool isExfatBootSector(Bytes s, std::int64_t& sizeBytes) {
    std::uint8_t second = le8(s, 1);
    if (le8(s, 0) != 0xEB || (second != 0x3C && second != 0x58 && second != 0x76)) return false;
    if (!hasText(s, 3, "EXFA")) return false;
    std::uint8_t shift = le8(s, 0x6C);
    if (shift < 9 || shift > 12) shift = 9;
    std::uint64_t sectors = le64(s, 0x48);
    sizeBytes = sectors > (std::uint64_t(1) << 50) ? 0 : static_cast<std::int64_t>(sectors << shift);
    return true;
}

bool isHfsPlusHeader(Bytes s, std::int64_t& sizeBytes) {
    if (le8(s, 0) != 'H' || le8(s, 1) != '+' || le8(s, 2) != 0) return false;
    sizeBytes = static_cast<std::int64_t>(static_cast<std::uint64_t>(be32(s, 0x28)) * be32(s, 0x2C));
    return true;
}

bool isExtSuperblock(Bytes s, std::int64_t& sizeBytes) {
    if (le16(s, 56) != 0xEF53) return false;
    std::uint32_t inodes = le32(s, 0);
    std::uint32_t logBlock = le32(s, 24);
    std::uint32_t firstDataBlock = le32(s, 20);
    std::uint32_t blocksPerGroup = le32(s, 32);
    std::uint32_t inodesPerGroup = le32(s, 40);
    std::uint32_t revision = le32(s, 76);
    std::uint16_t groupNumber = le16(s, 90);
    if (inodes == 0 || logBlock > 6 || blocksPerGroup == 0 || inodesPerGroup == 0 || revision > 1) return false;
    if (groupNumber != 0) return false;  // a backup copy inside the volume
    if (firstDataBlock != (logBlock == 0 ? 1u : 0u)) return false;
    std::uint64_t blocks = le32(s, 4);
    constexpr std::uint32_t kIncompat64Bit = 0x80;
    if (le32(s, 96) & kIncompat64Bit) blocks |= static_cast<std::uint64_t>(le32(s, 0x150)) << 32;
    std::uint64_t blockSize = 1024ull << logBlock;
    if (blocks == 0 || blocks > (std::uint64_t(1) << 48) / blockSize) return false;
    sizeBytes = static_cast<std::int64_t>(blocks * blockSize);
    return true;
}

}  // namespace ondrel
