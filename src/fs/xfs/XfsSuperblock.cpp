#include "fs/xfs/XfsSuperblock.h"

#include "diskimage/Crc32c.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ondrel {

namespace {
constexpr std::uint32_t kMagic = 0x58465342;  // "XFSB"
// Version 5 incompatible features read here: ftype, sparse inodes, meta_uuid, bigtime, nrext64.
constexpr std::uint32_t kKnownIncompat = 0x1 | 0x2 | 0x4 | 0x8 | 0x20;
}  // namespace

bool xfsChecksumOk(Bytes block, std::size_t crcOffset) {
    if (block.size() < crcOffset + 4) return false;
    const std::uint32_t stored = le32(block, crcOffset);
    std::uint32_t crc = crc32c(block.data(), crcOffset);
    const std::uint8_t zero[4]{};
    crc = crc32c(zero, 4, crc);
    crc = crc32c(block.data() + crcOffset + 4, block.size() - crcOffset - 4, crc);
    return crc == stored;
}

bool decodeXfsSuperblock(Bytes s, XfsSuperblock& sb, std::string& why) {
    sb = {};
    if (be32(s, 0) != kMagic) {
        why = "no XFS superblock";
        return false;
    }
    sb.blockSize = be32(s, 4);
    sb.dataBlocks = be64(s, 8);
    std::memcpy(sb.uuid, s.data() + 32, 16);
    sb.logStart = be64(s, 48);
    sb.rootInode = be64(s, 56);
    sb.agBlocks = be32(s, 84);
    sb.agCount = be32(s, 88);
    sb.logBlocks = be32(s, 96);
    sb.versionBits = be16(s, 100);
    sb.version = sb.versionBits & 0xf;
    sb.sectorSize = be16(s, 102);
    sb.inodeSize = be16(s, 104);
    sb.inodesPerBlock = be16(s, 106);
    for (std::size_t i = 108; i < 120 && s[i] != 0; ++i) sb.label.push_back(static_cast<char>(s[i]));
    sb.blockLog = s[120];
    sb.inodeLog = s[122];
    sb.inodesPerBlockLog = s[123];
    sb.agBlockLog = s[124];
    sb.inodeCount = be64(s, 128);
    sb.freeInodes = be64(s, 136);
    sb.dirBlockLog = s[192];
    sb.features2 = be32(s, 200);
    if (sb.version == 5) {
        sb.compat = be32(s, 208);
        sb.roCompat = be32(s, 212);
        sb.incompat = be32(s, 216);
        sb.logIncompat = be32(s, 220);
        sb.checksumOk = xfsChecksumOk(s.first(std::min<std::size_t>(s.size(), sb.sectorSize >= 512 ? sb.sectorSize : 512)), 224);
    }
    // The geometry must hold together: every later offset is computed from it.
    const bool sane = (sb.version == 4 || sb.version == 5) && sb.blockLog >= 9 && sb.blockLog <= 16 &&
                      sb.blockSize == (1u << sb.blockLog) && sb.inodeLog >= 8 && sb.inodeLog <= 11 &&
                      sb.inodeSize == (1u << sb.inodeLog) && sb.inodeLog <= sb.blockLog &&
                      sb.inodesPerBlockLog == sb.blockLog - sb.inodeLog && sb.inodesPerBlock == (1u << sb.inodesPerBlockLog) &&
                      sb.sectorSize >= 512 && sb.sectorSize <= 32768 && (sb.sectorSize & (sb.sectorSize - 1)) == 0 &&
                      sb.agBlocks >= 1 && sb.agBlockLog <= 31 && sb.agBlocks <= (std::uint64_t(1) << sb.agBlockLog) &&
                      (sb.agBlockLog == 0 || sb.agBlocks > (std::uint64_t(1) << (sb.agBlockLog - 1))) && sb.agCount >= 1 &&
                      sb.dataBlocks >= 1 && sb.dataBlocks <= (std::uint64_t(1) << (63 - sb.blockLog)) &&
                      sb.dataBlocks <= std::uint64_t(sb.agCount) * sb.agBlocks && sb.blockLog + sb.dirBlockLog <= 16;
    if (!sane) {
        why = "the XFS superblock's geometry cannot be used";
        return false;
    }
    return true;
}

std::int64_t XfsSuperblock::blockByte(std::uint64_t fsBlock) const {
    const std::uint64_t ag = agBlockLog >= 64 ? 0 : fsBlock >> agBlockLog;
    const std::uint64_t inAg = fsBlock & ((std::uint64_t(1) << agBlockLog) - 1);
    if (ag >= agCount || inAg >= agBlocks) return -1;
    const std::uint64_t block = ag * agBlocks + inAg;
    if (block >= dataBlocks) return -1;
    return static_cast<std::int64_t>(block << blockLog);
}

std::int64_t XfsSuperblock::inodeByte(std::uint64_t inode) const {
    const unsigned shift = agBlockLog + inodesPerBlockLog;
    if (shift >= 64) return -1;
    const std::uint64_t ag = inode >> shift, inAg = inode & ((std::uint64_t(1) << shift) - 1);
    const std::uint64_t block = inAg >> inodesPerBlockLog, slot = inAg & (inodesPerBlock - 1u);
    if (ag >= agCount || block >= agBlocks) return -1;
    const std::uint64_t fsBlock = ag * agBlocks + block;
    if (fsBlock >= dataBlocks) return -1;
    return static_cast<std::int64_t>((fsBlock << blockLog) + slot * inodeSize);
}

std::string XfsSuperblock::unknownIncompat() const {
    if (!crc()) return {};
    static const std::pair<std::uint32_t, const char*> names[] = {
        {0x10, "needsrepair"}, {0x40, "exchange-range"}, {0x80, "parent pointers"}, {0x100, "metadata directory"}};
    std::string out;
    const std::uint32_t unknown = incompat & ~kKnownIncompat;
    for (std::uint32_t bit = 1; bit; bit <<= 1) {
        if (!(unknown & bit)) continue;
        std::string name = "0x" + [&] {
            char b[16];
            std::snprintf(b, sizeof b, "%x", bit);
            return std::string(b);
        }();
        for (const auto& [b, n] : names)
            if (b == bit) name = n;
        out += (out.empty() ? "" : ", ") + name;
    }
    return out;
}

FileSystemProbe xfsProbe() {
    FileSystemProbe p;
    p.name = "XFS";
    p.at = 0;
    p.test = [](Bytes s, bool, std::int64_t& size) {
        XfsSuperblock sb;
        std::string why;
        if (!decodeXfsSuperblock(s, sb, why)) return false;
        size = sb.volumeBytes();
        return true;
    };
    p.largestMegabytes = std::int64_t(8) << 30;  // 8 EiB in MiB: the format's own bound
    p.leadBytes = {'X'};
    return p;
}

}  // namespace ondrel
