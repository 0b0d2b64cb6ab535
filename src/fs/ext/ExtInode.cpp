#include "fs/ext/ExtInode.h"

#include <cstring>

namespace ondrel {

namespace {
// The in-inode extended attributes after i_extra_isize: the value of
// "system.data" (name index 7, name "data"), bounded to the inode.
std::vector<std::uint8_t> systemData(Bytes raw) {
    if (raw.size() <= 0x80 + 2) return {};
    std::size_t extra = le16(raw, 0x80);
    std::size_t header = 0x80 + extra;
    if (extra < 4 || extra % 4 != 0 || header + 4 > raw.size() || le32(raw, header) != 0xEA020000) return {};
    std::size_t first = header + 4;
    for (std::size_t e = first; e + 16 <= raw.size();) {
        std::uint8_t nameLen = le8(raw, e);
        std::uint8_t index = le8(raw, e + 1);
        if (nameLen == 0 && index == 0) break;  // the end of the entries
        std::size_t valueOffset = le16(raw, e + 2), valueSize = le32(raw, e + 8);
        if (e + 16 + nameLen > raw.size()) break;
        if (index == 7 && nameLen == 4 && std::memcmp(raw.data() + e + 16, "data", 4) == 0 && le32(raw, e + 4) == 0) {
            if (first + valueOffset + valueSize > raw.size()) return {};
            return std::vector<std::uint8_t>(raw.data() + first + valueOffset, raw.data() + first + valueOffset + valueSize);
        }
        e += (16 + nameLen + 3) & ~std::size_t(3);
    }
    return {};
}
}  // namespace

ExtInode decodeInode(Bytes raw) {
    ExtInode n;
    if (raw.size() < 128) return n;
    n.mode = le16(raw, 0x00);
    n.size = le32(raw, 0x04) | static_cast<std::uint64_t>(le32(raw, 0x6C)) << 32;
    n.atime = le32(raw, 0x08);
    n.ctime = le32(raw, 0x0C);
    n.mtime = le32(raw, 0x10);
    n.dtime = le32(raw, 0x14);
    n.links = le16(raw, 0x1A);
    n.blockCountLo = le32(raw, 0x1C);
    n.flags = le32(raw, 0x20);
    std::memcpy(n.block.data(), raw.data() + 0x28, 60);
    if (n.hasInlineData()) n.inlineTail = systemData(raw);
    return n;
}

}  // namespace ondrel
