// JPEG: the marker segments from SOI, each skipped by its length (so a
// thumbnail inside an EXIF segment, with its own SOI and EOI, is passed over),
// then entropy-coded data (FF 00 stuffing and restart markers) after each SOS,
// to the EOI that closes the image. A multi-picture file (an MPF segment)
// goes on with the pictures that follow its first EOI.
#include "carving/structure/StructureCheck.h"

#include <cstring>

namespace ondrel {

namespace {
constexpr int kMaxPictures = 16;

bool standalone(int code) { return code == 0x01 || (code >= 0xD0 && code <= 0xD7); }
// Codes a segment with a length may carry here: frames, tables, scans, APPn, comments, extensions.
bool segment(int code) { return code >= 0xC0 && code <= 0xFE && code != 0xD8 && code != 0xD9 && !standalone(code); }
bool frame(int code) { return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC; }

// The first position at or after pos of a marker that ends entropy-coded
// data (an FF not followed by 00, a restart marker or a fill FF); -1 at the
// limit, with lastFF the last FF seen (entropy-coded data has them often;
// text and zeros have none).
std::int64_t endOfScan(CarveCursor& c, std::int64_t pos, std::int64_t& lastFF) {
    for (;;) {
        auto v = c.view(pos);
        if (v.size() < 2) return -1;
        const std::uint8_t* p = v.data();
        const std::uint8_t* last = p + v.size() - 1;  // a pair must fit in the view
        while (p < last) {
            p = static_cast<const std::uint8_t*>(std::memchr(p, 0xFF, static_cast<std::size_t>(last - p)));
            if (!p) break;
            lastFF = pos + (p - v.data());
            const std::uint8_t next = p[1];
            if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) p += 2;
            else if (next == 0xFF) ++p;
            else return pos + (p - v.data());
        }
        const std::int64_t done = p ? (p - v.data()) : static_cast<std::int64_t>(v.size() - 1);
        pos += done;
    }
}
// Where the bytes after a cut-off scan's last FF stop looking like
// entropy-coded data: at the first run of text or zeros long enough that
// coded data would never hold it.
std::int64_t endOfCodedData(CarveCursor& c, std::int64_t lastFF) {
    constexpr int kRun = 32;
    std::int64_t pos = lastFF + 2, runStart = pos;
    int run = 0;
    for (auto v = c.view(pos); !v.empty(); v = c.view(pos)) {
        for (std::uint8_t b : v) {
            const bool plain = b == 0 || b == '\t' || b == '\n' || b == '\r' || (b >= 0x20 && b < 0x7F);
            if (!plain) run = 0;
            else if (run++ == 0) runStart = pos;
            if (run >= kRun) return runStart;
            ++pos;
        }
    }
    return std::min(c.limit(), (lastFF + 2 + 511) / 512 * 512);
}
}  // namespace

StructureResult checkJpeg(CarveCursor& c) {
    if (c.byte(0) != 0xFF || c.byte(1) != 0xD8) return StructureResult::notMine();
    std::int64_t pos = 2;
    std::int64_t pictureStart = 0;
    bool frameSeen = false, scanSeen = false, multiPicture = false;
    int markers = 0, pictures = 0;
    // Broken before a second marker: random bytes after FF D8 FF, no file.
    auto broken = [&](std::int64_t at) {
        return markers < 2 && pictures == 0 ? StructureResult::notAFile() : StructureResult::truncated(at);
    };
    for (;;) {
        const int ff = c.byte(pos);
        if (ff < 0) return StructureResult::truncated(c.limit());
        if (ff != 0xFF) return broken(pos);
        const std::int64_t markerAt = pos;
        int code = c.byte(pos + 1);
        while (code == 0xFF) code = c.byte(++pos + 1);  // fill bytes before a marker
        if (code < 0) return StructureResult::truncated(c.limit());
        pos += 2;
        ++markers;
        if (code == 0xD9) {
            if (!frameSeen || !scanSeen) return broken(markerAt);
            ++pictures;
            // The next picture of a multi-picture file follows at once.
            if (multiPicture && pictures < kMaxPictures && c.byte(pos) == 0xFF && c.byte(pos + 1) == 0xD8 &&
                c.byte(pos + 2) == 0xFF) {
                pictureStart = pos;
                pos += 2;
                frameSeen = scanSeen = false;
                continue;
            }
            return StructureResult::whole(pos, true);
        }
        if (standalone(code)) continue;
        if (!segment(code)) return broken(markerAt);
        auto length = c.be16(pos);
        if (!length) return StructureResult::truncated(c.limit());
        if (*length < 2) return broken(markerAt);
        if (frame(code)) frameSeen = true;
        if (code == 0xE2 && pictureStart == 0 && c.hasText(pos + 2, "MPF\0")) multiPicture = true;
        pos += *length;
        if (code == 0xDA) {
            if (!frameSeen) return broken(markerAt);
            scanSeen = true;
            std::int64_t lastFF = pos;
            const std::int64_t end = endOfScan(c, pos, lastFF);
            if (end < 0) return StructureResult::truncated(endOfCodedData(c, lastFF));
            pos = end;
        }
    }
}

}  // namespace ondrel
