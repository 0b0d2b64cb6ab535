#pragma once
// One volume found on the virtual disk, as the volume list shows it and the
// results page receives it: its display texts, its exact place, the bytes it
// reads from, and where it sits in the tree of volumes.
#include "diskimage/ByteSource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace ondrel {

struct VolumeRecord {
    VolumeRecord() = default;
    // A volume as the list shows it; its place and bytes are set by whoever makes it.
    VolumeRecord(std::string fileSystem_, std::string label_, std::string volumeName_, std::string sizeText_,
                 std::int64_t startSector_)
        : fileSystem(std::move(fileSystem_)), label(std::move(label_)), volumeName(std::move(volumeName_)),
          sizeText(std::move(sizeText_)), startSector(startSector_) {}

    std::string fileSystem;  // "NTFS", "FAT16", "FAT32", "FAT64", "extX", "HFS+", "Unknown", ...
    std::string label;
    std::string volumeName;  // the volume's number as decimal text
    std::string sizeText;    // megabytes as decimal text, then a unit suffix (display only)
    std::int64_t startSector = 0;  // first sector on the disk, for display

    // Exact place in the parent's bytes (the disk's for a top-level volume).
    std::int64_t startByte = 0;
    std::int64_t lengthBytes = 0;
    // The volume's own bytes: a window over its parent's. Null until listed.
    std::shared_ptr<const ByteSource> source;
    // What the volume holds: "file system", or the volume system inside it ("MBR", "GPT").
    std::string kind = "file system";
    // The volume system that listed it ("MBR", "GPT", "sweep", "disk", "custom").
    std::string listedBy;
    // Index of the enclosing volume in the list (-1: the disk itself), and of the ones inside it.
    int parent = -1;
    std::vector<int> children;
    // Which disk of those given it lies on (0 with one disk); a volume over
    // several disks counts as its parent's.
    int disk = 0;
    // Every file system whose recognition test passes on the volume; more than
    // one is a conflict the front ends report.
    std::vector<std::string> claims;
    // What its volume system says of it: a missing physical volume, the
    // mirror leg read, an earlier layout whose extents are in use again.
    std::string note;
    // Part of its bytes cannot be read: its listing is partial, and says so.
    bool incomplete = false;
};

// What the partition-table scan lists for a partition type it does not know.
inline constexpr const char* kUnknownFileSystem = "Unknown";
// Whether the record is such a volume (without regard to case and blanks).
bool isUnknownFileSystem(const VolumeRecord& record);

// The leading decimal number of sizeText (megabytes); 0 when there is none.
std::int64_t sizeMegabytes(const std::string& sizeText);

// Megabytes of a byte count, rounding toward zero.
inline std::int64_t bytesToMegabytes(std::int64_t bytes) { return bytes / 1048576; }

// A volume of disk from startSector: lengthBytes long, or to the disk's end
// when lengthBytes is 0. Its file system is named fileSystem; its size text is
// whole megabytes.
VolumeRecord customVolume(std::shared_ptr<const ByteSource> disk, const std::string& fileSystem, std::int64_t startSector,
                          std::int64_t lengthBytes = 0);

// The note shown when several file systems claim one volume ("" when at most one does).
std::string claimConflict(const VolumeRecord& record);

}  // namespace ondrel
