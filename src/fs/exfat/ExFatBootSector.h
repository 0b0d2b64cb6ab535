#pragma once
// The geometry of an exFAT volume: where the FAT and the cluster heap lie, how
// big a cluster is and how many there are.
#include "common/Endian.h"
#include "volumes/FileSystemProbe.h"

#include <cstdint>
#include <string>

namespace ondrel {

struct ExFatGeometry {
    unsigned sectorShift = 9;   // bytes per sector = 2^sectorShift
    unsigned clusterShift = 3;  // sectors per cluster = 2^clusterShift
    std::int64_t fatOffset = 0;   // bytes from the volume's start
    std::int64_t heapOffset = 0;  // bytes from the volume's start: cluster 2
    std::uint32_t clusterCount = 0;
    std::uint32_t rootCluster = 0;

    std::uint64_t clusterBytes() const { return std::uint64_t(1) << (sectorShift + clusterShift); }
    std::int64_t clusterOffset(std::uint32_t c) const {
        return heapOffset + static_cast<std::int64_t>(c - 2) * static_cast<std::int64_t>(clusterBytes());
    }
    bool validCluster(std::uint32_t c) const { return c >= 2 && c - 2 < clusterCount; }
};

// The boot sector's fields, checked: the name EXFAT, a sector of 512 to 4096
// bytes, a cluster of at most 32 MiB, the FAT and the heap inside the volume.
// The cluster count is the boot sector's, bounded by what the volume (at most
// volumeLimit bytes on the disk) can hold. False with the reason otherwise.
bool readExFatGeometry(Bytes boot, std::int64_t volumeLimit, ExFatGeometry& out, std::string& reason);

// Recognising an exFAT volume by its boot sector ("EXFAT   " system id): the
// test the partition scans and the sweep share. Listed as "FAT64".
bool isExfatBootSector(Bytes sector, std::int64_t& sizeBytes);
FileSystemProbe exfatProbe();

}  // namespace ondrel
