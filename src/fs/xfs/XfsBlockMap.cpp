#include "fs/xfs/XfsBlockMap.h"

#include <algorithm>
#include <set>

namespace ondrel {

namespace {
constexpr std::uint32_t kBmap = 0x424d4150, kBma3 = 0x424d4133;  // "BMAP", "BMA3"
constexpr int kMaxLevels = 10;
// More extents than this is no fork a volume holds (each needs a block).
constexpr std::size_t kMaxExtents = std::size_t(1) << 26;

struct Walk {
    const XfsSuperblock& sb;
    const XfsBlockReader& read;
    std::vector<XfsExtent>& out;
    std::string& message;
    std::string* checksums;
    std::set<std::uint64_t> seen;

    void records(Bytes b, std::size_t at, std::size_t count) {
        for (std::size_t i = 0; i < count && out.size() < kMaxExtents; ++i) {
            XfsExtent e = xfsExtentAt(b.subspan(at + i * 16, 16));
            if (e.count > 0) out.push_back(e);
        }
    }

    // A node or leaf block of the tree at level (the level its parent expects).
    void block(std::uint64_t fsBlock, int level) {
        if (!message.empty()) return;
        if (!seen.insert(fsBlock).second) {
            message = "the block map names block " + std::to_string(fsBlock) + " twice";
            return;
        }
        std::vector<std::uint8_t> buf;
        if (!read(fsBlock, buf)) {
            message = "the block map's block " + std::to_string(fsBlock) + " cannot be read";
            return;
        }
        const Bytes b(buf);
        const std::uint32_t magic = be32(b, 0);
        const std::size_t header = magic == kBma3 ? 72 : 24;
        if ((magic != kBmap && magic != kBma3) || be16(b, 4) != level) {
            message = "block " + std::to_string(fsBlock) + " is no block-map node of the level its parent states";
            return;
        }
        if (magic == kBma3 && checksums && checksums->empty() && !xfsChecksumOk(b, 64))
            *checksums = "the checksum of block-map node " + std::to_string(fsBlock) + " does not match";
        const std::size_t count = be16(b, 6), room = (b.size() - header) / 16;
        if (count > room) {
            message = "block-map node " + std::to_string(fsBlock) + " states more records than it holds";
            return;
        }
        if (level == 0) {
            records(b, header, count);
            return;
        }
        for (std::size_t i = 0; i < count; ++i) block(be64(b, header + room * 8 + i * 8), level - 1);
    }
};
}  // namespace

XfsExtent xfsExtentAt(Bytes r) {
    const std::uint64_t l0 = be64(r, 0), l1 = be64(r, 8);
    XfsExtent e;
    e.unwritten = (l0 >> 63) != 0;
    e.fileBlock = (l0 & ((std::uint64_t(1) << 63) - 1)) >> 9;
    e.fsBlock = ((l0 & 0x1ff) << 43) | (l1 >> 21);
    e.count = l1 & 0x1fffff;
    return e;
}

bool xfsForkExtents(const XfsInode& n, const XfsSuperblock& sb, const XfsBlockReader& read, std::vector<XfsExtent>& out,
                    std::string& message, std::string* checksums) {
    out.clear();
    message.clear();
    const Bytes fork(n.dataFork);
    Walk walk{sb, read, out, message, checksums, {}};
    if (n.format == XfsFork::Extents) {
        const std::size_t room = fork.size() / 16;
        if (n.extents > room) message = "the inode states more extents than its fork holds";
        walk.records(fork, 0, std::min<std::size_t>(room, n.extents));
    } else if (n.format == XfsFork::Btree) {
        // The root in the inode: level, count, then keys and pointers, each as many as fit.
        const int level = be16(fork, 0);
        const std::size_t count = be16(fork, 2), room = fork.size() >= 4 ? (fork.size() - 4) / 16 : 0;
        if (level < 1 || level > kMaxLevels || count > room) {
            message = "the inode's block-map root states level " + std::to_string(level) + " and " + std::to_string(count) + " records";
        } else {
            for (std::size_t i = 0; i < count; ++i) walk.block(be64(fork, 4 + room * 8 + i * 8), level - 1);
        }
    }
    std::sort(out.begin(), out.end(), [](const XfsExtent& a, const XfsExtent& b) { return a.fileBlock < b.fileBlock; });
    // Overlapping extents: the first that maps a block keeps it.
    std::vector<XfsExtent> kept;
    for (const XfsExtent& e : out) {
        if (!kept.empty() && e.fileBlock < kept.back().fileBlock + kept.back().count) {
            if (message.empty()) message = "extents of the block map overlap";
            const std::uint64_t end = kept.back().fileBlock + kept.back().count;
            if (e.fileBlock + e.count <= end) continue;
            XfsExtent rest = e;
            rest.fsBlock += end - e.fileBlock;
            rest.count -= end - e.fileBlock;
            rest.fileBlock = end;
            kept.push_back(rest);
            continue;
        }
        kept.push_back(e);
    }
    out = std::move(kept);
    return message.empty();
}

}  // namespace ondrel
