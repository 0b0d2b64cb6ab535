#pragma once
// One directory entry found on a FAT volume, live or deleted.
#include <cstdint>
#include <string>

namespace ondrel {

struct FatEntryRecord {
    std::uint8_t attributes = 0;
    std::uint8_t createTimeTenths = 0;
    std::uint16_t createTime = 0;
    std::uint16_t createDate = 0;
    std::uint16_t accessDate = 0;
    std::uint16_t firstClusterHigh = 0;
    std::uint16_t writeTime = 0;
    std::uint16_t writeDate = 0;
    std::uint16_t firstClusterLow = 0;
    std::uint32_t fileSize = 0;
    bool deleted = false;
    std::string name;  // UTF-8
    std::int32_t parentIndex = 0;   // the record of the folder it was read from
    std::int32_t ownIndex = 0;

    std::uint32_t firstCluster(bool fat32) const {
        return fat32 ? (static_cast<std::uint32_t>(firstClusterHigh) << 16 | firstClusterLow) : firstClusterLow;
    }
    // A directory: the directory bit, whatever other bits are set with it
    // (read-only, hidden, system, archive), but not a volume label.
    bool isDirectory() const { return (attributes & 0x10) && !(attributes & 0x08); }
};

}  // namespace ondrel
