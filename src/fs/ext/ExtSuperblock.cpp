#include "fs/ext/ExtSuperblock.h"

#include <algorithm>

namespace ondrel {

bool readExtSuperblock(Bytes s, std::int64_t offset, std::int64_t volumeLimit, ExtGeometry& g, std::string& reason) {
    if (s.size() < 1024 || le16(s, 0x38) != 0xEF53) {
        reason = "no ext superblock";
        return false;
    }
    std::uint32_t log = le32(s, 0x18);
    if (log > 6) {
        reason = "the superblock's block size is not ext's";
        return false;
    }
    ExtGeometry n;
    n.blockSize = 1024u << log;
    n.incompat = le32(s, 0x60);
    n.blockCount = le32(s, 0x04);
    if (n.is64()) n.blockCount |= static_cast<std::uint64_t>(le32(s, 0x150)) << 32;
    n.firstDataBlock = le32(s, 0x14);
    n.blocksPerGroup = le32(s, 0x20);
    n.inodesPerGroup = le32(s, 0x28);
    n.inodeCount = le32(s, 0x00);
    n.inodeSize = le32(s, 0x4C) == 0 ? 128 : le16(s, 0x58);
    n.descSize = n.is64() ? le16(s, 0xFE) : 32;
    n.firstMetaBg = le32(s, 0x104);
    n.superblockOffset = offset;
    bool inodeSizeOk = n.inodeSize >= 128 && n.inodeSize <= n.blockSize && (n.inodeSize & (n.inodeSize - 1)) == 0;
    if (!inodeSizeOk || n.descSize < 32 || n.descSize > 1024 || (n.descSize & (n.descSize - 1)) != 0 ||
        n.blocksPerGroup == 0 || n.blocksPerGroup > 8 * n.blockSize || n.inodesPerGroup == 0 ||
        n.inodesPerGroup > 8 * n.blockSize || n.firstDataBlock >= n.blockCount) {
        reason = "the superblock's sizes are not ext's";
        return false;
    }
    // Groups: a last partial group counts too. The volume bounds what is read,
    // whatever the block count claims.
    std::uint64_t fits = static_cast<std::uint64_t>(std::max<std::int64_t>(volumeLimit, 0)) / n.blockSize;
    std::uint64_t blocks = std::min(n.blockCount, std::max<std::uint64_t>(fits, n.firstDataBlock + 1));
    std::uint64_t groups = (blocks - n.firstDataBlock + n.blocksPerGroup - 1) / n.blocksPerGroup;
    n.groupCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(groups, 0xFFFFFFFFu / n.inodesPerGroup));
    n.blockCount = blocks;
    n.inodeCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(n.inodeCount, static_cast<std::uint64_t>(n.groupCount) * n.inodesPerGroup));
    g = n;
    return true;
}

}  // namespace ondrel
