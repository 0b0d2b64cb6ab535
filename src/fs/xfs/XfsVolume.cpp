#include "fs/xfs/XfsVolume.h"

#include "fs/FreeUnitRuns.h"
#include "fs/xfs/XfsFreeSpace.h"
#include "fs/xfs/XfsInodeTree.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

namespace {
// Bounds for hostile volumes: entries listed, and bytes of one folder read.
constexpr std::size_t kMaxRecords = std::size_t(1) << 25;
constexpr std::uint64_t kMaxFolderBytes = std::uint64_t(1) << 32;
constexpr std::uint32_t kSymlinkMagic = 0x58534c4d;  // "XSLM"
constexpr std::size_t kMaxSymlink = 1024;
}  // namespace

XfsVolume::XfsVolume(const ByteSource& r, VolumeRecord v)
    : observer_(&silentObserver()), control_(&ownControl_), reader_(r), volume_(std::move(v)) {}

void XfsVolume::note(std::string text) {
    if (damage_.size() < 1000 && std::find(damage_.begin(), damage_.end(), text) == damage_.end()) damage_.push_back(std::move(text));
}

bool XfsVolume::readSuperblock(std::string& failure) {
    std::vector<std::uint8_t> sector(32768);
    std::string why;
    if (reader_.readAt(0, sector.data(), sector.size()) && decodeXfsSuperblock(sector, sb_, why)) {
        if (!sb_.checksumOk) note("The XFS superblock's checksum does not match; its fields are read all the same.");
        return true;
    }
    // The first allocation group's copy is gone: the second one's stands in. Its
    // place comes from the geometry fields the damaged primary may still hold.
    std::string ignored;
    const std::uint32_t agBlocks = be32(sector, 84), blockSize = be32(sector, 4);
    const std::uint64_t at = agBlocks && blockSize >= 512 && blockSize <= 65536 ? std::uint64_t(agBlocks) * blockSize : 0;
    if (at && reader_.readAt(static_cast<std::int64_t>(at), sector.data(), sector.size()) && decodeXfsSuperblock(sector, sb_, why)) {
        note("The primary XFS superblock is damaged; the copy at byte " + std::to_string(at) + " is read.");
        return true;
    }
    // Nothing left of the geometry: the copies are looked for sector by sector,
    // a copy being one that lies where its own geometry puts an allocation group.
    observer_->status("searching for a copy of the XFS superblock....");
    const std::int64_t end = reader_.size();
    std::vector<std::uint8_t> chunk(std::size_t(4) << 20);
    for (std::int64_t base = 512; base < end && !control_->poll(); base += static_cast<std::int64_t>(chunk.size()) - 32768) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(chunk.size()), end - base));
        if (n < 512 || !reader_.readAt(base, chunk.data(), n)) continue;
        for (std::size_t off = 0; off + 512 <= n; off += 512) {
            if (be32(Bytes(chunk).subspan(off, 4), 0) != 0x58465342) continue;
            XfsSuperblock copy;
            const std::size_t room = std::min<std::size_t>(n - off, 32768);
            if (!decodeXfsSuperblock(Bytes(chunk).subspan(off, room), copy, ignored)) continue;
            const std::uint64_t agBytes = std::uint64_t(copy.agBlocks) * copy.blockSize;
            const auto where = static_cast<std::uint64_t>(base) + off;
            if (agBytes == 0 || where % agBytes != 0) continue;
            sb_ = copy;
            note("The primary XFS superblock is damaged; the copy at byte " + std::to_string(where) + " is read.");
            return true;
        }
    }
    failure = "The XFS superblock cannot be read (" + why + ").";
    return false;
}

bool XfsVolume::readBlock(std::uint64_t fsBlock, std::vector<std::uint8_t>& out) {
    out.assign(sb_.blockSize, 0);
    const std::int64_t at = sb_.blockByte(fsBlock);
    return at >= 0 && reader_.readAt(at, out.data(), out.size());
}

bool XfsVolume::readInode(std::uint64_t number, XfsInode& out, std::string& why, bool withFork) {
    const std::int64_t at = sb_.inodeByte(number);
    if (at < 0) {
        why = "inode " + std::to_string(number) + " lies outside the volume";
        return false;
    }
    // Inodes are at most 2 KiB (the superblock's geometry says so): no allocation per inode.
    std::uint8_t buffer[2048];
    const std::size_t size = sb_.inodeSize;
    const std::int64_t clusterBytes = std::int64_t(64) * sb_.inodeSize, base = at / clusterBytes * clusterBytes;
    if (scanning_ && clusterAt_ != base && base + clusterBytes <= sb_.volumeBytes()) {
        cluster_.resize(static_cast<std::size_t>(clusterBytes));
        clusterAt_ = reader_.readAt(base, cluster_.data(), cluster_.size()) ? base : -1;
    }
    if (scanning_ && clusterAt_ == base) {
        std::memcpy(buffer, cluster_.data() + (at - base), size);
    } else if (!reader_.readAt(at, buffer, size)) {
        why = "inode " + std::to_string(number) + " cannot be read";
        return false;
    }
    if (!decodeXfsInode(Bytes(buffer, size), sb_, number, out, why, withFork)) return false;
    if (!out.checksumOk) note("The checksum of inode " + std::to_string(number) + " does not match.");
    return true;
}

bool XfsVolume::readFileBlocks(const std::vector<XfsExtent>& map, std::uint64_t first, std::uint64_t count,
                               std::vector<std::uint8_t>& out) {
    out.assign(static_cast<std::size_t>(count) * sb_.blockSize, 0);
    bool ok = true;
    auto e = std::upper_bound(map.begin(), map.end(), first, [](std::uint64_t b, const XfsExtent& x) { return b < x.fileBlock; });
    if (e != map.begin()) --e;
    for (; e != map.end() && e->fileBlock < first + count; ++e) {
        const std::uint64_t from = std::max(first, e->fileBlock), to = std::min(first + count, e->fileBlock + e->count);
        if (from >= to || e->unwritten) continue;
        for (std::uint64_t b = from; b < to;) {
            // Runs of blocks contiguous in the volume are read at once.
            const std::int64_t byte = sb_.blockByte(e->fsBlock + (b - e->fileBlock));
            std::uint64_t run = 1;
            while (b + run < to && sb_.blockByte(e->fsBlock + (b + run - e->fileBlock)) == byte + static_cast<std::int64_t>(run * sb_.blockSize))
                ++run;
            std::uint8_t* dst = out.data() + (b - first) * sb_.blockSize;
            if (byte < 0 || !reader_.readAt(byte, dst, static_cast<std::size_t>(run * sb_.blockSize))) {
                std::memset(dst, 0, static_cast<std::size_t>(run * sb_.blockSize));
                ok = false;
            }
            b += run;
        }
    }
    return ok;
}

namespace {
// The mode a removed entry's file type stands for (its inode's is gone).
std::uint16_t modeOfType(std::uint8_t type) {
    static const std::uint16_t modes[] = {0, 0100000, 0040000, 0020000, 0060000, 0010000, 0140000, 0120000};
    return type < 8 ? modes[type] : 0;
}

// The extent records a freed inode's data fork still holds: XFS zeroes its
// size and extent count, not the records. They are taken while they read as
// extents of the volume in order.
std::vector<XfsExtent> remnantExtents(const XfsInode& n, const XfsSuperblock& sb) {
    std::vector<XfsExtent> out;
    const Bytes fork(n.dataFork);
    for (std::size_t at = 0; at + 16 <= fork.size(); at += 16) {
        const XfsExtent e = xfsExtentAt(fork.subspan(at, 16));
        // A removed file reaching past the size of the volume is taken for stale bytes.
        if (e.count == 0 || sb.blockByte(e.fsBlock) < 0 || sb.blockByte(e.fsBlock + e.count - 1) < 0 ||
            e.fileBlock + e.count > sb.dataBlocks || (!out.empty() && e.fileBlock < out.back().fileBlock + out.back().count))
            break;
        out.push_back(e);
    }
    return out;
}
}  // namespace

void XfsVolume::addEntry(std::size_t parent, XfsDirEntry entry, std::vector<std::size_t>& queue) {
    if (records_.size() >= kMaxRecords) {
        note("The volume lists more entries than are read; the rest are left out.");
        return;
    }
    XfsRecord r;
    r.name = std::move(entry.name);
    r.inode = entry.inode;
    r.parentIndex = static_cast<std::int64_t>(parent);
    r.deleted = entry.deleted;
    XfsInode n;
    std::string why;
    // A removed entry's freed inode is looked at for the block map it keeps.
    const bool read = readInode(entry.inode, n, why, entry.deleted);
    if (entry.deleted) {
        // A name whose inode lives on is a file renamed or an inode used again: not a removed file.
        if (read && n.inUse()) return;
        r.mode = read && n.mode ? n.mode : modeOfType(entry.fileType);
        r.readable = read;
        if (read) {
            r.remnant = remnantExtents(n, sb_);
            if (r.remnant.empty()) r.remnant = remnantTree(n);
            if (!r.remnant.empty()) r.size = (r.remnant.back().fileBlock + r.remnant.back().count) * sb_.blockSize;
            // Without file types in the folder, a freed inode that names data blocks is taken for a file.
            if (r.mode == 0 && !r.remnant.empty()) r.mode = 0100000;
            r.atime = n.atime;
            r.mtime = n.mtime;
            r.ctime = n.ctime;
            r.crtime = n.crtime;
            r.hasCrtime = n.hasCrtime;
        }
        records_.push_back(std::move(r));
        return;  // a removed folder's blocks are free: it is not descended into
    }
    if (read) {
        r.mode = n.mode;
        r.size = n.size;
        r.links = n.links;
        r.atime = n.atime;
        r.mtime = n.mtime;
        r.ctime = n.ctime;
        r.crtime = n.crtime;
        r.hasCrtime = n.hasCrtime;
    } else {
        r.readable = false;
        note("The entry " + r.name + " names an inode that cannot be read: " + why + ".");
    }
    records_.push_back(std::move(r));
    if (records_.back().isDirectory()) queue.push_back(records_.size() - 1);
}

bool XfsVolume::readAgf(std::uint32_t ag, std::vector<std::uint8_t>& out) {
    out.assign(sb_.sectorSize, 0);
    const std::int64_t at = static_cast<std::int64_t>(std::uint64_t(ag) * sb_.agBlocks * sb_.blockSize) + sb_.sectorSize;
    return reader_.readAt(at, out.data(), out.size());
}

std::vector<XfsExtent> XfsVolume::remnantTree(const XfsInode& n) {
    const Bytes fork(n.dataFork);
    const int level = be16(fork, 0);
    const std::size_t count = be16(fork, 2);
    if (level < 1 || level > 8 || count == 0) return {};
    for (std::size_t size = fork.size(); size >= 20; size -= 8) {
        const std::size_t room = (size - 4) / 16;
        if (count > room) break;
        std::vector<std::uint8_t> node;
        if (!readBlock(be64(fork, 4 + room * 8), node)) continue;
        const std::uint32_t magic = be32(node, 0);
        if ((magic != 0x424d4150 && magic != 0x424d4133) || be16(node, 4) != level - 1) continue;
        if (magic == 0x424d4133 && be64(node, 56) != n.number) continue;  // v5 nodes name their owner
        XfsInode root = n;
        root.format = XfsFork::Btree;
        root.dataFork.resize(size);
        std::vector<XfsExtent> out;
        std::string message;
        xfsForkExtents(root, sb_, [this](std::uint64_t b, std::vector<std::uint8_t>& o) { return readBlock(b, o); }, out, message);
        if (!out.empty() && out.back().fileBlock + out.back().count <= sb_.dataBlocks) return out;
    }
    return {};
}

void XfsVolume::findOrphans() {
    std::unordered_set<std::uint64_t> named;
    for (const XfsRecord& r : records_) named.insert(r.inode);
    auto block = [this](std::uint64_t b, std::vector<std::uint8_t>& out) { return readBlock(b, out); };
    std::vector<std::uint64_t> free;
    std::vector<std::uint8_t> agi;
    for (std::uint32_t ag = 0; ag < sb_.agCount && !control_->poll(); ++ag) {
        agi.assign(sb_.sectorSize, 0);
        const std::int64_t at = static_cast<std::int64_t>(std::uint64_t(ag) * sb_.agBlocks * sb_.blockSize) + 2 * sb_.sectorSize;
        std::string why, checksums;
        if (!reader_.readAt(at, agi.data(), agi.size()) ||
            !xfsFreeInodes(sb_, block, agi, ag, [&](std::uint64_t ino) { if (free.size() < kMaxRecords && !named.count(ino)) free.push_back(ino); }, why,
                           &checksums))
            note("Removed files no folder names cannot all be looked for: " + (why.empty() ? "an inode header cannot be read" : why) + ".");
        if (!checksums.empty()) note("In the search for removed files: " + checksums + ".");
    }
    for (std::uint64_t ino : free) {
        if (control_->poll() || records_.size() >= kMaxRecords) break;
        XfsInode n;
        std::string why;
        const std::int64_t byte = sb_.inodeByte(ino);
        std::vector<std::uint8_t> raw(sb_.inodeSize);
        if (byte < 0 || !reader_.readAt(byte, raw.data(), raw.size()) || !decodeXfsInode(raw, sb_, ino, n, why) || n.inUse()) continue;
        std::vector<XfsExtent> remnant = remnantExtents(n, sb_);
        if (remnant.empty()) remnant = remnantTree(n);
        if (remnant.empty()) continue;
        XfsRecord r;
        r.name = "inode_" + std::to_string(ino);
        r.inode = ino;
        r.parentIndex = orphanFolder();
        r.deleted = true;
        r.mode = 0100000;
        r.size = (remnant.back().fileBlock + remnant.back().count) * sb_.blockSize;
        r.remnant = std::move(remnant);
        r.atime = n.atime;
        r.mtime = n.mtime;
        r.ctime = n.ctime;
        r.crtime = n.crtime;
        r.hasCrtime = n.hasCrtime;
        records_.push_back(std::move(r));
    }
}

std::int64_t XfsVolume::orphanFolder() {
    if (orphanFolder_ < 0) {
        XfsRecord folder;
        folder.name = "ORPHAN_ENTRY";
        folder.mode = 0040000;
        folder.parentIndex = 0;
        folder.readable = false;
        records_.push_back(folder);
        orphanFolder_ = static_cast<std::int64_t>(records_.size() - 1);
    }
    return orphanFolder_;
}

bool XfsVolume::freeSpace(std::vector<ByteRun>& runs, WorkControl& control, std::string& message) {
    runs.clear();
    if (!readSuperblock(message)) return false;
    FreeUnitRuns free;
    auto block = [this](std::uint64_t b, std::vector<std::uint8_t>& out) { return readBlock(b, out); };
    std::vector<std::uint8_t> agf;
    bool whole = true;
    for (std::uint32_t ag = 0; ag < sb_.agCount && !control.poll(); ++ag) {
        const std::uint64_t base = std::uint64_t(ag) * sb_.agBlocks;
        std::string why, checksums;
        if (!readAgf(ag, agf) ||
            !xfsFreeExtents(sb_, block, agf, ag, [&](std::uint64_t at, std::uint64_t length) { free.addFree(base + at, length); }, why,
                            &checksums)) {
            whole = false;
            if (message.empty()) message = why.empty() ? "allocation group " + std::to_string(ag) + "'s header cannot be read" : why;
        }
        if (!checksums.empty()) note("The free space is read all the same, though " + checksums + ".");
    }
    std::string finishing;
    const bool ok = free.finish(runs, 0, sb_.blockSize, sb_.volumeBytes(), control.stopRequested(), finishing);
    if (!ok && message.empty()) message = finishing;
    return ok && whole;
}

std::string XfsVolume::noDataReason(std::int64_t index) {
    if (index < 0 || index >= static_cast<std::int64_t>(records_.size())) return {};
    const XfsRecord& r = records_[static_cast<std::size_t>(index)];
    if (!r.deleted) return {};
    if (r.remnant.empty()) return "its freed inode keeps no extents; the data cannot be found";
    auto block = [this](std::uint64_t b, std::vector<std::uint8_t>& out) { return readBlock(b, out); };
    auto agf = [this](std::uint32_t ag, std::vector<std::uint8_t>& out) { return readAgf(ag, out); };
    for (const XfsExtent& e : r.remnant)
        if (xfsBlocksState(sb_, block, agf, e.fsBlock, e.count) == XfsBlocksState::InUse)
            return "overwritten: its blocks were given to other data";
    return {};
}

void XfsVolume::readFolder(std::size_t index, const XfsInode& n, std::vector<std::size_t>& queue) {
    std::vector<XfsDirEntry> entries;
    std::string message;
    if (n.format == XfsFork::Local) {
        std::uint64_t parent = 0;
        const std::size_t used = static_cast<std::size_t>(std::min<std::uint64_t>(n.size, n.dataFork.size()));
        xfsShortFormEntries(Bytes(n.dataFork).first(used), sb_.hasFtype(), entries, parent, message);
    } else if (n.format == XfsFork::Extents || n.format == XfsFork::Btree) {
        std::vector<XfsExtent> map;
        std::string checksums;
        if (!xfsForkExtents(n, sb_, [this](std::uint64_t b, std::vector<std::uint8_t>& out) { return readBlock(b, out); }, map, message,
                            &checksums))
            note("Folder " + records_[index].name + " (inode " + std::to_string(n.number) + "): " + message + ".");
        if (!checksums.empty()) note("Folder " + records_[index].name + " (inode " + std::to_string(n.number) + "): " + checksums + ".");
        message.clear();
        const std::uint64_t perDirBlock = std::uint64_t(1) << sb_.dirBlockLog;
        const std::uint64_t leafBlock = kXfsDirLeafOffset / sb_.blockSize;
        std::uint64_t readBytes = 0;
        std::vector<std::uint8_t> block;
        // Each directory block below the leaf offset that the map holds, in order.
        std::uint64_t next = 0;
        for (const XfsExtent& e : map) {
            for (std::uint64_t b = std::max(e.fileBlock, next) / perDirBlock * perDirBlock;
                 b < e.fileBlock + e.count && b < leafBlock; b += perDirBlock) {
                if (b < next) continue;
                next = b + perDirBlock;
                if (withLog_) folderBlockOwner_[sb_.blockByte(e.fsBlock + (b - e.fileBlock))] = n.number;
                if ((readBytes += sb_.dirBlockSize()) > kMaxFolderBytes || control_->poll()) return;
                if (!readFileBlocks(map, b, perDirBlock, block))
                    note("A block of folder " + records_[index].name + " cannot be read.");
                bool crcOk = true;
                std::string why;
                if (!xfsDataBlockEntries(block, sb_, entries, crcOk, why))
                    note("Folder " + records_[index].name + " (inode " + std::to_string(n.number) + "): " + why + " (directory block " +
                         std::to_string(b) + ").");
                if (!crcOk) note("The checksum of directory block " + std::to_string(b) + " of folder " + records_[index].name + " does not match.");
            }
        }
    } else {
        note("Folder " + records_[index].name + " (inode " + std::to_string(n.number) + ") keeps its entries in no form a folder has.");
    }
    if (!message.empty()) note("Folder " + records_[index].name + " (inode " + std::to_string(n.number) + "): " + message + ".");
    for (XfsDirEntry& e : entries) addEntry(index, std::move(e), queue);
}

bool XfsVolume::scan(std::string& failure, bool withLog) {
    records_.clear();
    damage_.clear();
    folderInodes_.clear();
    folderBlockOwner_.clear();
    logOrphans_.clear();
    orphanFolder_ = -1;
    withLog_ = withLog;
    struct Scanning {
        XfsVolume& v;
        explicit Scanning(XfsVolume& volume) : v(volume) { v.scanning_ = true; }
        ~Scanning() {
            v.scanning_ = false;
            v.clusterAt_ = -1;
            v.cluster_ = {};
        }
    } scanning(*this);
    if (!readSuperblock(failure)) return false;
    if (const std::string unknown = sb_.unknownIncompat(); !unknown.empty())
        observer_->message("This XFS volume uses features that are not read (" + unknown +
                           "); its folders and files are read as far as they are understood.");
    XfsInode root;
    std::string why;
    if (!readInode(sb_.rootInode, root, why) || !root.isDirectory()) {
        failure = "The root folder (inode " + std::to_string(sb_.rootInode) + ") of this XFS volume cannot be read.";
        return false;
    }
    XfsRecord r;
    r.name = "ROOT";
    r.inode = sb_.rootInode;
    r.mode = root.mode;
    r.size = root.size;
    r.atime = root.atime;
    r.mtime = root.mtime;
    r.ctime = root.ctime;
    r.crtime = root.crtime;
    r.hasCrtime = root.hasCrtime;
    r.links = root.links;
    records_.push_back(r);
    observer_->status("reading the XFS folders....");
    const std::int64_t total = static_cast<std::int64_t>(sb_.inodeCount > sb_.freeInodes ? sb_.inodeCount - sb_.freeInodes : 1);
    observer_->progressRange(0, total);
    std::vector<std::size_t> queue{0};
    for (std::size_t q = 0; q < queue.size(); ++q) {
        if (control_->poll()) break;
        const std::size_t index = queue[q];
        if (!folderInodes_.insert(records_[index].inode).second) continue;  // a folder named twice is read once
        XfsInode n;
        if (!readInode(records_[index].inode, n, why)) continue;
        readFolder(index, n, queue);
        observer_->progressPosition(std::min<std::int64_t>(total, static_cast<std::int64_t>(records_.size())));
    }
    if (withLog && !readLog(failure)) return false;
    observer_->status("looking for removed files in the free inodes....");
    findOrphans();
    if (withLog) addLogOrphans();
    observer_->status("Maintaining Parent Child....");
    std::vector<EntryTree::Index> parentOf(records_.size(), EntryTree::kOutside);
    for (std::size_t i = 1; i < records_.size(); ++i) parentOf[i] = records_[i].parentIndex;
    tree_.build(parentOf, 0, EntryTree::kNone);
    observer_->progressPosition(total);
    return true;
}

WriteResult XfsVolume::extract(std::int64_t index, DataSink& sink) {
    if (index < 0 || index >= static_cast<std::int64_t>(records_.size())) return WriteResult::NotAFile;
    const XfsRecord& r = records_[static_cast<std::size_t>(index)];
    std::vector<std::uint8_t> buf;
    if (r.deleted) {
        // The blocks its freed inode still names, whole (its size is gone),
        // or as many bytes as a copy of its inode in the log gives.
        if (r.remnant.empty() || !r.isRegular()) return WriteResult::NoData;
        bool ok = true;
        const std::uint64_t runBlocks = std::max<std::uint64_t>(1, (1u << 20) / sb_.blockSize);
        const std::uint64_t end = r.fromLog ? (r.size + sb_.blockSize - 1) / sb_.blockSize : r.remnant.back().fileBlock + r.remnant.back().count;
        std::uint64_t left = r.fromLog ? r.size : end * sb_.blockSize;
        for (std::uint64_t b = 0; b < end; b += runBlocks) {
            ok = readFileBlocks(r.remnant, b, std::min(runBlocks, end - b), buf) && ok;
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, buf.size()));
            if (!sink.write(buf.data(), take)) return WriteResult::WriteFailed;
            left -= take;
        }
        return ok ? WriteResult::Written : WriteResult::ReadFailed;
    }
    XfsInode n;
    std::string why;
    if (!readInode(r.inode, n, why)) return WriteResult::ReadFailed;
    if (!n.isRegular() && !n.isSymlink()) return WriteResult::NotAFile;
    if (n.format == XfsFork::Local) {
        const std::size_t used = static_cast<std::size_t>(std::min<std::uint64_t>(n.size, n.dataFork.size()));
        if (used < n.size) return WriteResult::ReadFailed;
        return used == 0 || sink.write(n.dataFork.data(), used) ? WriteResult::Written : WriteResult::WriteFailed;
    }
    if (n.format != XfsFork::Extents && n.format != XfsFork::Btree) return WriteResult::ReadFailed;
    std::vector<XfsExtent> map;
    std::string message;
    std::string checksums;
    const bool mapped =
        xfsForkExtents(n, sb_, [this](std::uint64_t b, std::vector<std::uint8_t>& out) { return readBlock(b, out); }, map, message, &checksums);
    if (!checksums.empty()) note("File " + r.name + " (inode " + std::to_string(r.inode) + "): " + checksums + ".");
    bool ok = mapped;
    if (n.isSymlink()) {
        // A remote target: version 5 keeps a header in each of its blocks.
        const std::uint64_t blocks = (std::min<std::uint64_t>(n.size, kMaxSymlink) + sb_.blockSize - 1) / sb_.blockSize + 1;
        readFileBlocks(map, 0, blocks, buf);
        std::string target;
        for (std::uint64_t b = 0; b < blocks && target.size() < n.size; ++b) {
            const Bytes blk = Bytes(buf).subspan(b * sb_.blockSize, sb_.blockSize);
            const std::size_t skip = sb_.crc() && be32(blk, 0) == kSymlinkMagic ? 56 : 0;
            const std::size_t take = std::min<std::size_t>(blk.size() - skip, n.size - target.size());
            target.append(reinterpret_cast<const char*>(blk.data() + skip), take);
        }
        if (target.size() < n.size) return WriteResult::ReadFailed;
        return sink.write(reinterpret_cast<const std::uint8_t*>(target.data()), target.size()) ? WriteResult::Written
                                                                                              : WriteResult::WriteFailed;
    }
    // Holes and unwritten extents read as zeros; the data in runs of up to 1 MiB.
    const std::uint64_t runBlocks = std::max<std::uint64_t>(1, (1u << 20) / sb_.blockSize);
    const std::uint64_t blocks = (n.size + sb_.blockSize - 1) / sb_.blockSize;
    std::uint64_t left = n.size;
    // No poll here: a save runs after the scan, whose control may be gone.
    for (std::uint64_t b = 0; b < blocks; b += runBlocks) {
        const std::uint64_t count = std::min(runBlocks, blocks - b);
        ok = readFileBlocks(map, b, count, buf) && ok;
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, buf.size()));
        if (!sink.write(buf.data(), take)) return WriteResult::WriteFailed;
        left -= take;
    }
    if (!message.empty()) note("File " + r.name + " (inode " + std::to_string(r.inode) + "): " + message + ".");
    return ok ? WriteResult::Written : WriteResult::ReadFailed;
}

void XfsVolume::rename(std::int64_t index, const std::string& name) {
    if (index >= 0 && index < static_cast<std::int64_t>(records_.size())) records_[static_cast<std::size_t>(index)].name = name;
}

}  // namespace ondrel
