// The volume's free space as the groups' block bitmaps mark it: bit i (least
// significant first) of a group's bitmap stands for the group's i-th block,
// blocks counted from the superblock's first data block; a clear bit is free.
// A group whose bitmap was never written (BLOCK_UNINIT, trusted only with
// descriptor checksums) is free but for the metadata inside it, as the kernel
// would set its bitmap up.
#include "fs/ext/ext2Class.h"

#include "fs/FreeUnitRuns.h"

#include <algorithm>

namespace ondrel {

namespace {
struct BlockRange {
    std::uint64_t first = 0, end = 0;
};
}  // namespace

bool ext2Class::freeSpace(std::vector<ByteRun>& runs, ScanObserver& observer, WorkControl& control,
                          std::string& message) const {
    ext2Class fresh(reader_, volume_);
    fresh.reportTo(observer, control);
    return fresh.readFreeSpace(runs, message);
}

bool ext2Class::readFreeSpace(std::vector<ByteRun>& runs, std::string& message) {
    runs.clear();
    if (!findSuperblock(message) || !readGroupDescriptors(message)) return false;
    observer_->status("Reading the block bitmaps....");
    const ExtGeometry& g = geometry_;
    // Every group's bitmaps and inode table, wherever flex_bg put them: what
    // an unwritten bitmap still has to count as used.
    const std::uint64_t tableBlocks = (static_cast<std::uint64_t>(g.inodesPerGroup) * g.inodeSize + g.blockSize - 1) / g.blockSize;
    std::vector<BlockRange> metadata;
    bool anyUninit = false;
    for (const ExtGroupDescriptor& d : groups_) anyUninit = anyUninit || d.blockUninit();
    if (anyUninit && g.groupChecksums()) {
        metadata.reserve(groups_.size() * 3);
        auto add = [&](std::uint64_t first, std::uint64_t count) {
            if (first < g.blockCount) metadata.push_back({first, first + count});  // none past the volume counts
        };
        for (const ExtGroupDescriptor& d : groups_) {
            add(d.blockBitmap, 1);
            add(d.inodeBitmap, 1);
            add(d.inodeTable, tableBlocks);
        }
        std::sort(metadata.begin(), metadata.end(), [](const BlockRange& a, const BlockRange& b) { return a.first < b.first; });
    }
    // How far the ranges up to each one reach: a table that starts before a group may reach into it.
    std::vector<std::uint64_t> reach(metadata.size());
    for (std::size_t i = 0; i < metadata.size(); ++i) reach[i] = std::max(metadata[i].end, i > 0 ? reach[i - 1] : 0);
    FreeUnitRuns free;
    std::vector<std::uint8_t> bitmap;
    for (std::uint64_t group = 0; group < groups_.size(); ++group) {
        if (control_->poll()) return free.finish(runs, 0, 1, 0, true, message);
        const ExtGroupDescriptor& d = groups_[static_cast<std::size_t>(group)];
        const std::uint64_t start = g.firstDataBlock + group * g.blocksPerGroup;
        if (start >= g.blockCount) break;
        const std::uint64_t end = std::min<std::uint64_t>(start + g.blocksPerGroup, g.blockCount);
        const std::uint64_t unit = start - g.firstDataBlock;
        if (d.blockUninit() && g.groupChecksums()) {
            // Free from the superblock copy and descriptor blocks on, but for
            // any bitmap or inode table that lies in the group.
            std::uint64_t from = std::min(end, start + g.baseMetadataBlocks(group));
            auto m = std::lower_bound(metadata.begin(), metadata.end(), start,
                                      [](const BlockRange& r, std::uint64_t b) { return r.first < b; });
            if (m != metadata.begin()) {
                const std::uint64_t before = reach[static_cast<std::size_t>(m - metadata.begin()) - 1];
                if (before > start) from = std::max(from, std::min(end, before));
            }
            for (; m != metadata.end() && m->first < end; ++m) {
                if (m->first > from) free.addFree(from - g.firstDataBlock, m->first - from);
                from = std::max(from, std::min(end, m->end));
            }
            if (from < end) free.addFree(from - g.firstDataBlock, end - from);
            continue;
        }
        // Block 0 is the boot block (or the superblock's): no bitmap lies there.
        if (d.blockBitmap == 0 || d.blockBitmap < g.firstDataBlock || !readBlock(d.blockBitmap, bitmap)) {
            message = "The block bitmap of group " + std::to_string(group) + " (block " + std::to_string(d.blockBitmap) +
                      ") lies outside the volume or cannot be read.";
            return false;
        }
        free.addClearBits(Bytes(bitmap), end - start, unit, FreeUnitRuns::BitOrder::LeastSignificantFirst);
    }
    const std::int64_t base = g.blockOffset(g.firstDataBlock);
    return free.finish(runs, base, g.blockSize, std::min<std::int64_t>(reader_.size(), g.blockOffset(g.blockCount)), false,
                       message);
}

}  // namespace ondrel
