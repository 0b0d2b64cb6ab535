#include "fs/fat/FatBootSector.h"

#include "fs/fat/FatBootParameters.h"

namespace ondrel {

namespace {
bool powerOfTwo(std::uint64_t v) { return v != 0 && (v & (v - 1)) == 0; }

FileSystemProbe fatProbe(const char* name, FatType type, bool listed) {
    FileSystemProbe p;
    p.name = name;
    p.listed = listed;
    p.precedence = 2;
    p.leadBytes = {0xEB, 0xE9};
    switch (type) {
    case FatType::Fat12: p.test = [](Bytes s, bool, std::int64_t& size) { return fatBootSectorType(s, size) == FatType::Fat12; }; break;
    case FatType::Fat16: p.test = [](Bytes s, bool, std::int64_t& size) { return fatBootSectorType(s, size) == FatType::Fat16; }; break;
    default: p.test = [](Bytes s, bool, std::int64_t& size) { return fatBootSectorType(s, size) == FatType::Fat32; }; break;
    }
    return p;
}
}  // namespace

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

std::vector<FileSystemProbe> fat16Probes() {
    return {fatProbe("FAT16", FatType::Fat16, true), fatProbe("FAT12", FatType::Fat12, false)};
}

std::vector<FileSystemProbe> fat32Probes() { return {fatProbe("FAT32", FatType::Fat32, true)}; }


std::uint32_t FatGeometry::clusterLimit() const {
    std::int64_t dataSectors = static_cast<std::int64_t>(totalSectors) - dataOffset() / bytesPerSector;
    if (dataSectors <= 0 || sectorsPerCluster == 0) return 2;
    std::uint64_t clusters = static_cast<std::uint64_t>(dataSectors) / sectorsPerCluster;
    std::uint64_t fatEntries = sectorsPerFat * bytesPerSector / (fat32 ? 4 : 2);
    std::uint64_t limit = std::min<std::uint64_t>(clusters + 2, fatEntries);
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(limit, fat32 ? 0x0FFFFFF7u : 0xFFF7u));
}

bool readFatGeometry(Bytes s, bool fat32, FatGeometry& g) {
    std::int64_t size = 0;
    FatType type = fatBootSectorType(s, size);
    if (type != (fat32 ? FatType::Fat32 : FatType::Fat16)) return false;
    FatBootParameters b = parseFatBootParameters(s);
    g.fat32 = fat32;
    g.bytesPerSector = b.bytesPerSector;
    g.sectorsPerCluster = b.sectorsPerCluster;
    g.reservedSectors = b.reservedSectors;
    g.fatCount = b.fatCount;
    g.rootEntries = b.rootEntries;
    g.totalSectors = b.totalSectors();
    g.sectorsPerFat = fat32 ? b.sectorsPerFat32 : b.sectorsPerFat16;
    g.rootCluster = fat32 ? b.rootCluster : 0;
    return true;
}

}  // namespace ondrel
