#include "fs/ext/ExtDirectory.h"

namespace ondrel {

namespace {
std::size_t used(std::size_t nameLength) { return (8 + nameLength + 3) & ~std::size_t(3); }

// A deleted entry in slack: a sane inode, name and record length (the length
// is not asked of an entry whose own record length is what broke the chain).
bool plausible(Bytes b, std::size_t at, std::size_t end, const ExtDirOptions& o, ExtDirEntry& e, bool anyLength = false) {
    if (at + 8 > end) return false;
    std::uint32_t inode = le32(b, at);
    std::size_t rec = le16(b, at + 4);
    std::size_t nameLength = o.fileType ? le8(b, at + 6) : le16(b, at + 6);
    std::uint8_t type = o.fileType ? le8(b, at + 7) : 0;
    if (inode == 0 || inode > o.inodeCount || nameLength == 0 || nameLength > 255 || type > 7) return false;
    if (at + 8 + nameLength > end || (!anyLength && (rec < used(nameLength) || rec % 4 != 0))) return false;
    e.inode = inode;
    e.fileType = type;
    e.name.assign(reinterpret_cast<const char*>(b.data() + at + 8), nameLength);
    for (char c : e.name)
        if (c == '\0' || c == '/') return false;
    return true;
}

// Entries from `from` to end found by their shape, flagged recovered.
void searchEntries(Bytes b, std::size_t from, std::size_t end, const ExtDirOptions& o,
                   const std::function<void(const ExtDirEntry&)>& onEntry, bool anyLength) {
    for (std::size_t s = from; s + 8 <= end;) {
        ExtDirEntry d;
        if (plausible(b, s, end, o, d, anyLength)) {
            d.recovered = true;
            onEntry(d);
            s += used(d.name.size());
        } else {
            s += 4;
        }
    }
}
}  // namespace

ExtDirBlockDamage parseDirectoryBlock(Bytes b, const ExtDirOptions& o, const std::function<void(const ExtDirEntry&)>& onEntry) {
    ExtDirBlockDamage damage;
    const std::size_t size = b.size();
    std::size_t at = 0;
    bool first = true;
    int position = 0;
    while (at + 8 <= size) {
        std::uint32_t inode = le32(b, at);
        std::size_t rec = le16(b, at + 4);
        std::size_t nameLength = o.fileType ? le8(b, at + 6) : le16(b, at + 6);
        if (rec < 8 || rec % 4 != 0 || at + rec > size) {
            // The chain is broken here; the entries behind it are still there
            // (an indexed folder's first block holds its hash index, no names).
            damage.brokenChain = true;
            damage.brokenAt = at;
            if (!o.indexRoot) searchEntries(b, at, size, o, onEntry, true);
            return damage;
        }
        ExtDirEntry e;
        e.position = position++;
        bool live = inode != 0 && nameLength > 0 && used(nameLength) <= rec && inode <= o.inodeCount;
        if (live) {
            e.inode = inode;
            e.fileType = o.fileType ? le8(b, at + 7) : 0;
            e.name.assign(reinterpret_cast<const char*>(b.data() + at + 8), nameLength);
            onEntry(e);
        }
        // A "." that covers more than itself hides live entries, not deleted ones:
        // ext never widens it.
        bool dotSwallows = live && at == 0 && e.name == "." && rec > used(1) && !o.indexRoot;
        if (dotSwallows) {
            damage.dotCoversBlock = true;
            searchEntries(b, at + used(1), at + rec, o, onEntry, false);
            at += rec;
            first = false;
            continue;
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
    return damage;
}

}  // namespace ondrel
