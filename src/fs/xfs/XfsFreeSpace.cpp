#include "fs/xfs/XfsFreeSpace.h"

#include <functional>
#include <set>

namespace ondrel {

namespace {
constexpr std::uint32_t kAgf = 0x58414746;                          // "XAGF"
constexpr std::uint32_t kByBlock = 0x41425442, kByBlock3 = 0x41423342;  // "ABTB", "AB3B"
constexpr int kMaxLevels = 8;
}  // namespace

XfsBlocksState xfsBlocksState(const XfsSuperblock& sb, const XfsBlockReader& read,
                              const std::function<bool(std::uint32_t ag, std::vector<std::uint8_t>& out)>& agf,
                              std::uint64_t fsBlock, std::uint64_t count) {
    const std::uint64_t ag = fsBlock >> sb.agBlockLog, first = fsBlock & ((std::uint64_t(1) << sb.agBlockLog) - 1);
    if (ag >= sb.agCount || count == 0 || first + count > sb.agBlocks) return XfsBlocksState::Unknown;
    std::vector<std::uint8_t> header;
    if (!agf(static_cast<std::uint32_t>(ag), header) || be32(header, 0) != kAgf) return XfsBlocksState::Unknown;
    std::uint64_t node = be32(header, 16);
    int level = static_cast<int>(be32(header, 28)) - 1;
    if (level < 0 || level >= kMaxLevels) return XfsBlocksState::Unknown;
    std::set<std::uint64_t> seen;
    std::vector<std::uint8_t> buf;
    while (true) {
        if (node >= sb.agBlocks || !seen.insert(node).second || !read((ag << sb.agBlockLog) | node, buf))
            return XfsBlocksState::Unknown;
        const Bytes b(buf);
        const std::uint32_t magic = be32(b, 0);
        const std::size_t header = magic == kByBlock3 ? 56 : 16;
        if ((magic != kByBlock && magic != kByBlock3) || be16(b, 4) != level) return XfsBlocksState::Unknown;
        const std::size_t records = be16(b, 6);
        if (level == 0) {
            if (records > (b.size() - header) / 8) return XfsBlocksState::Unknown;
            for (std::size_t i = 0; i < records; ++i) {
                const std::uint64_t start = be32(b, header + i * 8), length = be32(b, header + i * 8 + 4);
                if (start <= first && first < start + length) return first + count <= start + length ? XfsBlocksState::Free : XfsBlocksState::InUse;
            }
            return XfsBlocksState::InUse;
        }
        const std::size_t room = (b.size() - header) / 12;
        if (records == 0 || records > room) return XfsBlocksState::Unknown;
        // The last key that starts at or before the first block leads to it.
        std::size_t k = 0;
        while (k + 1 < records && be32(b, header + (k + 1) * 8) <= first) ++k;
        node = be32(b, header + room * 8 + k * 4);
        --level;
    }
}

bool xfsFreeExtents(const XfsSuperblock& sb, const XfsBlockReader& read, Bytes agf, std::uint32_t ag,
                    const std::function<void(std::uint64_t agBlock, std::uint64_t length)>& onFree, std::string& message,
                    std::string* checksums) {
    if (be32(agf, 0) != kAgf) {
        message = "allocation group " + std::to_string(ag) + " has no free-space header";
        return false;
    }
    if (sb.crc() && checksums && !xfsChecksumOk(agf, 216))
        *checksums = "the checksum of allocation group " + std::to_string(ag) + "'s free-space header does not match";
    const int levels = static_cast<int>(be32(agf, 28));
    if (levels < 1 || levels > kMaxLevels) {
        message = "allocation group " + std::to_string(ag) + "'s free-space tree states " + std::to_string(levels) + " levels";
        return false;
    }
    std::set<std::uint64_t> seen;
    std::uint64_t last = 0;
    std::function<bool(std::uint64_t, int)> walk = [&](std::uint64_t node, int level) {
        std::vector<std::uint8_t> buf;
        if (node >= sb.agBlocks || !seen.insert(node).second || !read((std::uint64_t(ag) << sb.agBlockLog) | node, buf)) {
            message = "allocation group " + std::to_string(ag) + "'s free-space tree names block " + std::to_string(node) +
                      ", which cannot be read or was met before";
            return false;
        }
        const Bytes b(buf);
        const std::uint32_t magic = be32(b, 0);
        const std::size_t header = magic == kByBlock3 ? 56 : 16;
        const std::size_t records = be16(b, 6);
        if ((magic != kByBlock && magic != kByBlock3) || be16(b, 4) != level ||
            records > (b.size() - header) / (level == 0 ? 8 : 12)) {
            message = "block " + std::to_string(node) + " of allocation group " + std::to_string(ag) + " is no node of its free-space tree";
            return false;
        }
        if (magic == kByBlock3 && checksums && checksums->empty() && !xfsChecksumOk(b, 52))
            *checksums = "the checksum of block " + std::to_string(node) + " of allocation group " + std::to_string(ag) +
                         "'s free-space tree does not match";
        if (level == 0) {
            for (std::size_t i = 0; i < records; ++i) {
                const std::uint64_t start = be32(b, header + i * 8), length = be32(b, header + i * 8 + 4);
                // Out of order or past the group: the rest of this leaf is not trusted.
                if (start < last || start + length > sb.agBlocks) {
                    message = "allocation group " + std::to_string(ag) + "'s free-space tree lists extents out of order";
                    return false;
                }
                last = start + length;
                onFree(start, length);
            }
            return true;
        }
        const std::size_t room = (b.size() - header) / 12;
        for (std::size_t i = 0; i < records; ++i)
            if (!walk(be32(b, header + room * 8 + i * 4), level - 1)) return false;
        return true;
    };
    return walk(be32(agf, 16), levels - 1);
}

}  // namespace ondrel
