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
    n.compat = le32(s, 0x5C);
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
    n.roCompat = le32(s, 0x64);
    n.reservedGdtBlocks = le16(s, 0xCE);
    n.backupGroups[0] = le32(s, 0x24C);
    n.backupGroups[1] = le32(s, 0x250);
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
    n.statedGroupCount = (n.blockCount - n.firstDataBlock + n.blocksPerGroup - 1) / n.blocksPerGroup;
    n.groupCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(groups, 0xFFFFFFFFu / n.inodesPerGroup));
    n.blockCount = blocks;
    n.inodeCount = static_cast<std::uint32_t>(std::min<std::uint64_t>(n.inodeCount, static_cast<std::uint64_t>(n.groupCount) * n.inodesPerGroup));
    g = n;
    return true;
}

bool ExtGeometry::hasSuperblockCopy(std::uint64_t group) const {
    if (group == 0) return true;
    if (sparseSuper2()) return group == backupGroups[0] || group == backupGroups[1];
    if (group == 1 || !sparseSuper()) return true;
    // Powers of 3, 5 and 7.
    for (std::uint64_t base : {3u, 5u, 7u}) {
        std::uint64_t p = base;
        while (p < group) p *= base;
        if (p == group) return true;
    }
    return false;
}

std::uint64_t ExtGeometry::baseMetadataBlocks(std::uint64_t group) const {
    const std::uint64_t perBlock = blockSize / descSize;
    const bool copy = hasSuperblockCopy(group);
    if (!metaBg() || group / perBlock < firstMetaBg) {
        if (!copy) return 0;
        // With meta_bg the groups before it keep only the first blocks of the table.
        const std::uint64_t table = metaBg() ? firstMetaBg : (statedGroupCount + perBlock - 1) / perBlock;
        return 1 + table + reservedGdtBlocks;
    }
    // A meta group's first, second and last groups each hold its one descriptor block.
    const std::uint64_t index = group % perBlock;
    return (copy ? 1 : 0) + (index == 0 || index == 1 || index == perBlock - 1 ? 1 : 0);
}

bool isExtSuperblock(Bytes s, std::int64_t& sizeBytes) {
    if (le16(s, 56) != 0xEF53) return false;
    std::uint32_t inodes = le32(s, 0);
    std::uint32_t logBlock = le32(s, 24);
    std::uint32_t firstDataBlock = le32(s, 20);
    std::uint32_t blocksPerGroup = le32(s, 32);
    std::uint32_t inodesPerGroup = le32(s, 40);
    std::uint32_t revision = le32(s, 76);
    std::uint16_t groupNumber = le16(s, 90);
    if (inodes == 0 || logBlock > 6 || blocksPerGroup == 0 || inodesPerGroup == 0 || revision > 1) return false;
    if (groupNumber != 0) return false;  // a backup copy inside the volume
    if (firstDataBlock != (logBlock == 0 ? 1u : 0u)) return false;
    std::uint64_t blocks = le32(s, 4);
    constexpr std::uint32_t kIncompat64Bit = 0x80;
    if (le32(s, 96) & kIncompat64Bit) blocks |= static_cast<std::uint64_t>(le32(s, 0x150)) << 32;
    std::uint64_t blockSize = 1024ull << logBlock;
    if (blocks == 0 || blocks > (std::uint64_t(1) << 48) / blockSize) return false;
    sizeBytes = static_cast<std::int64_t>(blocks * blockSize);
    return true;
}

FileSystemProbe extProbe() {
    FileSystemProbe p;
    p.name = "extX";
    p.at = 1024;
    p.precedence = 1;
    p.leadOffset = 56;  // the magic EF53
    p.leadBytes = {0x53};
    p.test = [](Bytes s, bool, std::int64_t& size) { return isExtSuperblock(s, size); };
    return p;
}

}  // namespace ondrel
