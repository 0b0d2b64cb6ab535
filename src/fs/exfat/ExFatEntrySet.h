#pragma once
// Decoding one directory entry set (file entry, stream extension, file names)
// from 32-byte slots, and the tests the advanced sweep puts slots to.
#include "fs/exfat/ExFatEntryRecord.h"

#include <cstddef>
#include <cstdint>

namespace ondrel {

enum class SetStatus {
    Decoded,   // the record is filled; `slots` slots were used
    NotASet,   // no file entry with its stream extension here
    NeedMore,  // the set goes on past the slots given, and more may follow
};

struct SetResult {
    SetStatus status = SetStatus::NotASet;
    std::size_t slots = 1;
};

// Decodes the set whose file entry is the first of slotCount slots. A set
// ends with its name: as many name entries as the name length calls for (the
// secondary count of a reused set may claim more). When moreFollow is false a
// set cut short by the end of the slots is decoded as far as it goes.
SetResult decodeEntrySet(const std::uint8_t* slots, std::size_t slotCount, bool moreFollow, ExFatEntryRecord& out);

// The advanced sweep's test: a file entry, its stream extension and all its
// name entries, with the reserved fields zero. `available` slots may be read;
// `toClusterEnd` of them lie in the same cluster. A set whose names run on
// past its cluster (into one no chain tells any more) passes with the name
// entries its cluster holds, one at least.
bool looksLikeEntrySet(const std::uint8_t* slots, std::size_t available, std::size_t toClusterEnd);

// The allocation bitmap's entry of the root folder (type 0x81, the first
// bitmap: flag bit 0 clear): its first cluster and its length in bytes.
struct ExFatBitmapEntry {
    std::uint32_t firstCluster = 0;
    std::uint64_t length = 0;
};
bool decodeBitmapEntry(const std::uint8_t* slot, ExFatBitmapEntry& out);

// A root directory's first entries: the allocation bitmap followed by the
// up-case table (the volume label may come first).
bool looksLikeRootStart(const std::uint8_t* slots, std::size_t available);

}  // namespace ondrel
