// ISO base media files (MP4, MOV, M4A, HEIC, 3GP): ftyp first, then top-level
// boxes by their sizes while their types are ones a file holds at the top;
// the file ends after the last of them. A movie needs its moov (an image file
// its meta) to be whole; the boxes inside moov and meta must fill them
// exactly. The major brand names the kind.
#include "carving/structure/StructureCheck.h"

#include <array>
#include <cstring>
#include <string_view>

namespace ondrel {

namespace {
constexpr std::int64_t kNearEnd = 64 << 10;
constexpr int kMaxBoxes = 1 << 16;

constexpr std::array<std::string_view, 24> kTopLevel{
    "ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "meta", "pdin", "moof", "mfra", "styp",
    "sidx", "ssix", "prft", "emsg", "pnot", "junk", "idat", "PICT", "beam", "mett", "abst", "afra"};

bool topLevel(const char* t) {
    for (std::string_view k : kTopLevel)
        if (std::memcmp(t, k.data(), 4) == 0) return true;
    return false;
}

bool printable(const char* t) {
    for (int i = 0; i < 4; ++i)
        if (static_cast<unsigned char>(t[i]) < 0x20 || static_cast<unsigned char>(t[i]) > 0x7E) return false;
    return true;
}

struct Box {
    std::int64_t size = 0, header = 8;
    char type[4] = {};
};

// The box at pos; size 0 ("to the end of the file") comes back as 0.
std::optional<Box> box(CarveCursor& c, std::int64_t pos) {
    Box b;
    auto size = c.be32(pos);
    if (!size || !c.read(pos + 4, b.type, 4)) return std::nullopt;
    b.size = *size;
    if (*size == 1) {
        auto large = c.be64(pos + 8);
        if (!large || *large > static_cast<std::uint64_t>(kMaxDiskBytes)) return std::nullopt;
        b.size = static_cast<std::int64_t>(*large);
        b.header = 16;
    }
    return b;
}

// The children of a container fill it exactly.
bool filled(CarveCursor& c, std::int64_t pos, std::int64_t end) {
    for (int n = 0; pos < end && n < kMaxBoxes; ++n) {
        auto b = box(c, pos);
        if (!b || !printable(b->type) || b->size < b->header || pos + b->size > end) return false;
        pos += b->size;
    }
    return pos == end;
}

const char* brandExtension(const char* brand) {
    auto is = [&](const char* b) { return std::memcmp(brand, b, 4) == 0; };
    if (is("qt  ")) return "mov";
    if (is("M4A ") || is("M4B ") || is("M4P ")) return "m4a";
    if (is("M4V ") || is("M4VH") || is("M4VP")) return "m4v";
    if (is("heic") || is("heix") || is("hevc") || is("hevx") || is("heim") || is("heis") || is("mif1") || is("msf1"))
        return "heic";
    if (is("avif") || is("avis")) return "avif";
    if (std::memcmp(brand, "3gp", 3) == 0 || std::memcmp(brand, "3gg", 3) == 0) return "3gp";
    if (std::memcmp(brand, "3g2", 3) == 0) return "3g2";
    if (is("crx ")) return "cr3";
    return "mp4";
}
}  // namespace

StructureResult checkIsoMedia(CarveCursor& c) {
    auto first = box(c, 0);
    if (!first || std::memcmp(first->type, "ftyp", 4) != 0) return StructureResult::notMine();
    char brand[4];
    if (first->size < 16 || first->size > 4096 || !c.read(8, brand, 4) || !printable(brand))
        return StructureResult::notAFile();
    const char* extension = brandExtension(brand);
    std::int64_t pos = 0, lastHeader = 0;
    bool movie = false, image = false, lastWalked = false;
    for (int n = 0; n < kMaxBoxes; ++n) {
        if (pos == c.limit()) break;
        auto b = box(c, pos);
        if (!b) return StructureResult::truncated(c.limit(), extension);
        if (!topLevel(b->type)) break;
        if (b->size == 0) return StructureResult::truncated(c.limit(), extension);  // "to the end": no end to find
        if (b->size < b->header) break;
        if (pos + b->size > c.limit()) return StructureResult::truncated(c.limit(), extension);
        const bool isMoov = std::memcmp(b->type, "moov", 4) == 0, isMeta = std::memcmp(b->type, "meta", 4) == 0;
        if (isMoov || isMeta) {
            // meta is a full box: four bytes of version and flags before its children.
            const std::int64_t children = pos + b->header + (isMeta ? 4 : 0);
            if (!filled(c, children, pos + b->size)) return StructureResult::truncated(pos, extension);
            movie |= isMoov;
            image |= isMeta;
        }
        lastHeader = pos;
        lastWalked = isMoov || isMeta;
        pos += b->size;
    }
    if (!movie && !image) return pos > first->size ? StructureResult::truncated(pos, extension) : StructureResult::notAFile();
    // The end is seen when the last box was walked to its end, or its header lies near it.
    return StructureResult::whole(pos, lastWalked || pos - lastHeader <= kNearEnd, extension);
}

}  // namespace ondrel
