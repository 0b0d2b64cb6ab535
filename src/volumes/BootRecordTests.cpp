#include "volumes/BootRecordTests.h"

#include "volumes/FatBootParameters.h"

namespace ondrel {

namespace {
bool powerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }
}  // namespace

bool isNtfsBootSector(Bytes s, bool requireSystemId, std::int64_t& sizeBytes) {
    if (le8(s, 0) != 0xEB || le8(s, 1) != 0x52) return false;
    if (requireSystemId && !hasText(s, 3, "NTFS")) return false;
    if (le16(s, 0x0B) != 512) return false;
    // A sector count no disk can have is no size (the volume is then not listed).
    std::uint64_t sectors = le64(s, 0x28);
    sizeBytes = sectors > (std::uint64_t(1) << 53) ? 0 : static_cast<std::int64_t>(sectors * 512);
    return true;
}

FatType fatBootSectorType(Bytes s, std::int64_t& sizeBytes) {
    // Jump instruction (short or near), then the BIOS parameter block. The
    // sweep asks this of every sector: the jump rules out nearly all of them.
    std::uint8_t jump = le8(s, fatbpb::kJump);
    if (!(jump == 0xEB && le8(s, fatbpb::kJump + 2) == 0x90) && jump != 0xE9) return FatType::None;
    FatBootParameters b = parseFatBootParameters(s);
    if (!b.bootMark || b.ntfsOrExfatId) return FatType::None;
    if (b.bytesPerSector < 512 || b.bytesPerSector > 4096 || !powerOfTwo(b.bytesPerSector)) return FatType::None;
    if (!powerOfTwo(b.sectorsPerCluster) || b.sectorsPerCluster > 128) return FatType::None;
    if (b.reservedSectors == 0 || b.fatCount == 0 || b.fatCount > 4) return FatType::None;
    if (b.media != 0xF0 && b.media < 0xF8) return FatType::None;
    std::uint64_t totalSectors = b.totalSectors();
    std::uint64_t fatSize = b.sectorsPerFat();
    if (totalSectors == 0 || fatSize == 0) return FatType::None;
    std::uint64_t rootSectors = (b.rootEntries * 32ull + b.bytesPerSector - 1) / b.bytesPerSector;
    std::uint64_t meta = b.reservedSectors + b.fatCount * fatSize + rootSectors;
    if (meta >= totalSectors) return FatType::None;
    std::uint64_t clusters = (totalSectors - meta) / b.sectorsPerCluster;
    sizeBytes = static_cast<std::int64_t>(totalSectors * b.bytesPerSector);
    // The cluster count decides, as the FAT standard says. A volume laid out as
    // FAT32 (no fixed root, 32-bit FAT size) stays FAT32 even when it has fewer
    // clusters than the standard asks for; mkfs.fat makes such small volumes.
    if (clusters < 4085) return FatType::Fat12;
    if (b.fat32Layout()) return FatType::Fat32;
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
    // HFS+ ("H+", version 4) or HFSX ("HX", version 5).
    bool hfsPlus = le8(s, 0) == 'H' && le8(s, 1) == '+' && le8(s, 2) == 0;
    bool hfsx = le8(s, 0) == 'H' && le8(s, 1) == 'X' && be16(s, 2) == 5;
    if (!hfsPlus && !hfsx) return false;
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
