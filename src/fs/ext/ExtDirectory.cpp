#include "fs/ext/ExtDirectory.h"

namespace ondrel {

namespace {
std::size_t used(std::size_t nameLength) { return (8 + nameLength + 3) & ~std::size_t(3); }

// A deleted entry in slack: a sane inode, name and record length.
bool plausible(Bytes b, std::size_t at, std::size_t end, const ExtDirOptions& o, ExtDirEntry& e) {
    if (at + 8 > end) return false;
    std::uint32_t inode = le32(b, at);
    std::size_t rec = le16(b, at + 4);
    std::size_t nameLength = o.fileType ? le8(b, at + 6) : le16(b, at + 6);
    std::uint8_t type = o.fileType ? le8(b, at + 7) : 0;
    if (inode == 0 || inode > o.inodeCount || nameLength == 0 || nameLength > 255 || type > 7) return false;
    if (at + 8 + nameLength > end || rec < used(nameLength) || rec % 4 != 0) return false;
    e.inode = inode;
    e.fileType = type;
    e.name.assign(reinterpret_cast<const char*>(b.data() + at + 8), nameLength);
    for (char c : e.name)
        if (c == '\0' || c == '/') return false;
    return true;
}
}  // namespace

void parseDirectoryBlock(Bytes b, const ExtDirOptions& o, const std::function<void(const ExtDirEntry&)>& onEntry) {
    const std::size_t size = b.size();
    std::size_t at = 0;
    bool first = true;
    while (at + 8 <= size) {
        std::uint32_t inode = le32(b, at);
        std::size_t rec = le16(b, at + 4);
        std::size_t nameLength = o.fileType ? le8(b, at + 6) : le16(b, at + 6);
        if (rec < 8 || rec % 4 != 0 || at + rec > size) return;  // the chain is broken here
        ExtDirEntry e;
        bool live = inode != 0 && nameLength > 0 && used(nameLength) <= rec && inode <= o.inodeCount;
        if (live) {
            e.inode = inode;
            e.fileType = o.fileType ? le8(b, at + 7) : 0;
            e.name.assign(reinterpret_cast<const char*>(b.data() + at + 8), nameLength);
            onEntry(e);
        }
        // Slack: past what this entry uses (all of it when the slot is empty).
        // The hash index of an indexed folder lives in the slack of its "..".
        bool indexSlack = o.indexRoot && first == false && at == 12;
        if (o.slack && !indexSlack && !(inode == 0 && rec == size)) {
            std::size_t from = live || nameLength > 0 ? at + used(nameLength) : at + 8;
            if (!live && nameLength > 0 && used(nameLength) <= rec) {
                // A block's first entry, removed: its inode is cleared, its name kept.
                from = at + used(nameLength);
            }
            for (std::size_t s = from; s + 8 <= at + rec;) {
                ExtDirEntry d;
                if (plausible(b, s, at + rec, o, d)) {
                    d.deleted = true;
                    onEntry(d);
                    s += used(d.name.size());
                } else {
                    s += 4;
                }
            }
        }
        first = false;
        at += rec;
    }
}

}  // namespace ondrel
