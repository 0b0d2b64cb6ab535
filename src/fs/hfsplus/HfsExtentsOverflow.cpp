#include "fs/hfsplus/HfsExtentsOverflow.h"

namespace ondrel {

void HfsExtentsOverflow::addLeafNode(Bytes node) {
    HfsNodeDescriptor d = decodeNodeDescriptor(node);
    if (d.kind != static_cast<std::int8_t>(HfsNodeKind::Leaf)) return;
    for (std::uint16_t off : recordOffsets(node, d.records)) {
        // Key: length 10, fork type, pad, file ID, start block; then eight extents.
        if (be16(node, off) != 10 || off + 12u + 64u > node.size()) continue;
        std::array<HfsExtent, 8> e{};
        for (std::size_t i = 0; i < 8; ++i) {
            e[i].start = be32(node, off + 12 + i * 8);
            e[i].count = be32(node, off + 16 + i * 8);
        }
        // The first record seen for a key is kept.
        records_.emplace(Key{be32(node, off + 4), le8(node, off + 2), be32(node, off + 8)}, e);
    }
}

bool HfsExtentsOverflow::extents(std::uint32_t fileId, std::uint8_t forkType, const HfsFork& fork,
                                 std::uint32_t volumeBlocks, std::vector<HfsExtent>& out, std::string& problem) const {
    out.clear();
    std::uint64_t covered = 0;
    bool clamped = false;
    auto take = [&](const std::array<HfsExtent, 8>& list) {
        std::uint64_t before = covered;
        for (const HfsExtent& e : list) {
            if (e.count == 0) break;
            // A damaged count never reaches past the volume.
            if (e.start >= volumeBlocks) {
                clamped = true;
                covered += e.count;
                continue;
            }
            HfsExtent cut{e.start, std::min(e.count, volumeBlocks - e.start)};
            if (cut.count != e.count) clamped = true;
            out.push_back(cut);
            covered += e.count;
        }
        return covered > before;
    };
    take(fork.extents);
    // Each overflow record carries on from the blocks covered so far; one that
    // adds none ends the chain, so a damaged tree cannot loop.
    while (covered < fork.totalBlocks && covered <= UINT32_MAX) {
        auto it = records_.find(Key{fileId, forkType, static_cast<std::uint32_t>(covered)});
        if (it == records_.end() || !take(it->second)) break;
    }
    if (clamped) {
        problem = "an extent reaches past the end of the volume";
        return false;
    }
    if (covered < fork.totalBlocks) {
        problem = "extents for " + std::to_string(fork.totalBlocks - covered) + " of its " +
                  std::to_string(fork.totalBlocks) + " blocks are missing";
        return false;
    }
    return true;
}

}  // namespace ondrel
