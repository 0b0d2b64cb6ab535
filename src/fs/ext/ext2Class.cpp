#include "fs/ext/ext2Class.h"

#include "fs/ext/ExtDirectory.h"
#include "fs/ext/ExtJournal.h"
#include "volumes/SectorSweep.h"

#include <algorithm>
#include <cstdio>

namespace ondrel {

namespace {
constexpr std::size_t kCachedTableBlocks = 4096;
constexpr std::uint64_t kReadChunk = 4ull << 20;
constexpr std::uint64_t kMaxFileBytes = 1ull << 44;  // ext4's largest file (16 TiB)
constexpr std::uint64_t kMaxFolderBlocks = 1u << 20;  // a folder of 4 GiB in 4 KiB blocks
}  // namespace

ext2Class::ext2Class(const ByteSource& r, VolumeRecord v)
    : observer_(&silentObserver()), control_(&ownControl_), reader_(r), volume_(std::move(v)) {}

void ext2Class::rename(std::int32_t index, const std::string& name) {
    if (index > 0 && index < static_cast<std::int32_t>(records_.size())) records_[static_cast<std::size_t>(index)].name = name;
}

bool ext2Class::findSuperblock(std::string& reason) {
    const std::int64_t limit = reader_.size();
    std::vector<std::uint8_t> sb(1024);
    if (reader_.readAt(1024, sb.data(), 1024) && readExtSuperblock(Bytes(sb), 1024, limit, geometry_, reason)) return true;
    // The primary is gone: a backup starts a later group (1, 3, 5, 7, 9, 25, ...),
    // where its block group number puts it.
    bool found = false;
    SweepOptions o;
    o.begin = 2048;
    o.end = limit;
    o.stride = 512;
    o.window = 1024;
    observer_->status("searching for a backup superblock....");
    sweepRange(reader_, o, *observer_, *control_, [&](const std::uint8_t* s, std::int64_t p) -> std::int64_t {
        if (s[0x38] != 0x53 || s[0x39] != 0xEF) return 0;
        ExtGeometry g;
        std::string ignored;
        if (!readExtSuperblock(Bytes(s, 1024), p, limit, g, ignored)) return 0;
        std::uint64_t group = le16(Bytes(s, 1024), 0x5A);
        if (group == 0 || g.blockOffset(group * g.blocksPerGroup + g.firstDataBlock) != p) return 0;
        geometry_ = g;
        found = true;
        return kEndSweep;
    });
    if (!found) reason = "No ext superblock was found in this volume, neither the first nor a backup.";
    else observer_->status("The first superblock is damaged; reading the backup at byte " +
                           std::to_string(geometry_.superblockOffset) + "....");
    return found;
}

bool ext2Class::readGroupDescriptors(std::string& reason) {
    const ExtGeometry& g = geometry_;
    const std::uint64_t perBlock = g.blockSize / g.descSize;
    const std::uint64_t table = static_cast<std::uint64_t>(g.superblockOffset) / g.blockSize + 1;
    groups_.assign(g.groupCount, ExtGroupDescriptor{});
    std::vector<std::uint8_t> block;
    for (std::uint64_t i = 0; i * perBlock < g.groupCount; ++i) {
        std::uint64_t at = table + i;
        if (g.metaBg() && i >= g.firstMetaBg) {
            // Later descriptor blocks sit in their meta group's first group,
            // after its superblock copy when it has one.
            std::uint64_t group = i * perBlock;
            at = group * g.blocksPerGroup + g.firstDataBlock + (g.hasSuperblockCopy(group) ? 1 : 0);
        }
        if (!readBlock(at, block)) {
            if (i == 0) {
                reason = "The group descriptors of this ext volume cannot be read.";
                return false;
            }
            damage_.push_back("A block of group descriptors cannot be read: the inodes of groups " +
                              std::to_string(i * perBlock) + " on are lost.");
            break;
        }
        Bytes b(block);
        for (std::uint64_t k = 0; k < perBlock && i * perBlock + k < g.groupCount; ++k)
            groups_[static_cast<std::size_t>(i * perBlock + k)] =
                parseExtGroupDescriptor(b.subspan(static_cast<std::size_t>(k * g.descSize), g.descSize), g.descSize);
    }
    return true;
}

bool ext2Class::readBlock(std::uint64_t block, std::vector<std::uint8_t>& out) {
    out.assign(geometry_.blockSize, 0);
    if (block >= geometry_.blockCount) return false;
    return reader_.readAt(geometry_.blockOffset(block), out.data(), geometry_.blockSize);
}

bool ext2Class::readInode(std::uint32_t number, ExtInode& out) {
    const ExtGeometry& g = geometry_;
    if (number == 0 || number > g.inodeCount) return false;
    std::uint32_t group = (number - 1) / g.inodesPerGroup, index = (number - 1) % g.inodesPerGroup;
    if (group >= groups_.size() || groups_[group].inodeTable == 0) return false;
    std::uint64_t byte = groups_[group].inodeTable * g.blockSize + static_cast<std::uint64_t>(index) * g.inodeSize;
    std::uint64_t block = byte / g.blockSize;
    auto it = tableBlocks_.find(block);
    if (it == tableBlocks_.end()) {
        std::vector<std::uint8_t> data;
        if (!readBlock(block, data)) return false;
        if (tableBlocks_.size() >= kCachedTableBlocks) tableBlocks_.clear();
        it = tableBlocks_.emplace(block, std::move(data)).first;
    }
    out = decodeInode(Bytes(it->second).subspan(static_cast<std::size_t>(byte % g.blockSize), g.inodeSize));
    sanitizeFlags(number, out);
    return true;
}

void ext2Class::sanitizeFlags(std::uint32_t number, ExtInode& n) {
    // Flags for features the volume does not have (or whose data is not
    // there) are damage: the inode is read as the volume's own kind.
    constexpr std::uint32_t kIndex = 0x1000, kExtents = 0x80000, kInline = 0x10000000;
    std::uint32_t dropped = 0;
    if ((n.flags & kInline) && !geometry_.inlineData()) dropped |= kInline;
    if ((n.flags & kExtents) && (!geometry_.extents() || le16(Bytes(n.block), 0) != 0xF30A)) dropped |= kExtents;
    if ((n.flags & kIndex) && !geometry_.dirIndex()) dropped |= kIndex;
    if (dropped == 0) return;
    n.flags &= ~dropped;
    if (!(n.flags & kInline)) n.inlineTail.clear();
    if (n.inUse() && badFlagsNoted_.insert(number).second) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "Inode %u has flags (0x%08x) for features this volume does not use; it is read without them.",
                      number, static_cast<unsigned>(dropped));
        damage_.push_back(text);
    }
}

void ext2Class::forEachFolderBlock(const ExtInode& dir, std::uint32_t number, std::int32_t dirIndex,
                                   const std::function<void(Bytes, bool)>& onBlock) {
    if (dir.hasInlineData()) {
        // The parent's number, then entries; more in "system.data".
        onBlock(Bytes(dir.block).subspan(4), true);
        if (!dir.inlineTail.empty()) onBlock(Bytes(dir.inlineTail), false);
        return;
    }
    std::uint64_t blocks = std::min<std::uint64_t>((dir.size + geometry_.blockSize - 1) / geometry_.blockSize, kMaxFolderBlocks);
    std::vector<ExtRun> runs;
    std::string problem;
    ExtBlockMapper mapper(geometry_, [this](std::uint64_t b, std::vector<std::uint8_t>& out) { return readBlock(b, out); });
    if (!mapper.map(dir, blocks, runs, problem))
        damage_.push_back("Folder inode " + std::to_string(number) + ": " + problem + "; its entries may be incomplete.");
    std::vector<std::uint8_t> data;
    bool first = true;
    for (const ExtRun& r : runs) {
        if (r.zeros) continue;
        for (std::uint64_t k = 0; k < r.count; ++k) {
            if (control_->poll()) return;
            std::uint64_t b = r.physical + k;
            bool isFirst = first && r.logical + k == 0;
            first = false;
            // A block already read for another folder is not read again: a
            // cross-linked folder cannot make the walk go round.
            if (!folderBlocksRead_.emplace(b, dirIndex).second) continue;
            if (!readBlock(b, data)) {
                damage_.push_back("A block of folder inode " + std::to_string(number) + " cannot be read.");
                continue;
            }
            onBlock(Bytes(data), isFirst);
        }
    }
}

void ext2Class::walk() {
    records_.clear();
    folderBlocksRead_.clear();
    journalInodes_.clear();
    ExtInodeRecord root;
    root.name = "ROOT";
    root.number = 1;
    root.mode = 0x4000;
    records_.push_back(root);
    std::unordered_set<std::uint32_t> walked{2};
    struct Folder {
        std::int32_t record;
        std::uint32_t inode, parentInode;
    };
    std::vector<Folder> stack{{0, 2, 2}};
    std::uint64_t folders = 0;
    observer_->progressRange(0, geometry_.inodeCount);
    while (!stack.empty()) {
        if (control_->poll()) break;
        const std::int32_t dirIndex = stack.back().record;
        const std::uint32_t number = stack.back().inode, parentInode = stack.back().parentInode;
        stack.pop_back();
        ExtInode dir;
        if (!readInode(number, dir)) {
            damage_.push_back("Folder inode " + std::to_string(number) + " cannot be read.");
            continue;
        }
        if (!dir.isDirectory()) continue;
        if ((++folders & 63) == 1) {
            char text[96];
            std::snprintf(text, sizeof text, "parsing inode entry %u  of %u ", number, geometry_.inodeCount);
            observer_->status(text);
            observer_->progressPosition(number);
        }
        ExtDirOptions o;
        o.fileType = geometry_.fileType();
        o.inodeCount = geometry_.inodeCount;
        std::vector<Folder> found;
        forEachFolderBlock(dir, number, dirIndex, [&](Bytes block, bool first) {
            o.indexRoot = first && dir.isHashIndexed();
            const bool links = first && !dir.hasInlineData();  // where "." and ".." stand
            ExtDirBlockDamage damage = parseDirectoryBlock(block, o, [&](const ExtDirEntry& e) {
                // The folder's own links, first and second in its first block;
                // a name "." or ".." anywhere else is an entry like any other.
                if (links && !e.deleted && !e.recovered &&
                    ((e.position == 0 && e.name == ".") || (e.position == 1 && e.name == "..")))
                    return;
                // Found behind a "." that covers its block: the links are the ones that name this folder and its parent.
                if (links && e.recovered && ((e.name == "." && e.inode == number) || (e.name == ".." && e.inode == parentInode)))
                    return;
                ExtInode n;
                bool readable = readInode(e.inode, n);
                // A deleted name whose inode is in use again names another file now.
                if (e.deleted && (!readable || n.inUse())) return;
                ExtInodeRecord r;
                r.name = e.name;
                r.number = e.inode - 1;
                r.parentIndex = dirIndex;
                r.ownIndex = static_cast<std::int32_t>(records_.size());
                // An entry found where live ones belong lives while its inode does.
                r.deleted = e.recovered ? !(readable && n.inUse()) : e.deleted;
                if (readable) {
                    r.mode = n.mode;
                    r.size = n.size;
                    r.atime = n.atime;
                    r.ctime = n.ctime;
                    r.mtime = n.mtime;
                } else {
                    r.mode = e.fileType == 2 ? 0x4000 : 0x8000;
                }
                records_.push_back(r);
                if (r.isDirectory() && walked.insert(e.inode).second) found.push_back({r.ownIndex, e.inode, number});
            });
            if (damage.dotCoversBlock)
                damage_.push_back("Folder inode " + std::to_string(number) +
                                  ": its \".\" record covers the whole block; the entries behind it are listed as found there.");
            if (damage.brokenChain)
                damage_.push_back("Folder inode " + std::to_string(number) + ": a record length at byte " +
                                  std::to_string(damage.brokenAt) +
                                  " of a folder block leads nowhere; the entries after it are listed as found there.");
        });
        for (auto it = found.rbegin(); it != found.rend(); ++it) stack.push_back(*it);
    }
}

bool ext2Class::scanStandard(std::string& failure) {
    damage_.clear();
    badFlagsNoted_.clear();
    tableBlocks_.clear();
    if (!findSuperblock(failure) || !readGroupDescriptors(failure)) return false;
    char features[200];
    if (std::uint32_t unknown = geometry_.unknownIncompat()) {
        std::snprintf(features, sizeof features,
                      "The volume uses incompatible features Ondrel does not know (0x%08x): what is listed may be wrong.",
                      static_cast<unsigned>(unknown));
        damage_.push_back(features);
    }
    if (std::uint32_t unreadable = geometry_.unreadableIncompat()) {
        std::snprintf(features, sizeof features,
                      "The volume uses features Ondrel cannot read (0x%08x: compression, directory data or encrypted "
                      "names): names and contents may be wrong.",
                      static_cast<unsigned>(unreadable));
        damage_.push_back(features);
    }
    char text[96];
    std::snprintf(text, sizeof text, "parsing group %u  of %u ", geometry_.groupCount, geometry_.groupCount);
    observer_->status(text);
    walk();
    ExtInode root;
    if (records_.size() == 1 && (!readInode(2, root) || !root.isDirectory())) {
        failure = "The root folder (inode 2) of this ext volume cannot be read.";
        return false;
    }
    linkTree(-1);
    return true;
}

void ext2Class::linkTree(std::int32_t orphan) {
    observer_->status("Maintaining Parent Child....");
    std::vector<EntryTree::Index> parentOf(records_.size(), EntryTree::kOutside);
    for (std::size_t i = 1; i < records_.size(); ++i)
        if (static_cast<std::int32_t>(i) != orphan) parentOf[i] = records_[i].parentIndex;
    tree_.build(parentOf, 0, orphan >= 0 ? orphan : EntryTree::kNone);
    observer_->status("filling root entries in  tree....");
    observer_->progressPosition(geometry_.inodeCount);
}

bool ext2Class::dataRuns(const ExtInode& inode, std::vector<ExtRun>& runs) {
    std::string problem;
    ExtBlockMapper mapper(geometry_, [this](std::uint64_t b, std::vector<std::uint8_t>& out) { return readBlock(b, out); });
    std::uint64_t blocks = (std::min<std::uint64_t>(inode.size, 1ull << 44) + geometry_.blockSize - 1) / geometry_.blockSize;
    return mapper.map(inode, blocks, runs, problem);
}

std::int64_t ext2Class::journalOffset() {
    ExtInode j;
    std::vector<ExtRun> runs;
    if (!readInode(8, j) || !j.inUse() || j.size == 0 || !dataRuns(j, runs) || runs.empty() || runs[0].logical != 0) return -1;
    return geometry_.blockOffset(runs[0].physical);
}

bool ext2Class::scanJournal(std::string& failure) {
    if (!scanStandard(failure)) return false;
    observer_->status("reading the journal....");
    ExtInode j;
    std::vector<ExtRun> runs;
    if (!readInode(8, j) || !j.inUse() || j.size == 0 || !dataRuns(j, runs)) {
        failure = "This volume has no journal (ext2?): the journal mode reads the journal of ext3 and ext4 volumes.";
        return false;
    }
    const std::uint64_t journalBlocks = std::min<std::uint64_t>(j.size / geometry_.blockSize, 1u << 22);
    auto physical = [&](std::uint64_t jb) -> std::uint64_t {
        for (const ExtRun& r : runs)
            if (jb >= r.logical && jb < r.logical + r.count && !r.zeros) return r.physical + (jb - r.logical);
        return 0;
    };
    auto readJournalBlock = [&](std::uint64_t jb, std::vector<std::uint8_t>& out) {
        std::uint64_t p = physical(jb);
        return p != 0 && readBlock(p, out);
    };
    std::vector<JournalCopy> copies;
    if (!readJournalCopies(geometry_.blockSize, journalBlocks, readJournalBlock, copies, failure)) {
        failure = "The journal of this volume cannot be read: " + failure + ".";
        return false;
    }
    // Inode-table blocks by their first block, to tell what a copy is a copy of.
    const ExtGeometry& g = geometry_;
    const std::uint64_t tableBlocks = (static_cast<std::uint64_t>(g.inodesPerGroup) * g.inodeSize + g.blockSize - 1) / g.blockSize;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> tables;  // first block, group
    for (std::uint32_t grp = 0; grp < groups_.size(); ++grp)
        if (groups_[grp].inodeTable != 0) tables.push_back({groups_[grp].inodeTable, grp});
    std::sort(tables.begin(), tables.end());
    std::unordered_map<std::uint32_t, std::uint32_t> newest;  // inode -> sequence of the copy kept
    struct Name {
        std::string name;
        std::int32_t parent;
        std::uint32_t sequence;
    };
    std::unordered_map<std::uint32_t, Name> names;
    std::vector<std::uint8_t> data;
    ExtDirOptions o;
    o.fileType = g.fileType();
    o.inodeCount = g.inodeCount;
    for (const JournalCopy& c : copies) {
        if (control_->poll()) break;
        auto it = std::upper_bound(tables.begin(), tables.end(), std::make_pair(c.fsBlock, UINT32_MAX));
        bool inTable = it != tables.begin() && c.fsBlock < std::prev(it)->first + tableBlocks;
        auto owner = folderBlocksRead_.find(c.fsBlock);
        if (!inTable && owner == folderBlocksRead_.end()) continue;
        if (!readJournalBlock(c.journalBlock, data)) continue;
        if (c.escaped) {
            data[0] = 0xC0, data[1] = 0x3B, data[2] = 0x39, data[3] = 0x98;
        }
        if (inTable) {
            const auto& [start, group] = *std::prev(it);
            std::uint64_t firstInode = static_cast<std::uint64_t>(group) * g.inodesPerGroup +
                                       (c.fsBlock - start) * (g.blockSize / g.inodeSize) + 1;
            for (std::uint32_t k = 0; k < g.blockSize / g.inodeSize; ++k) {
                std::uint64_t n = firstInode + k;
                if (n > g.inodeCount || n < 12) continue;
                ExtInode copy = decodeInode(Bytes(data).subspan(static_cast<std::size_t>(k) * g.inodeSize, g.inodeSize));
                if (!copy.isRegular() || copy.links == 0 || copy.size == 0) continue;
                auto kept = newest.find(static_cast<std::uint32_t>(n));
                if (kept != newest.end() && static_cast<std::int32_t>(c.sequence - kept->second) <= 0) continue;
                ExtInode now;
                if (!readInode(static_cast<std::uint32_t>(n), now) || now.inUse()) continue;
                std::vector<ExtRun> mapped;
                if (!copy.hasInlineData() && (!dataRuns(copy, mapped) || mapped.empty())) continue;
                newest[static_cast<std::uint32_t>(n)] = c.sequence;
                journalInodes_[static_cast<std::uint32_t>(n)] = copy;
            }
        } else {
            std::int32_t parent = owner->second;
            parseDirectoryBlock(Bytes(data), o, [&](const ExtDirEntry& e) {
                if (e.name == "." || e.name == "..") return;
                auto n = names.find(e.inode);
                if (n == names.end() || static_cast<std::int32_t>(c.sequence - n->second.sequence) > 0)
                    names[e.inode] = {e.name, parent, c.sequence};
            });
        }
    }
    // Deleted inodes brought back: a name left in the live tree takes the
    // copy; else a journalled name; else "inode_<N>" under "ORPHAN_ENTRY".
    std::unordered_map<std::uint32_t, std::int32_t> listed;
    for (const ExtInodeRecord& r : records_)
        if (r.deleted) listed[r.number + 1] = r.ownIndex;
    std::int32_t orphan = -1;
    std::vector<std::uint32_t> found;
    for (const auto& [n, copy] : journalInodes_) found.push_back(n);
    std::sort(found.begin(), found.end());
    for (std::uint32_t n : found) {
        const ExtInode& copy = journalInodes_[n];
        std::int32_t index;
        if (auto l = listed.find(n); l != listed.end()) {
            index = l->second;
        } else {
            ExtInodeRecord r;
            r.number = n - 1;
            r.deleted = true;
            if (auto nm = names.find(n); nm != names.end()) {
                r.name = nm->second.name;
                r.parentIndex = nm->second.parent;
            } else {
                if (orphan < 0) {
                    ExtInodeRecord o;
                    o.name = "ORPHAN_ENTRY";
                    o.mode = 0x4000;
                    o.ownIndex = static_cast<std::int32_t>(records_.size());
                    records_.push_back(o);
                    orphan = o.ownIndex;
                }
                r.name = "inode_" + std::to_string(n);
                r.parentIndex = orphan;
            }
            r.ownIndex = static_cast<std::int32_t>(records_.size());
            records_.push_back(r);
            index = r.ownIndex;
        }
        ExtInodeRecord& r = records_[static_cast<std::size_t>(index)];
        r.fromJournal = true;
        r.mode = copy.mode;
        r.size = copy.size;
        r.atime = copy.atime;
        r.ctime = copy.ctime;
        r.mtime = copy.mtime;
    }
    char text[96];
    std::snprintf(text, sizeof text, "%zu deleted files found in the journal", found.size());
    observer_->status(text);
    linkTree(orphan);
    return true;
}

bool ext2Class::writeZeros(DataSink& sink, std::uint64_t count) {
    static const std::vector<std::uint8_t> zeros(1 << 20, 0);
    while (count > 0) {
        std::uint64_t n = std::min<std::uint64_t>(count, zeros.size());
        if (!sink.write(zeros.data(), static_cast<std::size_t>(n))) return false;
        count -= n;
    }
    return true;
}

WriteResult ext2Class::extract(const ExtInodeRecord& record, DataSink& sink) {
    ExtInode n;
    if (auto j = journalInodes_.find(record.number + 1); record.fromJournal && j != journalInodes_.end()) n = j->second;
    else if (!readInode(record.number + 1, n)) return WriteResult::ReadFailed;
    if (!n.isRegular() && !n.isSymlink()) return WriteResult::NoData;
    // A file the kernel deleted keeps no size and no blocks.
    if (record.deleted && n.size == 0) return WriteResult::NoData;
    bool complete = n.size <= kMaxFileBytes;
    const std::uint64_t size = std::min(n.size, kMaxFileBytes);
    if (n.isFastSymlink() || n.hasInlineData()) {
        std::vector<std::uint8_t> data(n.block.begin(), n.block.end());
        data.insert(data.end(), n.inlineTail.begin(), n.inlineTail.end());
        std::uint64_t have = std::min<std::uint64_t>(size, data.size());
        if (!sink.write(data.data(), static_cast<std::size_t>(have))) return WriteResult::WriteFailed;
        if (have < size) complete = false;
        return complete ? WriteResult::Written : WriteResult::ReadFailed;
    }
    const std::uint64_t bs = geometry_.blockSize;
    std::vector<ExtRun> runs;
    std::string problem;
    ExtBlockMapper mapper(geometry_, [this](std::uint64_t b, std::vector<std::uint8_t>& out) { return readBlock(b, out); });
    if (!mapper.map(n, (size + bs - 1) / bs, runs, problem)) complete = false;
    if (readBuffer_.size() < kReadChunk) readBuffer_.resize(kReadChunk);
    std::uint64_t pos = 0;
    for (const ExtRun& r : runs) {
        std::uint64_t start = r.logical * bs;
        if (start >= size) break;
        // Holes and unwritten extents read as zeros.
        if (start > pos && !writeZeros(sink, start - pos)) return WriteResult::WriteFailed;
        pos = start;
        std::uint64_t end = std::min(size, (r.logical + r.count) * bs);
        if (r.zeros) {
            if (!writeZeros(sink, end - pos)) return WriteResult::WriteFailed;
            pos = end;
            continue;
        }
        while (pos < end) {
            std::uint64_t n = std::min<std::uint64_t>(end - pos, kReadChunk);
            std::uint64_t from = (r.physical + (pos - start) / bs) * bs + (pos - start) % bs;
            if (!reader_.readAt(static_cast<std::int64_t>(from), readBuffer_.data(), static_cast<std::uint32_t>(n))) {
                // An unreadable block is zeros in its place, and the file counts as failed.
                std::fill(readBuffer_.begin(), readBuffer_.begin() + static_cast<std::ptrdiff_t>(n), 0);
                complete = false;
            }
            if (!sink.write(readBuffer_.data(), static_cast<std::size_t>(n))) return WriteResult::WriteFailed;
            pos += n;
        }
    }
    if (pos < size && !writeZeros(sink, size - pos)) return WriteResult::WriteFailed;
    return complete ? WriteResult::Written : WriteResult::ReadFailed;
}

}  // namespace ondrel
