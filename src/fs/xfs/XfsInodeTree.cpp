#include "fs/xfs/XfsInodeTree.h"

#include <set>

namespace ondrel {

namespace {
constexpr std::uint32_t kAgi = 0x58414749;                      // "XAGI"
constexpr std::uint32_t kInodes = 0x49414254, kInodes3 = 0x49414233;  // "IABT", "IAB3"
constexpr int kMaxLevels = 8;
}  // namespace

bool xfsFreeInodes(const XfsSuperblock& sb, const XfsBlockReader& read, Bytes agi, std::uint32_t ag,
                   const std::function<void(std::uint64_t inode)>& onFree, std::string& message, std::string* checksums) {
    if (be32(agi, 0) != kAgi) {
        message = "allocation group " + std::to_string(ag) + " has no inode header";
        return false;
    }
    if (sb.crc() && checksums && !xfsChecksumOk(agi, 312))
        *checksums = "the checksum of allocation group " + std::to_string(ag) + "'s inode header does not match";
    const int levels = static_cast<int>(be32(agi, 24));
    if (levels < 1 || levels > kMaxLevels) {
        message = "allocation group " + std::to_string(ag) + "'s inode tree states " + std::to_string(levels) + " levels";
        return false;
    }
    const unsigned inodeBits = sb.agBlockLog + sb.inodesPerBlockLog;
    const std::uint64_t agInodes = std::uint64_t(sb.agBlocks) << sb.inodesPerBlockLog;
    std::set<std::uint64_t> seen;
    std::function<bool(std::uint64_t, int)> walk = [&](std::uint64_t node, int level) {
        std::vector<std::uint8_t> buf;
        if (node >= sb.agBlocks || !seen.insert(node).second || !read((std::uint64_t(ag) << sb.agBlockLog) | node, buf)) {
            message = "allocation group " + std::to_string(ag) + "'s inode tree names block " + std::to_string(node) +
                      ", which cannot be read or was met before";
            return false;
        }
        const Bytes b(buf);
        const std::uint32_t magic = be32(b, 0);
        const std::size_t header = magic == kInodes3 ? 56 : 16;
        const std::size_t records = be16(b, 6);
        if ((magic != kInodes && magic != kInodes3) || be16(b, 4) != level || records > (b.size() - header) / (level == 0 ? 16 : 8)) {
            message = "block " + std::to_string(node) + " of allocation group " + std::to_string(ag) + " is no node of its inode tree";
            return false;
        }
        if (magic == kInodes3 && checksums && checksums->empty() && !xfsChecksumOk(b, 52))
            *checksums = "the checksum of block " + std::to_string(node) + " of allocation group " + std::to_string(ag) + "'s inode tree does not match";
        if (level > 0) {
            const std::size_t room = (b.size() - header) / 8;
            for (std::size_t i = 0; i < records; ++i)
                if (!walk(be32(b, header + room * 4 + i * 4), level - 1)) return false;
            return true;
        }
        for (std::size_t i = 0; i < records; ++i) {
            const std::size_t at = header + i * 16;
            const std::uint64_t start = be32(b, at), freeMask = be64(b, at + 8);
            // With sparse inodes a set hole bit stands for 4 inodes never allocated.
            const std::uint16_t holes = sb.sparseInodes() ? be16(b, at + 4) : 0;
            if (start + 64 > agInodes) continue;
            for (unsigned k = 0; k < 64; ++k)
                if ((freeMask >> k) & 1 && !((holes >> (k / 4)) & 1))
                    onFree((std::uint64_t(ag) << inodeBits) | (start + k));
        }
        return true;
    };
    return walk(be32(agi, 20), levels - 1);
}

}  // namespace ondrel
