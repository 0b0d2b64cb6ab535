#pragma once
// The geometry a FAT boot sector gives: where the FATs, the root directory and
// the data clusters are.
#include "common/Endian.h"
#include "volumes/FileSystemProbe.h"

#include <cstdint>
#include <vector>

namespace ondrel {

struct FatGeometry {
    bool fat32 = false;
    std::uint32_t bytesPerSector = 512;
    std::uint32_t sectorsPerCluster = 1;
    std::uint32_t reservedSectors = 0;
    std::uint32_t fatCount = 0;
    std::uint32_t rootEntries = 0;     // FAT16
    std::uint64_t sectorsPerFat = 0;
    std::uint64_t totalSectors = 0;
    std::uint32_t rootCluster = 2;     // FAT32

    std::uint64_t clusterBytes() const { return static_cast<std::uint64_t>(bytesPerSector) * sectorsPerCluster; }
    std::int64_t fatOffset() const { return static_cast<std::int64_t>(reservedSectors) * bytesPerSector; }
    std::int64_t rootDirOffset() const {
        return (static_cast<std::int64_t>(reservedSectors) + static_cast<std::int64_t>(fatCount * sectorsPerFat)) * bytesPerSector;
    }
    std::int64_t rootDirBytes() const { return fat32 ? 0 : static_cast<std::int64_t>(rootEntries) * 32; }
    // Byte offset of cluster 2.
    std::int64_t dataOffset() const {
        std::int64_t rootSectors = (rootDirBytes() + bytesPerSector - 1) / bytesPerSector;
        return rootDirOffset() + rootSectors * bytesPerSector;
    }
    std::int64_t clusterOffset(std::uint32_t cluster) const {
        return dataOffset() + static_cast<std::int64_t>(cluster - 2) * static_cast<std::int64_t>(clusterBytes());
    }
    // Highest valid cluster number + 1.
    std::uint32_t clusterLimit() const;
};

enum class FatType { None, Fat12, Fat16, Fat32 };
// A FAT boot sector with a sane BIOS parameter block and the 55 AA mark,
// whatever its OEM name; the type follows from the cluster count. The test the
// partition scans, the sweep and the parser share.
FatType fatBootSectorType(Bytes sector, std::int64_t& sizeBytes);

// Reads the geometry; false when the sector is not a sane FAT boot sector of
// the wanted kind (the OEM name does not matter).
bool readFatGeometry(Bytes sector, bool fat32, FatGeometry& out);

// The probes of the registry entries: FAT16 (with FAT12, recognised but not
// read) and FAT32.
std::vector<FileSystemProbe> fat16Probes();
std::vector<FileSystemProbe> fat32Probes();

}  // namespace ondrel
