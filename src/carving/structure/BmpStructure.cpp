// BMP: the file header's size, believed when the reserved words are zero, the
// info header is one of the known sizes and the pixels fit the stated size.
// Nothing closes a BMP, so its end is not verified.
#include "carving/structure/StructureCheck.h"

#include <cstdlib>

namespace ondrel {

StructureResult checkBmp(CarveCursor& c) {
    if (!c.hasText(0, "BM")) return StructureResult::notMine();
    std::uint8_t h[54] = {};
    if (!c.read(0, h, 26)) return StructureResult::notAFile();
    c.read(0, h, sizeof h);
    auto u32 = [&](int at) { return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8 | h[at + 2] << 16) | static_cast<std::uint32_t>(h[at + 3]) << 24; };
    auto u16 = [&](int at) { return static_cast<std::uint32_t>(h[at] | h[at + 1] << 8); };
    const std::uint32_t fileSize = u32(2), pixels = u32(10), info = u32(14);
    if (u32(6) != 0) return StructureResult::notAFile();
    const bool core = info == 12;
    if (!core && info != 16 && info != 40 && info != 52 && info != 56 && info != 64 && info != 108 && info != 124)
        return StructureResult::notAFile();
    std::int64_t width = 0, height = 0;
    std::uint32_t planes = 0, bits = 0, compression = 0;
    if (core) {
        width = u16(18), height = u16(20), planes = u16(22), bits = u16(24);
    } else {
        width = static_cast<std::int32_t>(u32(18)), height = static_cast<std::int32_t>(u32(22));
        planes = u16(26), bits = u16(28), compression = u32(30);
    }
    const bool bitsOk = bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 64;
    if (planes != 1 || !bitsOk || width <= 0 || width > 1 << 20 || height == 0 || std::llabs(height) > 1 << 20 ||
        compression > 13 || pixels < 14 + info || pixels > fileSize)
        return StructureResult::notAFile();
    // Uncompressed pixels have a known size: the stated one must hold them.
    if (compression == 0 || compression == 3) {
        const std::int64_t row = (width * bits + 31) / 32 * 4;
        if (static_cast<std::int64_t>(fileSize) < static_cast<std::int64_t>(pixels) + row * std::llabs(height))
            return StructureResult::notAFile();
    }
    if (fileSize > c.limit()) return StructureResult::truncated(c.limit());
    return StructureResult::whole(fileSize, false);
}

}  // namespace ondrel
