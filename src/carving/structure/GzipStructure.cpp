// gzip: each member's header, its deflate stream inflated to its end, and the
// CRC-32 and length of what it held; members that follow at once belong to
// the same file.
#include "carving/structure/StructureCheck.h"

#include <zlib.h>

#include <vector>

namespace ondrel {

namespace {
constexpr int kMaxMembers = 4096;
constexpr std::int64_t kMaxNameBytes = 1 << 16;

// Past a zero-terminated field from pos; -1 when it has no end nearby.
std::int64_t pastText(CarveCursor& c, std::int64_t pos) {
    const std::uint8_t zero = 0;
    const std::int64_t end = c.find(pos, pos + kMaxNameBytes, &zero, 1);
    return end < 0 ? -1 : end + 1;
}

// Where the member's deflate data starts; -1 when its header is none.
std::int64_t memberData(CarveCursor& c, std::int64_t pos) {
    std::uint8_t h[10];
    if (!c.read(pos, h, sizeof h) || h[0] != 0x1F || h[1] != 0x8B || h[2] != 8 || (h[3] & 0xE0)) return -1;
    const int flags = h[3];
    std::int64_t at = pos + 10;
    if (flags & 0x04) {
        auto extra = c.le16(at);
        if (!extra) return -1;
        at += 2 + *extra;
    }
    if (flags & 0x08) at = at < 0 ? -1 : pastText(c, at);
    if (at >= 0 && (flags & 0x10)) at = pastText(c, at);
    if (at >= 0 && (flags & 0x02)) at += 2;
    return at;
}

struct Inflate {
    z_stream z{};
    bool ready = false;
    Inflate() { ready = inflateInit2(&z, -MAX_WBITS) == Z_OK; }
    ~Inflate() {
        if (ready) inflateEnd(&z);
    }
};

enum class Member { Whole, Broken, Short };

// Inflates the member's data from pos; on Whole, pos is past its trailer.
Member inflateMember(CarveCursor& c, std::int64_t& pos) {
    Inflate inf;
    if (!inf.ready) return Member::Broken;
    std::vector<std::uint8_t> out(64 << 10);
    uLong crc = crc32(0, nullptr, 0);
    std::uint64_t length = 0;
    for (;;) {
        auto v = c.view(pos);
        if (v.empty()) return Member::Short;
        inf.z.next_in = const_cast<Bytef*>(v.data());
        inf.z.avail_in = static_cast<uInt>(std::min<std::size_t>(v.size(), 1u << 30));
        int r = Z_OK;
        while (inf.z.avail_in > 0 && r == Z_OK) {
            inf.z.next_out = out.data();
            inf.z.avail_out = static_cast<uInt>(out.size());
            r = inflate(&inf.z, Z_NO_FLUSH);
            const std::size_t made = out.size() - inf.z.avail_out;
            crc = crc32(crc, out.data(), static_cast<uInt>(made));
            length += made;
            if (r == Z_BUF_ERROR && made > 0) r = Z_OK;
        }
        const std::int64_t used = static_cast<std::int64_t>(v.size()) - inf.z.avail_in;
        pos += used;
        if (r == Z_STREAM_END) break;
        if (r != Z_OK && r != Z_BUF_ERROR) return Member::Broken;
    }
    auto storedCrc = c.le32(pos), storedLength = c.le32(pos + 4);
    if (!storedCrc || !storedLength) return Member::Short;
    if (*storedCrc != static_cast<std::uint32_t>(crc) || *storedLength != static_cast<std::uint32_t>(length)) return Member::Broken;
    pos += 8;
    return Member::Whole;
}
}  // namespace

StructureResult checkGzip(CarveCursor& c) {
    std::uint8_t h[3];
    if (!c.read(0, h, 3) || h[0] != 0x1F || h[1] != 0x8B || h[2] != 8) return StructureResult::notMine();
    std::int64_t pos = 0;
    for (int n = 0; n < kMaxMembers; ++n) {
        const std::int64_t data = memberData(c, pos);
        if (data < 0) {
            if (n == 0) return StructureResult::notAFile();
            break;  // what follows is no member: the file ended with the last one
        }
        std::int64_t at = data;
        switch (inflateMember(c, at)) {
        case Member::Whole: pos = at; break;
        case Member::Short: return StructureResult::truncated(c.limit());
        case Member::Broken:
            // Bytes that never inflated are no gzip; a stream that broke part way was cut or overwritten.
            if (n == 0 && at - data < 16) return StructureResult::notAFile();
            return StructureResult::truncated(n == 0 ? at : pos);
        }
    }
    return StructureResult::whole(pos, true);
}

}  // namespace ondrel
