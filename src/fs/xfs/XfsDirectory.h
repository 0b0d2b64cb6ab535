#pragma once
// XFS directory entries: the short form inside the inode, and the data
// blocks of the block, leaf, node and B+tree forms (all of them keep their
// names in data blocks below the leaf offset; the hash and free-space blocks
// above it index those and are not needed to list a folder). Names are kept
// as stored; "." and ".." are left out.
#include "fs/xfs/XfsSuperblock.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ondrel {

struct XfsDirEntry {
    std::string name;
    std::uint64_t inode = 0;
    std::uint8_t fileType = 0;  // 0 unknown (no ftype), 1 file, 2 folder, ... 7 symlink
    // Found in a block's unused space: a removed entry whose name is still
    // there. Its inode number's upper half may be gone (taken as 0, where the
    // unused space begins).
    bool deleted = false;
};

// The short-form directory of an inode's data fork; parent is the ".." it states.
bool xfsShortFormEntries(Bytes fork, bool ftype, std::vector<XfsDirEntry>& out, std::uint64_t& parent, std::string& message);

// One directory data block ("XD2B"/"XDB3" of the block form, or "XD2D"/"XDD3");
// false with a message when it is none or its entries run past it (those
// before stay). checksumOk says whether a version 5 block's CRC held.
// Removed entries are taken from unused space where their length, name and
// closing tag (their own offset) still hold together.
bool xfsDataBlockEntries(Bytes block, const XfsSuperblock& sb, std::vector<XfsDirEntry>& out, bool& checksumOk,
                         std::string& message);

// Where the data blocks of a directory end, in bytes of the directory: the leaf offset.
constexpr std::uint64_t kXfsDirLeafOffset = std::uint64_t(32) << 30;

}  // namespace ondrel
