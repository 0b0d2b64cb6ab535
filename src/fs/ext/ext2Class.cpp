#include "fs/ext/ext2Class.h"

#include "fs/ext/ExtDirectory.h"
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

ext2Class::ext2Class(readWriteInterface& r, VolumeRecord v)
    : observer_(&silentObserver()), control_(&ownControl_), reader_(r), volume_(std::move(v)) {}

void ext2Class::rename(std::int32_t index, const std::string& name) {
    if (index > 0 && index < static_cast<std::int32_t>(records_.size())) records_[static_cast<std::size_t>(index)].name = name;
}

void ext2Class::attachReader() { reader_.baseOffset = volume_.startSector * 512; }

bool ext2Class::findSuperblock(std::string& reason) {
    const std::int64_t limit = diskBytesFrom(reader_, volume_.startSector);
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
    inodeTables_.assign(g.groupCount, 0);
    std::vector<std::uint8_t> block;
    for (std::uint64_t i = 0; i * perBlock < g.groupCount; ++i) {
        std::uint64_t at = table + i;
        if (g.metaBg() && i >= g.firstMetaBg) {
            // Later descriptor blocks sit in their meta group's first group,
            // after its superblock copy when it has one.
            std::uint64_t group = i * perBlock;
            auto hasSuper = [](std::uint64_t n) {
                if (n <= 1) return true;
                for (std::uint64_t base : {3u, 5u, 7u}) {
                    std::uint64_t p = base;
                    while (p < n) p *= base;
                    if (p == n) return true;
                }
                return false;
            };
            at = group * g.blocksPerGroup + g.firstDataBlock + (hasSuper(group) ? 1 : 0);
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
        for (std::uint64_t k = 0; k < perBlock && i * perBlock + k < g.groupCount; ++k) {
            std::size_t d = static_cast<std::size_t>(k * g.descSize);
            std::uint64_t t = le32(b, d + 8);
            if (g.descSize >= 64) t |= static_cast<std::uint64_t>(le32(b, d + 0x28)) << 32;
            inodeTables_[static_cast<std::size_t>(i * perBlock + k)] = t;
        }
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
    if (group >= inodeTables_.size() || inodeTables_[group] == 0) return false;
    std::uint64_t byte = inodeTables_[group] * g.blockSize + static_cast<std::uint64_t>(index) * g.inodeSize;
    std::uint64_t block = byte / g.blockSize;
    auto it = tableBlocks_.find(block);
    if (it == tableBlocks_.end()) {
        std::vector<std::uint8_t> data;
        if (!readBlock(block, data)) return false;
        if (tableBlocks_.size() >= kCachedTableBlocks) tableBlocks_.clear();
        it = tableBlocks_.emplace(block, std::move(data)).first;
    }
    out = decodeInode(Bytes(it->second).subspan(static_cast<std::size_t>(byte % g.blockSize), g.inodeSize));
    return true;
}

void ext2Class::forEachFolderBlock(const ExtInode& dir, std::uint32_t number,
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
            if (!folderBlocksRead_.insert(b).second) continue;
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
    ExtInodeRecord root;
    root.name = "ROOT";
    root.number = 1;
    root.mode = 0x4000;
    records_.push_back(root);
    std::unordered_set<std::uint32_t> walked{2};
    std::vector<std::pair<std::int32_t, std::uint32_t>> stack{{0, 2}};  // record, inode number
    std::uint64_t folders = 0;
    observer_->progressRange(0, geometry_.inodeCount);
    while (!stack.empty()) {
        if (control_->poll()) break;
        const std::int32_t dirIndex = stack.back().first;
        const std::uint32_t number = stack.back().second;
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
        std::vector<std::pair<std::int32_t, std::uint32_t>> found;
        forEachFolderBlock(dir, number, [&](Bytes block, bool first) {
            o.indexRoot = first && dir.isHashIndexed();
            parseDirectoryBlock(block, o, [&](const ExtDirEntry& e) {
                if (!e.deleted && (e.name == "." || e.name == "..")) return;
                ExtInode n;
                bool readable = readInode(e.inode, n);
                // A deleted name whose inode is in use again names another file now.
                if (e.deleted && (!readable || n.inUse())) return;
                ExtInodeRecord r;
                r.name = e.name;
                r.number = e.inode - 1;
                r.parentIndex = dirIndex;
                r.ownIndex = static_cast<std::int32_t>(records_.size());
                r.deleted = e.deleted;
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
                if (r.isDirectory() && walked.insert(e.inode).second) found.push_back({r.ownIndex, e.inode});
            });
        });
        for (auto it = found.rbegin(); it != found.rend(); ++it) stack.push_back(*it);
    }
}

bool ext2Class::scanStandard(std::string& failure) {
    attachReader();
    damage_.clear();
    tableBlocks_.clear();
    if (!findSuperblock(failure) || !readGroupDescriptors(failure)) return false;
    char text[96];
    std::snprintf(text, sizeof text, "parsing group %u  of %u ", geometry_.groupCount, geometry_.groupCount);
    observer_->status(text);
    walk();
    ExtInode root;
    if (records_.size() == 1 && (!readInode(2, root) || !root.isDirectory())) {
        failure = "The root folder (inode 2) of this ext volume cannot be read.";
        return false;
    }
    observer_->status("Maintaining Parent Child....");
    std::vector<EntryTree::Index> parentOf(records_.size(), EntryTree::kOutside);
    for (std::size_t i = 1; i < records_.size(); ++i) parentOf[i] = records_[i].parentIndex;
    tree_.build(parentOf, 0, EntryTree::kNone);
    observer_->status("filling root entries in  tree....");
    observer_->progressPosition(geometry_.inodeCount);
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
    if (!readInode(record.number + 1, n)) return WriteResult::ReadFailed;
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
