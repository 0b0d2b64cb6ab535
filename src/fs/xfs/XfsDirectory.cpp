#include "fs/xfs/XfsDirectory.h"

namespace ondrel {

namespace {
constexpr std::uint32_t kBlock2 = 0x58443242, kBlock3 = 0x58444233;  // "XD2B", "XDB3"
constexpr std::uint32_t kData2 = 0x58443244, kData3 = 0x58444433;    // "XD2D", "XDD3"

bool dotted(const std::string& n) { return n == "." || n == ".."; }

std::size_t entrySize(std::size_t nameLength, bool ftype) { return (8 + 1 + nameLength + (ftype ? 1 : 0) + 2 + 7) / 8 * 8; }

// Removed entries inside the unused space [from, to) of a data block. XFS
// frees an entry by writing a free tag and a length over the start of its
// inode number (when no free space lies before it) and a tag at its end; the
// name between stays until the space is used again.
void removedEntries(Bytes b, std::size_t from, std::size_t to, bool ftype, std::vector<XfsDirEntry>& out) {
    for (std::size_t at = from; at + 16 <= to; at += 8) {
        const std::size_t len = b[at + 8];
        if (len == 0) continue;
        const std::size_t size = entrySize(len, ftype);
        if (at + size > to || be16(b, at + size - 2) != at) continue;
        const std::uint8_t type = ftype ? b[at + 9 + len] : 0;
        if (ftype && (type < 1 || type > 7)) continue;
        std::string name(reinterpret_cast<const char*>(b.data() + at + 9), len);
        if (name.find('\0') != std::string::npos || name.find('/') != std::string::npos || dotted(name)) continue;
        XfsDirEntry e;
        e.name = std::move(name);
        e.inode = at == from ? be32(b, at + 4) : be64(b, at);
        e.fileType = type;
        e.deleted = true;
        out.push_back(std::move(e));
        at += size - 8;
    }
}
}  // namespace

bool xfsShortFormEntries(Bytes f, bool ftype, std::vector<XfsDirEntry>& out, std::uint64_t& parent, std::string& message) {
    if (f.size() < 6) {
        message = "a short-form directory has no header";
        return false;
    }
    const std::size_t count = f[0], wide = f[1];
    const std::size_t inoBytes = wide ? 8 : 4;
    auto inodeAt = [&](std::size_t at) { return wide ? be64(f, at) : be32(f, at); };
    parent = inodeAt(2);
    std::size_t at = 2 + inoBytes;
    for (std::size_t i = 0; i < count; ++i) {
        if (at + 3 > f.size()) {
            message = "a short-form directory's entries run past its fork";
            return false;
        }
        const std::size_t len = f[at];
        const std::size_t size = 3 + len + (ftype ? 1 : 0) + inoBytes;
        if (len == 0 || at + size > f.size()) {
            message = "a short-form directory's entries run past its fork";
            return false;
        }
        XfsDirEntry e;
        e.name.assign(reinterpret_cast<const char*>(f.data() + at + 3), len);
        e.fileType = ftype ? f[at + 3 + len] : 0;
        e.inode = inodeAt(at + 3 + len + (ftype ? 1 : 0));
        if (!dotted(e.name)) out.push_back(std::move(e));
        at += size;
    }
    return true;
}

bool xfsDataBlockEntries(Bytes b, const XfsSuperblock& sb, std::vector<XfsDirEntry>& out, bool& checksumOk, std::string& message) {
    const std::uint32_t magic = be32(b, 0);
    const bool v3 = magic == kBlock3 || magic == kData3, block = magic == kBlock2 || magic == kBlock3;
    if (!v3 && !block && magic != kData2) {
        message = "a directory block has no directory magic";
        return false;
    }
    checksumOk = !v3 || xfsChecksumOk(b, 4);
    std::size_t at = v3 ? 64 : 16, end = b.size();
    if (block) {
        // The block form keeps its hash entries and a tail at the end.
        const std::uint64_t leaves = be32(b, b.size() - 8);
        if (leaves * 8 + 8 > b.size() - at) {
            message = "a directory block states more hash entries than it holds";
            return false;
        }
        end = b.size() - 8 - static_cast<std::size_t>(leaves) * 8;
    }
    const bool ftype = sb.hasFtype();
    while (at + 8 <= end) {
        if (be16(b, at) == 0xffff) {
            // Unused space: its length, a multiple of 8.
            const std::size_t len = be16(b, at + 2);
            if (len < 8 || len % 8 || at + len > end) {
                message = "a directory block's free space runs past it";
                return false;
            }
            removedEntries(b, at, at + len, ftype, out);
            at += len;
            continue;
        }
        const std::size_t len = b[at + 8];
        const std::size_t size = entrySize(len, ftype);
        if (len == 0 || at + size > end) {
            message = "a directory block's entries run past it";
            return false;
        }
        XfsDirEntry e;
        e.inode = be64(b, at);
        e.name.assign(reinterpret_cast<const char*>(b.data() + at + 9), len);
        e.fileType = ftype ? b[at + 9 + len] : 0;
        if (!dotted(e.name)) out.push_back(std::move(e));
        at += size;
    }
    return true;
}

}  // namespace ondrel
