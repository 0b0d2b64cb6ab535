#include "fs/xfs/XfsInode.h"

namespace ondrel {

namespace {
constexpr std::uint16_t kMagic = 0x494e;  // "IN"
constexpr std::uint64_t kFlag2BigTime = 1u << 3, kFlag2Nrext64 = 1u << 4;

// Big timestamps count nanoseconds from the earliest 32-bit second (-2^31).
XfsTime timeAt(Bytes b, std::size_t off, bool big) {
    if (big) {
        const std::uint64_t ns = be64(b, off);
        return {static_cast<std::int64_t>(ns / 1000000000u) - (std::int64_t(1) << 31), static_cast<std::uint32_t>(ns % 1000000000u)};
    }
    return {static_cast<std::int32_t>(be32(b, off)), be32(b, off + 4) % 1000000000u};
}
}  // namespace

bool decodeXfsInode(Bytes b, const XfsSuperblock& sb, std::uint64_t number, XfsInode& n, std::string& why, bool withFork) {
    n = {};
    n.number = number;
    if (b.size() < sb.inodeSize || be16(b, 0) != kMagic) {
        why = "inode " + std::to_string(number) + " has no inode magic";
        return false;
    }
    n.mode = be16(b, 2);
    n.version = b[4];
    n.format = static_cast<XfsFork>(b[5]);
    if (n.version < 1 || n.version > 3 || b[5] > 3) {
        why = "inode " + std::to_string(number) + " states version " + std::to_string(n.version) + " and fork format " +
              std::to_string(b[5]);
        return false;
    }
    const bool v3 = n.version == 3;
    const std::uint64_t flags2 = v3 ? be64(b, 120) : 0;
    const bool big = sb.bigTime() && (flags2 & kFlag2BigTime);
    n.links = n.version == 1 ? be16(b, 6) : be32(b, 16);
    n.atime = timeAt(b, 32, big);
    n.mtime = timeAt(b, 40, big);
    n.ctime = timeAt(b, 48, big);
    n.size = be64(b, 56);
    n.blocks = be64(b, 64);
    n.extents = v3 && (flags2 & kFlag2Nrext64) ? be64(b, 24) : be32(b, 76);
    if (v3) {
        n.crtime = timeAt(b, 144, big);
        n.hasCrtime = true;
        n.checksumOk = xfsChecksumOk(b.first(sb.inodeSize), 100);
    }
    const std::size_t core = v3 ? 176 : 100;
    const std::size_t forkOff = b[82];
    std::size_t end = forkOff ? core + forkOff * 8 : sb.inodeSize;
    if (end > sb.inodeSize || end < core) {
        why = "inode " + std::to_string(number) + " states its attribute fork outside the inode";
        return false;
    }
    if (withFork || n.isDirectory())
        n.dataFork.assign(b.begin() + static_cast<std::ptrdiff_t>(core), b.begin() + static_cast<std::ptrdiff_t>(end));
    return true;
}

}  // namespace ondrel
