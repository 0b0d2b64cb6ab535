#include "fs/fat/FatBootSector.h"

#include "volumes/BootRecordTests.h"

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
    g.fat32 = fat32;
    g.bytesPerSector = le16(s, 11);
    g.sectorsPerCluster = le8(s, 13);
    g.reservedSectors = le16(s, 14);
    g.fatCount = le8(s, 16);
    g.rootEntries = le16(s, 17);
    std::uint32_t total16 = le16(s, 19);
    g.totalSectors = total16 ? total16 : le32(s, 32);
    g.sectorsPerFat = fat32 ? le32(s, 36) : le16(s, 22);
    g.rootCluster = fat32 ? le32(s, 44) : 0;
    return true;
}

}  // namespace ondrel
