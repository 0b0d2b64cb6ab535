// 7z: the signature header's CRC, the next header's place and size after it,
// and the next header's own CRC, which is the archive's last bytes.
#include "carving/structure/StructureCheck.h"

#include <algorithm>

namespace ondrel {

namespace {
constexpr std::uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
constexpr std::int64_t kHeader = 32;
}  // namespace

StructureResult checkSevenZip(CarveCursor& c) {
    std::uint8_t h[kHeader];
    if (!c.read(0, h, 6) || !std::equal(h, h + 6, kSignature)) return StructureResult::notMine();
    if (!c.read(0, h, sizeof h)) return StructureResult::truncated(c.limit());
    auto startCrc = c.crc32(12, 20);
    auto stored = c.le32(8);
    auto offset = c.le64(12), size = c.le64(20);
    auto nextCrc = c.le32(28);
    if (h[6] != 0 || !startCrc || !stored || *startCrc != *stored) return StructureResult::notAFile();
    if (*offset > static_cast<std::uint64_t>(kMaxDiskBytes) || *size > static_cast<std::uint64_t>(kMaxDiskBytes) - *offset)
        return StructureResult::notAFile();
    const std::int64_t next = kHeader + static_cast<std::int64_t>(*offset);
    const std::int64_t end = next + static_cast<std::int64_t>(*size);
    if (end > c.limit()) return StructureResult::truncated(c.limit());
    auto crc = c.crc32(next, static_cast<std::int64_t>(*size));
    if (!crc) return StructureResult::truncated(c.limit());
    // The packed streams come first; a header that does not check was overwritten after them.
    if (*crc != *nextCrc) return StructureResult::truncated(next);
    return StructureResult::whole(end, true);
}

}  // namespace ondrel
