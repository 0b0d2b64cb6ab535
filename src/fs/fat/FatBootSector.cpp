#include "fs/fat/FatBootSector.h"

#include "volumes/BootRecordTests.h"
#include "volumes/FatBootParameters.h"

namespace ondrel {

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
