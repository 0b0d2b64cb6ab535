#include "fs/xfs/XfsFreeSpace.h"

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

}  // namespace ondrel
