// RAR: the blocks after the marker, each header's CRC checked, data areas
// skipped by their sizes, to the end-of-archive block (RAR 1.5–4: type 7B;
// RAR 5: header type 5). An archive without an end block (old writers) ends
// after its last block that checks.
#include "carving/structure/StructureCheck.h"

#include <algorithm>

namespace ondrel {

namespace {
constexpr int kMaxBlocks = 1 << 20;
constexpr std::uint8_t kMarker4[7] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
constexpr std::uint8_t kMarker5[8] = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x01, 0x00};

StructureResult rar4(CarveCursor& c) {
    std::int64_t pos = 7;
    for (int n = 0; n < kMaxBlocks; ++n) {
        std::uint8_t h[11] = {};
        if (!c.read(pos, h, 7)) return n > 0 ? StructureResult::truncated(std::min(pos, c.limit())) : StructureResult::notAFile();
        const std::uint16_t crc = static_cast<std::uint16_t>(h[0] | h[1] << 8), flags = static_cast<std::uint16_t>(h[3] | h[4] << 8),
                            size = static_cast<std::uint16_t>(h[5] | h[6] << 8);
        const int type = h[2];
        if (type < 0x72 || type > 0x7B || size < 7) return n > 0 ? StructureResult::whole(pos, false) : StructureResult::notAFile();
        auto sum = c.crc32(pos + 2, size - 2);
        if (!sum) return StructureResult::truncated(c.limit());
        if ((*sum & 0xFFFF) != crc) return n > 0 ? StructureResult::truncated(pos) : StructureResult::notAFile();
        std::int64_t data = 0;
        // A file or sub-block header, or any with the long-block flag, has a data size after its fixed part.
        if (type == 0x74 || type == 0x7A || (flags & 0x8000)) {
            auto low = c.le32(pos + 7);
            if (!low) return StructureResult::truncated(c.limit());
            data = *low;
            if ((type == 0x74 || type == 0x7A) && (flags & 0x0100)) {
                auto high = c.le32(pos + 32);
                if (!high) return StructureResult::truncated(c.limit());
                data |= static_cast<std::int64_t>(*high & 0x3FFFFFFF) << 32;
            }
        }
        pos += size + data;
        if (type == 0x7B) return pos > c.limit() ? StructureResult::truncated(c.limit()) : StructureResult::whole(pos, true);
        if (pos > c.limit()) return StructureResult::truncated(c.limit());
    }
    return StructureResult::truncated(pos);
}

// A RAR 5 variable-length number at pos: value and bytes used.
std::optional<std::pair<std::uint64_t, int>> vint(CarveCursor& c, std::int64_t pos) {
    std::uint64_t v = 0;
    for (int i = 0; i < 10; ++i) {
        const int b = c.byte(pos + i);
        if (b < 0) return std::nullopt;
        v |= static_cast<std::uint64_t>(b & 0x7F) << (7 * i);
        if (!(b & 0x80)) return std::make_pair(v, i + 1);
    }
    return std::nullopt;
}

StructureResult rar5(CarveCursor& c) {
    std::int64_t pos = 8;
    for (int n = 0; n < kMaxBlocks; ++n) {
        auto crc = c.le32(pos);
        auto size = vint(c, pos + 4);
        if (!crc || !size) return n > 0 ? StructureResult::truncated(std::min(pos, c.limit())) : StructureResult::notAFile();
        if (size->first == 0 || size->first > (2u << 20)) return n > 0 ? StructureResult::truncated(pos) : StructureResult::notAFile();
        const std::int64_t header = pos + 4 + size->second;
        auto sum = c.crc32(pos + 4, size->second + static_cast<std::int64_t>(size->first));
        if (!sum) return StructureResult::truncated(c.limit());
        if (*sum != *crc) return n > 0 ? StructureResult::truncated(pos) : StructureResult::notAFile();
        auto type = vint(c, header);
        if (!type) return StructureResult::truncated(c.limit());
        auto flags = vint(c, header + type->second);
        if (!flags) return StructureResult::truncated(c.limit());
        std::int64_t at = header + type->second + flags->second;
        std::uint64_t data = 0;
        if (flags->first & 0x01) {  // extra area size
            auto extra = vint(c, at);
            if (!extra) return StructureResult::truncated(c.limit());
            at += extra->second;
        }
        if (flags->first & 0x02) {  // data area size
            auto d = vint(c, at);
            if (!d || d->first > static_cast<std::uint64_t>(kMaxDiskBytes)) return StructureResult::truncated(pos);
            data = d->first;
        }
        if (type->first < 1 || type->first > 5) return StructureResult::truncated(pos);
        pos = header + static_cast<std::int64_t>(size->first) + static_cast<std::int64_t>(data);
        if (pos > c.limit()) return StructureResult::truncated(c.limit());
        if (type->first == 5) return StructureResult::whole(pos, true);
    }
    return StructureResult::truncated(pos);
}
}  // namespace

StructureResult checkRar(CarveCursor& c) {
    std::uint8_t m[8];
    if (!c.read(0, m, 7) || !std::equal(m, m + 6, kMarker4)) return StructureResult::notMine();
    if (std::equal(m, m + 7, kMarker4)) return rar4(c);
    if (c.read(0, m, 8) && std::equal(m, m + 8, kMarker5)) return rar5(c);
    return StructureResult::notAFile();
}

}  // namespace ondrel
