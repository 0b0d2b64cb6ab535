#pragma once
// One volume found on the virtual disk, as the volume list shows it and the
// results page receives it.
#include "diskimage/readWriteInterface.h"

#include <cstdint>
#include <string>

namespace ondrel {

struct VolumeRecord {
    std::string fileSystem;  // "NTFS", "FAT16", "FAT32", "FAT64", "extX", "HFS+", "Unknown", ...
    std::string label;
    std::string volumeName;  // the volume's number as decimal text
    std::string sizeText;    // megabytes as decimal text, then a unit suffix
    std::int64_t startSector = 0;
};

// What the partition-table scan lists for a partition type it does not know.
inline constexpr const char* kUnknownFileSystem = "Unknown";
// Whether the record is such a volume (without regard to case and blanks).
bool isUnknownFileSystem(const VolumeRecord& record);

// The bytes of the disk from sector on (0 past its end): whatever a table or a
// user states, no volume reaches beyond the disk.
std::int64_t diskBytesFrom(const readWriteInterface& reader, std::int64_t sector);
// The volume's size in bytes as its record states it (megabytes), never beyond the disk.
std::int64_t volumeBytesOnDisk(const VolumeRecord& volume, const readWriteInterface& reader);

// The leading decimal number of sizeText (megabytes); 0 when there is none.
std::int64_t sizeMegabytes(const std::string& sizeText);

}  // namespace ondrel
