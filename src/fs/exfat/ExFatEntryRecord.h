#pragma once
// One file entry set found on an exFAT volume, live or deleted.
#include <cstdint>
#include <string>

namespace ondrel {

struct ExFatEntryRecord {
    std::uint8_t entryType = 0;  // 0x85 in use, 0x05 deleted
    std::uint16_t fileAttributes = 0;
    std::uint32_t createTimestamp = 0;
    std::uint32_t lastModifiedTimestamp = 0;
    std::uint32_t lastAccessedTimestamp = 0;
    std::uint8_t create10ms = 0;
    std::uint8_t lastModified10ms = 0;
    std::uint8_t createUtcOffset = 0;
    std::uint8_t lastModifiedUtcOffset = 0;
    std::uint8_t lastAccessedUtcOffset = 0;
    std::uint8_t streamEntryType = 0;
    std::uint8_t generalSecondaryFlags = 0;  // bit 0: allocation possible; bit 1: no FAT chain
    std::uint8_t nameLength = 0;
    std::uint64_t validDataLength = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t dataLength = 0;
    std::string name;  // UTF-8
    std::int32_t parentIndex = 0;
    std::int32_t ownIndex = 0;
    std::int64_t setOffset = -1;  // where the file entry lies in the volume; -1 for made-up records

    bool deleted() const { return (entryType & 0x80) == 0; }
    bool isDirectory() const { return (fileAttributes & 0x10) != 0; }
    bool noFatChain() const { return (generalSecondaryFlags & 0x02) != 0; }
};

}  // namespace ondrel
