// PNG: the chunks after the signature, each with its CRC-32 checked, to IEND.
// APNG files are PNG files with more chunk types and need nothing else.
#include "carving/structure/StructureCheck.h"

#include <algorithm>

namespace ondrel {

namespace {
constexpr std::uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool chunkType(const std::uint8_t* t) {
    for (int i = 0; i < 4; ++i)
        if (!((t[i] >= 'A' && t[i] <= 'Z') || (t[i] >= 'a' && t[i] <= 'z'))) return false;
    return true;
}
}  // namespace

StructureResult checkPng(CarveCursor& c) {
    std::uint8_t head[8];
    if (!c.read(0, head, 8) || std::equal(head, head + 8, kSignature) == false) return StructureResult::notMine();
    std::int64_t pos = 8;
    for (bool first = true;; first = false) {
        std::uint8_t h[8];
        if (!c.read(pos, h, 8)) return first ? StructureResult::notAFile() : StructureResult::truncated(c.limit());
        const std::uint32_t length = static_cast<std::uint32_t>(h[0]) << 24 | h[1] << 16 | h[2] << 8 | h[3];
        const bool header = h[4] == 'I' && h[5] == 'H' && h[6] == 'D' && h[7] == 'R';
        if (length > 0x7FFFFFFFu || !chunkType(h + 4) || (first && (!header || length != 13)))
            return first ? StructureResult::notAFile() : StructureResult::truncated(pos);
        const std::int64_t end = pos + 12 + length;
        if (end > c.limit()) return first ? StructureResult::notAFile() : StructureResult::truncated(c.limit());
        auto crc = c.crc32(pos + 4, 4 + static_cast<std::int64_t>(length));
        auto stored = c.be32(pos + 8 + length);
        if (!crc || !stored) return StructureResult::truncated(c.limit());
        if (*crc != *stored) return first ? StructureResult::notAFile() : StructureResult::truncated(pos);
        if (h[4] == 'I' && h[5] == 'E' && h[6] == 'N' && h[7] == 'D') return StructureResult::whole(end, true);
        pos = end;
    }
}

}  // namespace ondrel
