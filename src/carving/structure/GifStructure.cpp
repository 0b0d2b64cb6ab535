// GIF: header and logical screen with its colour table, then image
// descriptors and extensions with their sub-blocks, to the trailer 3B. A
// "00 3B" inside the frames ends nothing.
#include "carving/structure/StructureCheck.h"

namespace ondrel {

namespace {
// Past a chain of sub-blocks from pos: the position after its zero block, or -1.
std::int64_t skipSubBlocks(CarveCursor& c, std::int64_t pos) {
    for (;;) {
        const int n = c.byte(pos);
        if (n < 0) return -1;
        pos += 1 + n;
        if (n == 0) return pos;
    }
}

std::int64_t colourTable(int flags) { return flags & 0x80 ? 3ll << ((flags & 7) + 1) : 0; }
}  // namespace

StructureResult checkGif(CarveCursor& c) {
    if (!c.hasText(0, "GIF8")) return StructureResult::notMine();
    if (!c.hasText(0, "GIF87a") && !c.hasText(0, "GIF89a")) return StructureResult::notAFile();
    const int screenFlags = c.byte(10);
    if (screenFlags < 0) return StructureResult::notAFile();
    std::int64_t pos = 13 + colourTable(screenFlags);
    for (int blocks = 0;; ++blocks) {
        const std::int64_t at = pos;
        auto broken = [&] { return blocks == 0 ? StructureResult::notAFile() : StructureResult::truncated(at); };
        const int kind = c.byte(pos);
        if (kind < 0) return blocks == 0 ? StructureResult::notAFile() : StructureResult::truncated(c.limit());
        if (kind == 0x3B) return blocks == 0 ? StructureResult::notAFile() : StructureResult::whole(pos + 1, true);
        if (kind == 0x2C) {
            const int flags = c.byte(pos + 9);
            if (flags < 0) return StructureResult::truncated(c.limit());
            pos += 10 + colourTable(flags);
            const int codeSize = c.byte(pos);
            if (codeSize < 0) return StructureResult::truncated(c.limit());
            if (codeSize < 1 || codeSize > 12) return broken();
            pos = skipSubBlocks(c, pos + 1);
        } else if (kind == 0x21) {
            if (c.byte(pos + 1) < 0) return StructureResult::truncated(c.limit());
            pos = skipSubBlocks(c, pos + 2);
        } else {
            return broken();
        }
        if (pos < 0) return StructureResult::truncated(c.limit());
    }
}

}  // namespace ondrel
