// RIFF (WAV, AVI, WebP and the rest): the form's size, and its chunks walked
// to it. When the last chunk header read lies near the form's end, the end is
// verified (an AVI's index); a WAV whose data chunk is last is not.
#include "carving/structure/StructureCheck.h"

namespace ondrel {

namespace {
constexpr std::int64_t kNearEnd = 64 << 10;
constexpr int kMaxChunks = 1 << 16;

bool fourCc(const std::uint8_t* b) {
    for (int i = 0; i < 4; ++i)
        if (b[i] < 0x20 || b[i] > 0x7E) return false;
    return true;
}
}  // namespace

StructureResult checkRiff(CarveCursor& c) {
    std::uint8_t h[12];
    if (!c.read(0, h, sizeof h) || h[0] != 'R' || h[1] != 'I' || h[2] != 'F' || h[3] != 'F')
        return StructureResult::notMine();
    const std::uint32_t size = static_cast<std::uint32_t>(h[4] | h[5] << 8 | h[6] << 16) | static_cast<std::uint32_t>(h[7]) << 24;
    if (!fourCc(h + 8) || size < 4) return StructureResult::notAFile();
    const std::int64_t end = 8 + static_cast<std::int64_t>(size);
    std::int64_t pos = 12, lastHeader = 0;
    for (int n = 0; pos + 8 <= end && n < kMaxChunks; ++n) {
        std::uint8_t ch[8];
        if (!c.read(pos, ch, sizeof ch)) return StructureResult::truncated(c.limit());
        const std::uint32_t length = static_cast<std::uint32_t>(ch[4] | ch[5] << 8 | ch[6] << 16) | static_cast<std::uint32_t>(ch[7]) << 24;
        if (!fourCc(ch)) return n == 0 ? StructureResult::notAFile() : StructureResult::truncated(pos);
        lastHeader = pos;
        pos += 8 + static_cast<std::int64_t>(length) + (length & 1);
    }
    // Writers differ on the pad byte of a last odd chunk: the form's size decides.
    if (lastHeader == 0) return StructureResult::notAFile();
    // A chunk that runs past the form is damaged: what lies before it holds.
    if (pos > end + 1) return StructureResult::truncated(std::min(lastHeader, c.limit()));
    if (pos < end) return StructureResult::truncated(std::min(pos, c.limit()));
    if (end > c.limit()) return StructureResult::truncated(c.limit());
    return StructureResult::whole(end, end - lastHeader <= kNearEnd);
}

}  // namespace ondrel
