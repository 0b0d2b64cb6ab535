#pragma once
// The qcow2 header (big-endian), its extensions and snapshot table entries.
#include "common/Endian.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

struct Qcow2Header {
    std::uint32_t version = 0;
    std::uint64_t backingFileOffset = 0;
    std::uint32_t backingFileSize = 0;
    std::uint32_t clusterBits = 0;
    std::uint64_t size = 0;
    std::uint32_t cryptMethod = 0;
    std::uint32_t l1Size = 0;
    std::uint64_t l1TableOffset = 0;
    std::uint32_t snapshotCount = 0;
    std::uint64_t snapshotsOffset = 0;
    std::uint64_t incompatibleFeatures = 0;
    std::uint32_t headerLength = 72;
    std::uint8_t compressionType = 0;  // 0 deflate, 1 zstd
};

// Incompatible feature bits of a version 3 header.
inline constexpr std::uint64_t kQcow2Dirty = 1u << 0;
inline constexpr std::uint64_t kQcow2Corrupt = 1u << 1;
inline constexpr std::uint64_t kQcow2ExternalData = 1u << 2;
inline constexpr std::uint64_t kQcow2CompressionType = 1u << 3;
inline constexpr std::uint64_t kQcow2ExtendedL2 = 1u << 4;
inline constexpr std::uint64_t kQcow2KnownIncompatible = 0x1F;

struct Qcow2Snapshot {
    std::string id;
    std::string name;
    std::uint64_t l1TableOffset = 0;
    std::uint32_t l1Size = 0;
    std::uint64_t diskSize = 0;  // 0 when the entry does not record it
    std::uint32_t dateSeconds = 0;
};

inline Qcow2Header parseQcow2Header(Bytes b) {
    Qcow2Header h;
    h.version = be32(b, 4);
    h.backingFileOffset = be64(b, 8);
    h.backingFileSize = be32(b, 16);
    h.clusterBits = be32(b, 20);
    h.size = be64(b, 24);
    h.cryptMethod = be32(b, 32);
    h.l1Size = be32(b, 36);
    h.l1TableOffset = be64(b, 40);
    h.snapshotCount = be32(b, 60);
    h.snapshotsOffset = be64(b, 64);
    if (h.version >= 3) {
        h.incompatibleFeatures = be64(b, 72);
        h.headerLength = be32(b, 100);
        if (h.headerLength > 104) h.compressionType = b[104];
    }
    return h;
}

}  // namespace ondrel
