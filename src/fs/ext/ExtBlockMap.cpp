#include "fs/ext/ExtBlockMap.h"

#include <algorithm>

namespace ondrel {

namespace {
// Tree nodes and indirect blocks read for one file, at most: a file of 16 TiB
// in 4 KiB blocks needs about 4 million indirect blocks, a hostile loop no more.
constexpr std::uint64_t kMaxNodes = 1u << 22;
constexpr int kMaxDepth = 5;
}  // namespace

void ExtBlockMapper::add(std::vector<ExtRun>& runs, std::uint64_t logical, std::uint64_t physical, std::uint64_t count,
                         bool zeros) {
    mapped_ += count;
    if (!runs.empty()) {
        ExtRun& last = runs.back();
        if (last.zeros == zeros && last.logical + last.count == logical && last.physical + last.count == physical) {
            last.count += count;
            return;
        }
    }
    runs.push_back({logical, physical, count, zeros});
}

bool ExtBlockMapper::map(const ExtInode& inode, std::uint64_t blocks, std::vector<ExtRun>& runs, std::string& problem) {
    runs.clear();
    nodesRead_ = 0;
    mapped_ = 0;
    // No file owns more blocks than the volume has, nor needs more tree
    // nodes or indirect blocks: a map that loops ends there.
    maxNodes_ = std::min<std::uint64_t>(kMaxNodes, g_.blockCount);
    bool ok;
    if (inode.usesExtents()) {
        ok = extents(Bytes(inode.block), 0, blocks, runs, problem);
    } else {
        std::uint64_t logical = 0;
        Bytes area(inode.block);
        ok = true;
        for (int i = 0; i < 12 && logical < blocks; ++i, ++logical) {
            std::uint32_t b = le32(area, static_cast<std::size_t>(i) * 4);
            if (b == 0) continue;
            if (!inVolume(b)) {
                problem = "a block number outside the volume";
                return false;
            }
            add(runs, logical, b, 1, false);
        }
        for (int level = 1; level <= 3 && ok && logical < blocks; ++level) {
            std::uint32_t b = le32(area, static_cast<std::size_t>(11 + level) * 4);
            std::uint64_t per = g_.blockSize / 4;
            std::uint64_t span = level == 1 ? per : level == 2 ? per * per : per * per * per;
            if (b == 0) {
                logical += span;  // a hole the size of the whole level
                continue;
            }
            ok = indirect(b, level, logical, blocks, runs, problem);
        }
    }
    // Runs in logical order, overlaps cut: a damaged tree may list them otherwise.
    std::sort(runs.begin(), runs.end(), [](const ExtRun& a, const ExtRun& b) { return a.logical < b.logical; });
    std::uint64_t next = 0;
    std::vector<ExtRun> clean;
    for (ExtRun r : runs) {
        if (r.logical < next) {
            std::uint64_t skip = next - r.logical;
            if (skip >= r.count) continue;
            r.logical += skip;
            r.physical += skip;
            r.count -= skip;
        }
        if (r.logical >= blocks) break;
        r.count = std::min(r.count, blocks - r.logical);
        next = r.logical + r.count;
        clean.push_back(r);
    }
    runs.swap(clean);
    return ok;
}

bool ExtBlockMapper::extents(Bytes node, int depth, std::uint64_t blocks, std::vector<ExtRun>& runs, std::string& problem) {
    if (le16(node, 0) != 0xF30A) {
        problem = "an extent header without its magic";
        return false;
    }
    std::size_t entries = le16(node, 2);
    int nodeDepth = le16(node, 6);
    if (entries > (node.size() - 12) / 12 || nodeDepth > kMaxDepth || (depth > 0 && nodeDepth != depth)) {
        problem = "an extent node that does not fit";
        return false;
    }
    for (std::size_t i = 0; i < entries; ++i) {
        std::size_t e = 12 + 12 * i;
        std::uint64_t logical = le32(node, e);
        if (logical >= blocks) break;
        if (nodeDepth == 0) {
            std::uint32_t length = le16(node, e + 4);
            bool zeros = length > 32768;
            if (zeros) length -= 32768;
            std::uint64_t start = static_cast<std::uint64_t>(le16(node, e + 6)) << 32 | le32(node, e + 8);
            if (length == 0) continue;
            if (!inVolume(start, length)) {
                problem = "an extent outside the volume";
                return false;
            }
            add(runs, logical, start, length, zeros);
            continue;
        }
        std::uint64_t leaf = static_cast<std::uint64_t>(le16(node, e + 8)) << 32 | le32(node, e + 4);
        if (!inVolume(leaf) || ++nodesRead_ > maxNodes_ || mapped_ > g_.blockCount) {
            problem = "an extent index outside the volume";
            return false;
        }
        std::vector<std::uint8_t> child;
        if (!read_(leaf, child)) {
            problem = "an extent node that cannot be read";
            return false;
        }
        if (!extents(Bytes(child), nodeDepth - 1, blocks, runs, problem)) return false;
    }
    return true;
}

bool ExtBlockMapper::indirect(std::uint64_t block, int level, std::uint64_t& logical, std::uint64_t blocks,
                              std::vector<ExtRun>& runs, std::string& problem) {
    const std::uint64_t per = g_.blockSize / 4;
    std::uint64_t span = 1;
    for (int i = 1; i < level; ++i) span *= per;
    if (!inVolume(block) || ++nodesRead_ > maxNodes_ || mapped_ > g_.blockCount) {
        problem = "an indirect block outside the volume";
        return false;
    }
    std::vector<std::uint8_t> data;
    if (!read_(block, data)) {
        problem = "an indirect block that cannot be read";
        return false;
    }
    Bytes b(data);
    for (std::uint64_t i = 0; i < per && logical < blocks; ++i) {
        std::uint32_t p = le32(b, static_cast<std::size_t>(i * 4));
        if (p == 0) {
            logical += span;
            continue;
        }
        if (level == 1) {
            if (!inVolume(p)) {
                problem = "a block number outside the volume";
                return false;
            }
            add(runs, logical++, p, 1, false);
        } else if (!indirect(p, level - 1, logical, blocks, runs, problem)) {
            return false;
        }
    }
    return true;
}

}  // namespace ondrel
