// TIFF (and the camera formats built on it): every IFD reached from the
// header (the chain, sub-IFDs, EXIF, GPS and interoperability IFDs) and every
// block they point at (values, strips, tiles, an embedded JPEG). The file
// ends where the furthest of them ends; the end is verified when that is a
// structure read here, not image data.
#include "carving/structure/StructureCheck.h"

#include <algorithm>
#include <set>
#include <vector>

namespace ondrel {

namespace {
constexpr int kMaxIfds = 512;
constexpr std::uint64_t kMaxEntries = 4096;
constexpr std::uint64_t kMaxArray = 1 << 20;

class TiffWalk {
public:
    TiffWalk(CarveCursor& c, bool big, bool bigTiff) : c_(c), big_(big), bigTiff_(bigTiff) {}

    StructureResult run(std::uint64_t first) {
        queue_.push_back(first);
        while (!queue_.empty()) {
            const std::uint64_t at = queue_.back();
            queue_.pop_back();
            if (at == 0 || !seen_.insert(at).second) continue;
            if (static_cast<int>(seen_.size()) > kMaxIfds) break;
            if (!ifd(at)) {
                if (seen_.size() == 1) return StructureResult::notAFile();
                return StructureResult::truncated(std::min<std::int64_t>(firstBroken_, c_.limit()));
            }
        }
        if (static_cast<std::int64_t>(extent_) > c_.limit()) return StructureResult::truncated(c_.limit());
        return StructureResult::whole(static_cast<std::int64_t>(extent_), structureLast_);
    }

private:
    std::optional<std::uint64_t> u(std::int64_t pos, int bytes) {
        if (bytes == 2) {
            auto v = big_ ? c_.be16(pos) : c_.le16(pos);
            return v ? std::optional<std::uint64_t>(*v) : std::nullopt;
        }
        if (bytes == 4) {
            auto v = big_ ? c_.be32(pos) : c_.le32(pos);
            return v ? std::optional<std::uint64_t>(*v) : std::nullopt;
        }
        return big_ ? c_.be64(pos) : c_.le64(pos);
    }

    static std::uint64_t sum(std::uint64_t a, std::uint64_t b) {
        return std::min<std::uint64_t>(a, kMaxDiskBytes) + std::min<std::uint64_t>(b, kMaxDiskBytes);
    }

    void reach(std::uint64_t end, bool structure) {
        if (end > extent_) {
            extent_ = end;
            structureLast_ = structure;
        } else if (end == extent_ && structure) {
            structureLast_ = true;
        }
    }

    static std::uint64_t typeSize(std::uint64_t type) {
        switch (type) {
        case 1: case 2: case 6: case 7: return 1;
        case 3: case 8: return 2;
        case 4: case 9: case 11: case 13: return 4;
        case 5: case 10: case 12: case 16: case 17: case 18: return 8;
        default: return 0;
        }
    }

    // The values of an entry as unsigned numbers (SHORT, LONG, LONG8, IFD).
    std::vector<std::uint64_t> values(std::uint64_t type, std::uint64_t count, std::int64_t where) {
        std::vector<std::uint64_t> out;
        const int width = static_cast<int>(typeSize(type));
        if ((type != 3 && type != 4 && type != 13 && type != 16 && type != 18) || count > kMaxArray) return out;
        for (std::uint64_t i = 0; i < count; ++i) {
            auto v = u(where + static_cast<std::int64_t>(i) * width, width);
            if (!v) break;
            out.push_back(*v);
        }
        return out;
    }

    bool ifd(std::uint64_t at) {
        const int countBytes = bigTiff_ ? 8 : 2, entryBytes = bigTiff_ ? 20 : 12, offsetBytes = bigTiff_ ? 8 : 4;
        if (at >= static_cast<std::uint64_t>(c_.limit())) return broken(at);
        const std::int64_t pos = static_cast<std::int64_t>(at);
        auto count = u(pos, countBytes);
        if (!count || *count == 0 || *count > kMaxEntries) return broken(at);
        const std::int64_t entries = pos + countBytes;
        const std::int64_t end = entries + static_cast<std::int64_t>(*count) * entryBytes + offsetBytes;
        std::vector<std::uint64_t> stripOffsets, stripCounts, tileOffsets, tileCounts;
        std::uint64_t jpegOffset = 0, jpegLength = 0;
        for (std::uint64_t i = 0; i < *count; ++i) {
            const std::int64_t e = entries + static_cast<std::int64_t>(i) * entryBytes;
            auto tag = u(e, 2), type = u(e + 2, 2), n = u(e + 4, offsetBytes);
            if (!tag || !type || !n) return broken(at);
            const std::uint64_t width = typeSize(*type);
            if (width == 0) continue;  // an unknown type: its value cannot be sized, and readers skip it
            if (*n > (std::uint64_t(1) << 40) / width) return broken(at);
            const std::uint64_t bytes = width * *n;
            std::int64_t where = e + 4 + offsetBytes;
            if (bytes > static_cast<std::uint64_t>(offsetBytes)) {
                auto off = u(where, offsetBytes);
                if (!off) return broken(at);
                where = static_cast<std::int64_t>(std::min<std::uint64_t>(*off, kMaxDiskBytes));
                reach(sum(*off, bytes), true);
            }
            switch (*tag) {
            case 273: stripOffsets = values(*type, *n, where); break;
            case 279: stripCounts = values(*type, *n, where); break;
            case 324: tileOffsets = values(*type, *n, where); break;
            case 325: tileCounts = values(*type, *n, where); break;
            case 513: jpegOffset = first(values(*type, 1, where)); break;
            case 514: jpegLength = first(values(*type, 1, where)); break;
            case 330: case 34665: case 34853: case 40965:
                for (std::uint64_t sub : values(*type, std::min<std::uint64_t>(*n, kMaxIfds), where)) queue_.push_back(sub);
                break;
            default: break;
            }
        }
        reach(static_cast<std::uint64_t>(end), true);
        for (std::size_t i = 0; i < std::min(stripOffsets.size(), stripCounts.size()); ++i)
            reach(sum(stripOffsets[i], stripCounts[i]), false);
        for (std::size_t i = 0; i < std::min(tileOffsets.size(), tileCounts.size()); ++i)
            reach(sum(tileOffsets[i], tileCounts[i]), false);
        if (jpegOffset && jpegLength) reach(sum(jpegOffset, jpegLength), false);
        auto next = u(end - offsetBytes, offsetBytes);
        if (!next) return broken(at);
        queue_.push_back(*next);
        return true;
    }

    static std::uint64_t first(const std::vector<std::uint64_t>& v) { return v.empty() ? 0 : v[0]; }

    bool broken(std::uint64_t at) {
        firstBroken_ = std::min<std::int64_t>(firstBroken_, static_cast<std::int64_t>(std::min<std::uint64_t>(at, kMaxDiskBytes)));
        return false;
    }

    CarveCursor& c_;
    bool big_, bigTiff_;
    std::vector<std::uint64_t> queue_;
    std::set<std::uint64_t> seen_;
    std::uint64_t extent_ = 8;
    bool structureLast_ = true;
    std::int64_t firstBroken_ = kMaxDiskBytes;
};
}  // namespace

StructureResult checkTiff(CarveCursor& c) {
    std::uint8_t h[16];
    if (!c.read(0, h, 8)) return StructureResult::notMine();
    const bool little = h[0] == 'I' && h[1] == 'I', big = h[0] == 'M' && h[1] == 'M';
    if (!little && !big) return StructureResult::notMine();
    const int magic = little ? h[2] | h[3] << 8 : h[2] << 8 | h[3];
    if (magic != 42 && magic != 43) return StructureResult::notMine();
    std::uint64_t first = 0;
    if (magic == 42) {
        first = little ? (static_cast<std::uint32_t>(h[4] | h[5] << 8 | h[6] << 16) | static_cast<std::uint32_t>(h[7]) << 24)
                       : (static_cast<std::uint32_t>(h[4]) << 24 | static_cast<std::uint32_t>(h[5] << 16 | h[6] << 8 | h[7]));
    } else {
        // BigTIFF: offsets of 8 bytes, the first IFD's at byte 8.
        if (!c.read(0, h, 16)) return StructureResult::notAFile();
        for (int i = 0; i < 8; ++i) first |= static_cast<std::uint64_t>(h[8 + (little ? i : 7 - i)]) << (8 * i);
    }
    if (first < 8) return StructureResult::notAFile();
    return TiffWalk(c, big, magic == 43).run(first);
}

}  // namespace ondrel
