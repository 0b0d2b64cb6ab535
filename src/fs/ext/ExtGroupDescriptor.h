#pragma once
// One ext group descriptor: where its group's bitmaps and inode table lie and
// its flags (32 bytes, or 64 with the 64-bit feature's high halves).
#include "common/Endian.h"

#include <cstdint>

namespace ondrel {

struct ExtGroupDescriptor {
    std::uint64_t blockBitmap = 0, inodeBitmap = 0, inodeTable = 0;
    std::uint16_t flags = 0;

    // The block bitmap was never written: the group's own metadata is all it uses.
    bool blockUninit() const { return flags & 0x2; }
};

inline ExtGroupDescriptor parseExtGroupDescriptor(Bytes d, std::uint32_t descSize) {
    ExtGroupDescriptor g;
    g.blockBitmap = le32(d, 0x00);
    g.inodeBitmap = le32(d, 0x04);
    g.inodeTable = le32(d, 0x08);
    g.flags = le16(d, 0x12);
    if (descSize >= 64) {
        g.blockBitmap |= static_cast<std::uint64_t>(le32(d, 0x20)) << 32;
        g.inodeBitmap |= static_cast<std::uint64_t>(le32(d, 0x24)) << 32;
        g.inodeTable |= static_cast<std::uint64_t>(le32(d, 0x28)) << 32;
    }
    return g;
}

}  // namespace ondrel
