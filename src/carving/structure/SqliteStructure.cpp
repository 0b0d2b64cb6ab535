// SQLite: page size times the page count of the database header, believed
// when the header's fixed fields hold and the count is current (the change
// counter equals the version-valid-for number, as writers since 3.7.0 keep
// it). Without a current count only the first page is known to be there.
#include "carving/structure/StructureCheck.h"

#include <algorithm>

namespace ondrel {

StructureResult checkSqlite(CarveCursor& c) {
    if (!c.hasText(0, "SQLite format 3\0")) return StructureResult::notMine();
    std::uint8_t h[100];
    if (!c.read(0, h, sizeof h)) return StructureResult::truncated(c.limit());
    auto be32 = [&](int at) { return static_cast<std::uint32_t>(h[at]) << 24 | static_cast<std::uint32_t>(h[at + 1] << 16 | h[at + 2] << 8 | h[at + 3]); };
    const std::uint32_t raw = static_cast<std::uint32_t>(h[16] << 8 | h[17]);
    const std::int64_t page = raw == 1 ? 65536 : raw;
    const bool powerOfTwo = page >= 512 && page <= 65536 && (page & (page - 1)) == 0;
    if (!powerOfTwo || h[18] < 1 || h[18] > 2 || h[19] < 1 || h[19] > 2 || h[21] != 64 || h[22] != 32 || h[23] != 32)
        return StructureResult::notAFile();
    const std::uint32_t pages = be32(28);
    if (pages == 0 || be32(24) != be32(92)) return StructureResult::truncated(std::min(page, c.limit()));
    const std::int64_t size = page * pages;
    if (size > c.limit()) return StructureResult::truncated(c.limit());
    return StructureResult::whole(size, false);
}

}  // namespace ondrel
