#include "fs/exfat/ExFatBootSector.h"

#include <algorithm>

namespace ondrel {

bool readExFatGeometry(Bytes b, std::int64_t volumeLimit, ExFatGeometry& g, std::string& reason) {
    if (b.size() < 512 || le8(b, 3) != 'E' || le8(b, 4) != 'X' || le8(b, 5) != 'F' || le8(b, 6) != 'A' ||
        le8(b, 7) != 'T') {
        reason = "no exFAT boot sector";
        return false;
    }
    unsigned sectorShift = le8(b, 108), clusterShift = le8(b, 109);
    if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25) {
        reason = "the boot sector's sector and cluster sizes are not exFAT's";
        return false;
    }
    std::int64_t sector = std::int64_t(1) << sectorShift;
    std::uint64_t lengthSectors = le64(b, 72);
    std::int64_t volumeBytes = volumeLimit;
    if (lengthSectors > 0 && lengthSectors < (std::uint64_t(1) << 50))
        volumeBytes = std::min<std::int64_t>(volumeLimit, static_cast<std::int64_t>(lengthSectors) * sector);
    std::int64_t fatOffset = static_cast<std::int64_t>(le32(b, 80)) * sector;
    std::int64_t fatBytes = static_cast<std::int64_t>(le32(b, 84)) * sector;
    std::int64_t heapOffset = static_cast<std::int64_t>(le32(b, 88)) * sector;
    if (fatOffset <= 0 || fatBytes <= 0 || fatOffset + fatBytes > heapOffset || heapOffset >= volumeBytes) {
        reason = "the boot sector places the FAT or the cluster heap outside the volume";
        return false;
    }
    g.sectorShift = sectorShift;
    g.clusterShift = clusterShift;
    g.fatOffset = fatOffset;
    g.heapOffset = heapOffset;
    std::uint64_t fits = static_cast<std::uint64_t>(volumeBytes - heapOffset) / g.clusterBytes();
    std::uint64_t inFat = static_cast<std::uint64_t>(fatBytes / 4);
    inFat = inFat > 2 ? inFat - 2 : 0;
    g.clusterCount = static_cast<std::uint32_t>(std::min<std::uint64_t>({le32(b, 92), fits, inFat, 0xFFFFFFF5}));
    g.rootCluster = le32(b, 96);
    return true;
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

FileSystemProbe exfatProbe() {
    FileSystemProbe p;
    p.name = "FAT64";
    p.precedence = 1;
    p.leadBytes = {0xEB};
    p.test = [](Bytes s, bool, std::int64_t& size) { return isExfatBootSector(s, size); };
    return p;
}

}  // namespace ondrel
