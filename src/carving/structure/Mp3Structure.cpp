// MP3: an ID3v2 tag skipped by its size, then MPEG audio frames walked by
// their lengths while each header agrees with the first (version, layer,
// sample rate), then an ID3v1 tag. A file with no ID3v2 tag must show several
// frames in a row before it counts. A Xing or Info header that states the
// stream's bytes makes a shorter walk a truncated file.
#include "carving/structure/StructureCheck.h"

namespace ondrel {

namespace {
constexpr int kFramesWithoutTag = 6;
constexpr std::int64_t kMaxPadding = 64 << 10;  // zeros some taggers leave after the tag

struct Frame {
    int version = 0, layer = 0, rate = 0;  // version: 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5; layer: 3 = Layer I .. 1 = Layer III
    std::int64_t length = 0;
    bool mono = false;
};

std::optional<Frame> frameAt(const std::uint8_t* h) {
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return std::nullopt;
    Frame f;
    f.version = (h[1] >> 3) & 3;
    f.layer = (h[1] >> 1) & 3;
    const int bitrateIndex = h[2] >> 4, rateIndex = (h[2] >> 2) & 3, padding = (h[2] >> 1) & 1;
    if (f.version == 1 || f.layer == 0 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) return std::nullopt;
    static const int kBitrates[2][3][15] = {
        // MPEG-1: Layer III, II, I
        {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448}},
        // MPEG-2 and 2.5: Layer III, II, I
        {{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256}}};
    static const int kRates[3] = {44100, 48000, 32000};
    const bool mpeg1 = f.version == 3;
    const int bitrate = kBitrates[mpeg1 ? 0 : 1][f.layer - 1][bitrateIndex] * 1000;
    f.rate = kRates[rateIndex] >> (mpeg1 ? 0 : f.version == 2 ? 1 : 2);
    if (f.layer == 3) f.length = (12 * bitrate / f.rate + padding) * 4;
    else if (f.layer == 1 && !mpeg1) f.length = 72 * bitrate / f.rate + padding;
    else f.length = 144 * bitrate / f.rate + padding;
    f.mono = (h[3] >> 6) == 3;
    return f.length >= 4 ? std::optional<Frame>(f) : std::nullopt;
}

// The audio bytes a Xing or Info header in the first frame states; 0 when none.
std::int64_t statedBytes(CarveCursor& c, std::int64_t frame, const Frame& f) {
    const std::int64_t side = f.version == 3 ? (f.mono ? 17 : 32) : (f.mono ? 9 : 17);
    const std::int64_t at = frame + 4 + side;
    if (!c.hasText(at, "Xing") && !c.hasText(at, "Info")) return 0;
    auto flags = c.be32(at + 4);
    if (!flags || !(*flags & 2)) return 0;
    auto bytes = c.be32(at + 8 + ((*flags & 1) ? 4 : 0));
    return bytes ? static_cast<std::int64_t>(*bytes) : 0;
}
}  // namespace

StructureResult checkMp3(CarveCursor& c) {
    std::int64_t pos = 0;
    const bool tagged = c.hasText(0, "ID3");
    if (tagged) {
        std::uint8_t h[10];
        if (!c.read(0, h, sizeof h)) return StructureResult::notAFile();
        if (h[3] < 2 || h[3] > 4 || h[4] == 0xFF || ((h[6] | h[7] | h[8] | h[9]) & 0x80)) return StructureResult::notAFile();
        const std::int64_t size = static_cast<std::int64_t>(h[6]) << 21 | h[7] << 14 | h[8] << 7 | h[9];
        pos = 10 + size + ((h[5] & 0x10) ? 10 : 0);
        for (const std::int64_t stop = pos + kMaxPadding; pos < stop && c.byte(pos) == 0;) ++pos;
    } else {
        std::uint8_t h[4];
        if (!c.read(0, h, 4)) return StructureResult::notMine();
        // A frame sync with a header no encoder writes is no MP3 at all.
        if (!frameAt(h)) return h[0] == 0xFF && (h[1] & 0xE0) == 0xE0 ? StructureResult::notAFile() : StructureResult::notMine();
    }
    const std::int64_t audio = pos;
    std::optional<Frame> first;
    int frames = 0;
    for (;;) {
        std::uint8_t h[4];
        if (!c.read(pos, h, 4)) {
            if (frames > 0) break;  // the last frame ends at, or just before, the limit
            return tagged ? StructureResult::truncated(c.limit()) : StructureResult::notAFile();
        }
        auto f = frameAt(h);
        if (!f || (first && (f->version != first->version || f->layer != first->layer || f->rate != first->rate))) break;
        if (!first) first = f;
        if (pos + f->length > c.limit()) return StructureResult::truncated(c.limit());
        pos += f->length;
        ++frames;
    }
    if (frames == 0) return tagged ? StructureResult::truncated(audio) : StructureResult::notAFile();
    if (!tagged && frames < kFramesWithoutTag) return StructureResult::notAFile();
    const std::int64_t stated = statedBytes(c, audio, *first);
    // Encoders differ on whether the stated bytes count the ID3v2 tag: only more than the whole walk is missing.
    if (stated > pos + first->length) return StructureResult::truncated(pos);
    if (c.hasText(pos, "TAG")) pos += 128;
    if (pos > c.limit()) return StructureResult::truncated(c.limit());
    return StructureResult::whole(pos, true);
}

}  // namespace ondrel
