#include "fs/ext/ExtJournal.h"

namespace ondrel {

namespace {
constexpr std::uint32_t kMagic = 0xC03B3998;
constexpr std::uint32_t kIncompat64 = 0x2, kIncompatCsumV2 = 0x8, kIncompatCsumV3 = 0x10;
}  // namespace

bool readJournalCopies(std::uint32_t blockSize, std::uint64_t journalBlocks,
                       const std::function<bool(std::uint64_t, std::vector<std::uint8_t>&)>& readBlock,
                       std::vector<JournalCopy>& copies, std::string& reason) {
    copies.clear();
    std::vector<std::uint8_t> block;
    if (journalBlocks < 2 || !readBlock(0, block)) {
        reason = "the journal cannot be read";
        return false;
    }
    Bytes sb(block);
    std::uint32_t type = be32(sb, 4);
    if (be32(sb, 0) != kMagic || (type != 3 && type != 4) || be32(sb, 12) != blockSize) {
        reason = "the journal has no superblock";
        return false;
    }
    std::uint64_t maxLen = std::min<std::uint64_t>(be32(sb, 16), journalBlocks);
    std::uint64_t first = be32(sb, 20);
    std::uint32_t incompat = type == 4 ? be32(sb, 40) : 0;
    bool csum3 = incompat & kIncompatCsumV3;
    bool tail = incompat & (kIncompatCsumV2 | kIncompatCsumV3);  // descriptor blocks end with a checksum
    std::size_t tagBytes = csum3 ? 16 : (incompat & kIncompat64) ? 12 : 8;
    if (first == 0 || first >= maxLen) {
        reason = "the journal's log area is not inside it";
        return false;
    }
    // Every descriptor block of the log, whatever transaction it belongs to:
    // the log is circular, and the blocks after a descriptor are its copies.
    for (std::uint64_t j = first; j < maxLen; ++j) {
        if (!readBlock(j, block)) continue;
        Bytes d(block);
        if (be32(d, 0) != kMagic || be32(d, 4) != 1) continue;
        std::uint32_t sequence = be32(d, 8);
        std::size_t end = blockSize - (tail ? 4 : 0);
        std::uint64_t k = 0;
        for (std::size_t t = 12; t + tagBytes <= end; ++k) {
            std::uint64_t fsBlock = be32(d, t);
            std::uint32_t flags = csum3 ? be32(d, t + 4) : be16(d, t + 6);
            if (tagBytes >= 12) fsBlock |= static_cast<std::uint64_t>(be32(d, t + 8)) << 32;
            std::uint64_t at = j + 1 + k;
            if (at >= maxLen) at = first + (at - maxLen);  // the log wraps round
            copies.push_back({fsBlock, at, sequence, (flags & 1) != 0});
            t += tagBytes + ((flags & 2) ? 0 : 16);  // a UUID follows unless it is the same as before
            if (flags & 8) break;                    // the last tag
        }
    }
    return true;
}

}  // namespace ondrel
