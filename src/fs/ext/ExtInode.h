#pragma once
// One ext inode as read from its table: type and permissions, size, times,
// flags, the 60-byte block area and the inline data the inode holds.
#include "common/Endian.h"

#include <array>
#include <cstdint>
#include <vector>

namespace ondrel {

struct ExtInode {
    std::uint16_t mode = 0;
    std::uint64_t size = 0;
    std::uint32_t atime = 0, ctime = 0, mtime = 0, dtime = 0;
    std::uint16_t links = 0;
    std::uint32_t flags = 0;
    std::array<std::uint8_t, 60> block{};
    // The "system.data" attribute: the part of inline data past the block area.
    std::vector<std::uint8_t> inlineTail;

    std::uint16_t type() const { return mode & 0xF000; }
    bool isDirectory() const { return type() == 0x4000; }
    bool isRegular() const { return type() == 0x8000; }
    bool isSymlink() const { return type() == 0xA000; }
    bool usesExtents() const { return flags & 0x80000; }
    bool hasInlineData() const { return flags & 0x10000000; }
    bool isHashIndexed() const { return flags & 0x1000; }
    bool inUse() const { return links > 0 && mode != 0; }
    // A symlink whose target is in the block area.
    bool isFastSymlink() const { return isSymlink() && !usesExtents() && !hasInlineData() && size < 60 && blockCountLo == 0; }

    std::uint32_t blockCountLo = 0;  // 512-byte units allocated (blocks, when the huge-file flag says so)
};

// Decodes an inode of inodeSize bytes.
ExtInode decodeInode(Bytes raw);

}  // namespace ondrel
