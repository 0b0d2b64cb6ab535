#pragma once
// The on-disk pieces of an HFS+ (and HFSX) volume, decoded from big-endian
// bytes with every read bounded to the bytes given: the volume header and its
// forks, B-tree node descriptors and header records, and the keys of the
// catalog, extents-overflow and attributes trees.
#include "common/Endian.h"
#include "volumes/FileSystemProbe.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

struct HfsExtent {
    std::uint32_t start = 0, count = 0;
};

struct HfsFork {
    std::uint64_t logicalSize = 0;
    std::uint32_t totalBlocks = 0;
    std::array<HfsExtent, 8> extents{};
};
// The 80-byte fork data at off.
HfsFork decodeFork(Bytes b, std::size_t off);

struct HfsVolumeHeader {
    std::uint16_t signature = 0;  // 'H+' or 'HX'
    std::uint16_t version = 0;
    std::uint32_t blockSize = 0;
    std::uint32_t totalBlocks = 0;
    HfsFork allocationFile, extentsFile, catalogFile, attributesFile;

    bool isHfsx() const { return signature == 0x4858; }
    // "H+" version 4 or "HX" version 5, with a block size that is a power of
    // two from 512 bytes to 1 MiB.
    bool valid() const;
};
// The 512 bytes at byte 1024 of the volume (or 1024 before its end).
HfsVolumeHeader decodeVolumeHeader(Bytes b);

enum class HfsNodeKind : std::int8_t { Leaf = -1, Index = 0, Header = 1, Map = 2 };

struct HfsNodeDescriptor {
    std::uint32_t forward = 0, backward = 0;
    std::int8_t kind = 0;
    std::uint8_t height = 0;
    std::uint16_t records = 0;
};
HfsNodeDescriptor decodeNodeDescriptor(Bytes node);

struct HfsHeaderRecord {
    std::uint16_t depth = 0;
    std::uint32_t root = 0, leafRecords = 0, firstLeaf = 0, lastLeaf = 0;
    std::uint16_t nodeSize = 0, maxKeyLength = 0;
    std::uint32_t totalNodes = 0, freeNodes = 0;
    std::uint8_t keyCompareType = 0;
};
// The header record of node 0.
HfsHeaderRecord decodeHeaderRecord(Bytes node);
// A node size a B-tree may have: a power of two from 512 bytes to 32 KiB.
bool validNodeSize(std::uint32_t size);

// The start of each record of a node, from the offsets stored backwards at its
// end. Counts beyond what the node can hold are cut, and an offset outside the
// records' area or out of order ends the list.
std::vector<std::uint16_t> recordOffsets(Bytes node, std::uint16_t count);

// Seconds since 1904-01-01 00:00 UTC to seconds since 1970.
inline std::int64_t hfsTimeToUnix(std::uint32_t t) { return static_cast<std::int64_t>(t) - 2082844800; }

// Recognising an HFS+ volume: the sector 1024 bytes into it begins with "H+" 0,
// or "HX" version 5 (HFSX). The test the partition scans and the sweep share.
bool isHfsPlusHeader(Bytes sectorAt1024, std::int64_t& sizeBytes);
FileSystemProbe hfsPlusProbe();

}  // namespace ondrel
