// The advanced scan of an XFS volume: removed files brought back from the
// copies of their inodes the log still holds, named from logged copies of
// their folders (a short-form folder inside its inode, or a directory block).
#include "fs/xfs/XfsLog.h"
#include "fs/xfs/XfsVolume.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ondrel {

namespace {
constexpr std::size_t kMaxLogInodes = std::size_t(1) << 22;
constexpr std::uint32_t kDataMagics[] = {0x58443242, 0x58444233, 0x58443244, 0x58444433};  // XD2B XDB3 XD2D XDD3

// The newest copy of a free inode that still maps data, and the newest fork copy seen.
struct Candidate {
    std::uint64_t lsn = 0;
    std::vector<std::uint8_t> core, fork;
    bool found = false;
    std::vector<std::uint8_t> lastFork;
    bool hasLastFork = false;
};

struct LoggedName {
    std::string name;
    std::uint64_t folder = 0;  // the folder's inode (0: not known)
    std::uint64_t lsn = 0;
};

std::uint64_t coreExtents(const std::vector<std::uint8_t>& core) {
    const bool big = core.size() >= 176 && core[4] == 3 && (be64(core, 120) & (1u << 4));
    return big ? be64(core, 24) : be32(core, 76);
}
}  // namespace

void XfsVolume::takeLogCopy(std::size_t index, const XfsInode& n, std::vector<XfsExtent> map) {
    XfsRecord& r = records_[index];
    const std::uint64_t mapped = (map.back().fileBlock + map.back().count) * sb_.blockSize;
    r.fromLog = true;
    r.deleted = true;
    r.readable = true;
    r.mode = n.mode;
    // A size beyond both its blocks and the volume is no file's: the blocks are taken.
    r.size = std::min<std::uint64_t>(n.size, std::max<std::uint64_t>(mapped, static_cast<std::uint64_t>(sb_.volumeBytes())));
    r.atime = n.atime;
    r.mtime = n.mtime;
    r.ctime = n.ctime;
    r.crtime = n.crtime;
    r.hasCrtime = n.hasCrtime;
    r.remnant = std::move(map);
}

bool XfsVolume::readLog(std::string& failure) {
    if (sb_.logStart == 0) {
        failure = "This XFS volume keeps its log on another device: the advanced mode reads a log inside the volume.";
        return false;
    }
    const std::int64_t start = sb_.blockByte(sb_.logStart);
    const std::uint64_t bytes = std::uint64_t(sb_.logBlocks) * sb_.blockSize;
    if (start < 0 || bytes == 0 || static_cast<std::uint64_t>(start) + bytes > static_cast<std::uint64_t>(sb_.volumeBytes())) {
        failure = "The log of this XFS volume lies outside it.";
        return false;
    }
    observer_->status("reading the XFS log....");
    std::unordered_map<std::uint64_t, bool> freeNow;
    auto isFree = [&](std::uint64_t ino) {
        if (auto it = freeNow.find(ino); it != freeNow.end()) return it->second;
        XfsInode n;
        std::string why;
        const bool free = freeNow.size() < kMaxLogInodes && readInode(ino, n, why, false) && !n.inUse();
        freeNow.emplace(ino, free);
        return free;
    };
    std::unordered_map<std::uint64_t, Candidate> candidates;
    std::unordered_map<std::uint64_t, LoggedName> names;
    auto name = [&](const XfsDirEntry& e, std::uint64_t folder, std::uint64_t lsn) {
        if (e.inode == 0 || e.name.empty() || !isFree(e.inode)) return;
        LoggedName& n = names[e.inode];
        if (lsn >= n.lsn || n.name.empty()) n = {e.name, folder, lsn};
    };
    auto onInode = [&](const XfsLogInode& c) {
        const std::uint16_t mode = be16(c.core, 2);
        // A folder's short form holds its names in the inode itself.
        if ((mode & 0170000) == 0040000 && c.hasDataFork && c.core[5] == 1) {
            std::vector<XfsDirEntry> entries;
            std::uint64_t parent = 0;
            std::string ignored;
            const std::size_t used = static_cast<std::size_t>(std::min<std::uint64_t>(be64(c.core, 56), c.dataFork.size()));
            xfsShortFormEntries(Bytes(c.dataFork).first(used), sb_.hasFtype(), entries, parent, ignored);
            for (const XfsDirEntry& e : entries) name(e, c.number, c.lsn);
            return;
        }
        if (!isFree(c.number)) return;
        Candidate& k = candidates[c.number];
        if (c.hasDataFork) {
            k.lastFork = c.dataFork;
            k.hasLastFork = true;
        }
        const std::uint8_t format = c.core[5];
        if ((mode & 0170000) != 0100000 || (format != 2 && format != 3) || coreExtents(c.core) == 0 || !k.hasLastFork) return;
        if (k.found && c.lsn < k.lsn) return;
        k.found = true;
        k.lsn = c.lsn;
        k.core = c.core;
        k.fork = k.lastFork;
    };
    std::vector<std::uint8_t> block;
    auto onBuffer = [&](const XfsLogBuffer& b) {
        if ((b.type != kXfsLogDirBlockBuffer && b.type != kXfsLogDirDataBuffer && b.type != 0) || b.length != sb_.dirBlockSize())
            return;
        // The logged parts laid over the block as it stands now.
        block.assign(b.length, 0);
        if (!reader_.readAt(b.byte, block.data(), block.size())) return;
        for (const auto& [offset, part] : b.regions)
            if (!part.empty()) std::memcpy(block.data() + offset, part.data(), part.size());
        const std::uint32_t magic = be32(block, 0);
        if (std::find(std::begin(kDataMagics), std::end(kDataMagics), magic) == std::end(kDataMagics)) return;
        std::uint64_t folder = 0;
        if (magic == 0x58444233 || magic == 0x58444433) folder = be64(block, 40);  // version 5 blocks name their owner
        else if (auto it = folderBlockOwner_.find(b.byte); it != folderBlockOwner_.end()) folder = it->second;
        std::vector<XfsDirEntry> entries;
        bool crcOk = true;
        std::string ignored;
        xfsDataBlockEntries(block, sb_, entries, crcOk, ignored);
        for (const XfsDirEntry& e : entries) name(e, folder, b.lsn);
    };
    XfsLogSummary summary;
    std::string why;
    const bool read = readXfsLog(
        sb_, bytes, [&](std::uint64_t at, std::uint8_t* to, std::size_t n) { return reader_.readAt(start + static_cast<std::int64_t>(at), to, n); },
        onInode, onBuffer, [&] { return control_->poll(); }, summary, why);
    if (!read) {
        note("The XFS log gives nothing to read: " + why + ".");
        observer_->status("0 deleted files found in the log");
        return true;
    }
    if (summary.damagedRecords)
        note(std::to_string(summary.damagedRecords) + " records of the XFS log were partly written over and are left out.");

    std::unordered_map<std::uint64_t, std::size_t> listed, folders;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (records_[i].deleted) listed.emplace(records_[i].inode, i);
        else if (records_[i].isDirectory() && records_[i].readable) folders.emplace(records_[i].inode, i);
    }
    std::vector<std::uint64_t> found;
    for (const auto& [ino, k] : candidates)
        if (k.found) found.push_back(ino);
    std::sort(found.begin(), found.end());
    std::size_t brought = 0;
    auto readBlockFn = [this](std::uint64_t b, std::vector<std::uint8_t>& out) { return readBlock(b, out); };
    for (std::uint64_t ino : found) {
        const Candidate& k = candidates[ino];
        std::vector<std::uint8_t> raw(sb_.inodeSize, 0);
        std::memcpy(raw.data(), k.core.data(), std::min(raw.size(), k.core.size()));
        if (k.core.size() < raw.size() && !k.fork.empty())
            std::memcpy(raw.data() + k.core.size(), k.fork.data(), std::min(raw.size() - k.core.size(), k.fork.size()));
        XfsInode n;
        std::vector<XfsExtent> map;
        std::string message;
        if (!decodeXfsInode(raw, sb_, ino, n, why) || !n.isRegular()) continue;
        xfsForkExtents(n, sb_, readBlockFn, map, message);
        if (map.empty() || map.back().fileBlock + map.back().count > sb_.dataBlocks) continue;
        ++brought;
        if (auto l = listed.find(ino); l != listed.end()) {
            takeLogCopy(l->second, n, std::move(map));
            continue;
        }
        const auto nm = names.find(ino);
        const auto parent = nm == names.end() ? folders.end() : folders.find(nm->second.folder);
        if (parent == folders.end() || records_.size() >= (std::size_t(1) << 25)) {
            logOrphans_[ino] = {n, std::move(map), nm == names.end() ? std::string() : nm->second.name};
            continue;
        }
        XfsRecord r;
        r.name = nm->second.name;
        r.inode = ino;
        r.parentIndex = static_cast<std::int64_t>(parent->second);
        records_.push_back(std::move(r));
        takeLogCopy(records_.size() - 1, n, std::move(map));
    }
    char text[96];
    std::snprintf(text, sizeof text, "%zu deleted files found in the log", brought);
    observer_->status(text);
    return true;
}

void XfsVolume::addLogOrphans() {
    std::unordered_map<std::uint64_t, std::size_t> orphans;
    for (std::size_t i = 0; i < records_.size(); ++i)
        if (records_[i].deleted && records_[i].parentIndex == orphanFolder_ && orphanFolder_ >= 0) orphans.emplace(records_[i].inode, i);
    for (auto& [ino, f] : logOrphans_) {
        std::size_t index;
        if (auto o = orphans.find(ino); o != orphans.end()) {
            index = o->second;
        } else {
            XfsRecord r;
            r.inode = ino;
            r.name = "inode_" + std::to_string(ino);
            r.parentIndex = orphanFolder();
            records_.push_back(std::move(r));
            index = records_.size() - 1;
        }
        // A name a logged folder gave it stands, though its folder is gone.
        if (!f.name.empty()) records_[index].name = f.name;
        takeLogCopy(index, f.inode, std::move(f.map));
    }
    logOrphans_.clear();
}

}  // namespace ondrel
