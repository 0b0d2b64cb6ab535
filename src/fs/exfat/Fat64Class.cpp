#include "fs/exfat/Fat64Class.h"

#include "common/IoBuffer.h"
#include "fs/exfat/ExFatEntrySet.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace ondrel {

namespace {
// exFAT caps a folder at 256 MiB; a chain that runs on is cut there.
constexpr std::uint64_t kMaxFolderBytes = 256ull << 20;
// Bitmaps beyond this (volumes of many terabytes) are not held; deleted files
// are then read from consecutive clusters.
constexpr std::uint64_t kMaxBitmapBytes = 64ull << 20;
constexpr std::uint64_t kReadChunk = 4ull << 20;
}  // namespace

Fat64Class::Fat64Class(const ByteSource& r, VolumeRecord v)
    : observer_(&silentObserver()), control_(&ownControl_), reader_(r), volume_(std::move(v)), fat_(r) {}

void Fat64Class::rename(std::int32_t index, const std::string& name) {
    // Records 0 and 1 (the root and, in the advanced mode, "ORPHAN ENTRY") keep their names.
    if (index > 0 && index < static_cast<std::int32_t>(records_.size()) && records_[static_cast<std::size_t>(index)].setOffset >= 0)
        records_[static_cast<std::size_t>(index)].name = name;
}

std::int64_t Fat64Class::volumeLimit() const { return reader_.size(); }

bool Fat64Class::checkBootSector(std::string& reason) {
    std::array<std::uint8_t, 512> boot{};
    bool read = reader_.readAt(0, boot.data(), boot.size());
    bootValid_ = read && readExFatGeometry(Bytes(boot), volumeLimit(), bootGeometry_, reason);
    if (!read) reason = "cannot read file";
    if (bootValid_) {
        geometry_ = bootGeometry_;
        bootClusterShift_ = static_cast<int>(geometry_.clusterShift);
        fat_.setLayout(geometry_.fatOffset, 4);
        return true;
    }
    // The backup boot sector (sector 12) still tells the cluster size.
    for (std::int64_t sector : {512, 4096}) {
        ExFatGeometry backup;
        std::string ignored;
        if (reader_.readAt(12 * sector, boot.data(), boot.size()) &&
            readExFatGeometry(Bytes(boot), volumeLimit(), backup, ignored) && (std::int64_t(1) << backup.sectorShift) == sector) {
            bootClusterShift_ = static_cast<int>(backup.clusterShift);
            break;
        }
    }
    return false;
}

std::uint32_t Fat64Class::nextCluster(std::uint32_t c) {
    if (!geometry_.validCluster(c)) return 0;
    std::uint32_t next = fat_.entry(c);
    return geometry_.validCluster(next) ? next : 0;
}

Fat64Class::Chain Fat64Class::chainFor(const ExFatEntryRecord& r) const {
    // "Is Drive Formated..?" takes file data from consecutive clusters; a
    // folder still follows its chain, without which most of a large folder
    // (the root among them) would be lost.
    if (r.noFatChain() || (driveFormatted_ && !r.isDirectory())) return Chain::Contiguous;
    // A deleted file's FAT entries are cleared; its clusters were the free
    // ones after its first when it was written, most likely still free now.
    return r.deleted() ? Chain::FreeClusters : Chain::Fat;
}

bool Fat64Class::clusterInUse(std::uint32_t c) {
    if (!bitmapLoaded_) {
        bitmapLoaded_ = true;
        std::uint64_t bytes = std::min<std::uint64_t>(bitmapBytes_, (static_cast<std::uint64_t>(geometry_.clusterCount) + 7) / 8);
        if (bytes <= kMaxBitmapBytes && geometry_.validCluster(bitmapCluster_)) {
            const std::uint64_t cb = geometry_.clusterBytes();
            bitmap_.assign(static_cast<std::size_t>((bytes + cb - 1) / cb * cb), 0);
            std::uint32_t b = bitmapCluster_;
            for (std::uint64_t at = 0; at < bytes && geometry_.validCluster(b); at += cb) {
                reader_.readAt(geometry_.clusterOffset(b), bitmap_.data() + at, static_cast<std::uint32_t>(cb));
                std::uint32_t n = nextCluster(b);
                b = n != 0 ? n : b + 1;  // a bitmap without FAT entries lies in one run
            }
            bitmap_.resize(static_cast<std::size_t>(bytes));
        }
    }
    std::uint64_t bit = static_cast<std::uint64_t>(c) - 2;
    if (c < 2 || bit / 8 >= bitmap_.size()) return false;
    return (bitmap_[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1;
}

std::uint32_t Fat64Class::following(std::uint32_t c, Chain chain) {
    switch (chain) {
    case Chain::Fat:
        return nextCluster(c);
    case Chain::Contiguous:
        return geometry_.validCluster(c + 1) ? c + 1 : 0;
    case Chain::FreeClusters: {
        // A file whose next free cluster lies this far on is not one piece
        // of a file any more; the search stays bounded.
        constexpr std::uint32_t kMaxSkipped = 1u << 20;
        for (std::uint32_t n = c + 1, skipped = 0; geometry_.validCluster(n) && skipped < kMaxSkipped; ++n, ++skipped)
            if (!clusterInUse(n)) return n;
        return 0;
    }
    }
    return 0;
}

void Fat64Class::readFolder(std::int32_t dir, std::uint32_t first, Chain chain, std::uint64_t maxBytes,
                            const std::function<void(ExFatEntryRecord&, std::int64_t)>& onSet) {
    const std::uint64_t cb = geometry_.clusterBytes();
    std::vector<std::uint8_t> buf;
    std::uint64_t bufStart = 0;  // where buf[0] lies in the folder's bytes
    std::vector<std::int64_t> clusterOffsets;
    auto parse = [&](bool moreFollow) {
        std::size_t pos = 0;
        while (pos + 32 <= buf.size()) {
            const std::uint8_t* s = buf.data() + pos;
            if (ExFatBitmapEntry bitmap; dir == 0 && bitmapCluster_ == 0 && decodeBitmapEntry(s, bitmap)) {
                bitmapCluster_ = bitmap.firstCluster;
                bitmapBytes_ = bitmap.length;
            }
            if (s[0] == 0x85 || s[0] == 0x05) {
                ExFatEntryRecord r;
                SetResult res = decodeEntrySet(s, (buf.size() - pos) / 32, moreFollow, r);
                if (res.status == SetStatus::NeedMore) break;
                if (res.status == SetStatus::Decoded) {
                    std::uint64_t g = bufStart + pos;
                    onSet(r, clusterOffsets[static_cast<std::size_t>(g / cb)] + static_cast<std::int64_t>(g % cb));
                    pos += res.slots * 32;
                    continue;
                }
            }
            pos += 32;
        }
        buf.erase(buf.begin(), buf.begin() + static_cast<std::ptrdiff_t>(pos));
        bufStart += pos;
    };
    std::uint32_t c = first;
    std::uint64_t readBytes = 0;
    while (readBytes < maxBytes && geometry_.validCluster(c)) {
        if (control_->poll()) break;
        // A cluster read for another folder is not read again: a looping or
        // cross-linked chain cannot make the walk go round.
        if (!dirClustersRead_.insert(c).second) break;
        std::size_t at = buf.size();
        buf.resize(at + cb);
        if (!reader_.readAt(geometry_.clusterOffset(c), buf.data() + at, static_cast<std::uint32_t>(cb))) {
            std::string folder = dir == 0 ? std::string("the root folder") : "the folder \"" + records_[static_cast<std::size_t>(dir)].name + "\"";
            damage_.push_back("The image ends before " + folder + " (or cannot be read there): entries may be lost.");
            buf.resize(at);
            break;
        }
        clusterOffsets.push_back(geometry_.clusterOffset(c));
        readBytes += cb;
        parse(true);
        if (readBytes >= maxBytes) break;
        c = following(c, chain);
    }
    parse(false);
}

void Fat64Class::addRecord(std::int32_t dir, ExFatEntryRecord& r, std::int64_t setOffset,
                           std::unordered_map<std::uint32_t, std::int32_t>& dirsByCluster, std::vector<Pending>& found) {
    if (trackSets_ && !visitedSets_.insert(setOffset).second) {
        // Read before: a folder first listed under "ORPHAN ENTRY" belongs here.
        if (auto it = orphanTops_.find(setOffset); it != orphanTops_.end()) {
            if (it->second != dir) records_[static_cast<std::size_t>(it->second)].parentIndex = dir;
            orphanTops_.erase(it);
        }
        return;
    }
    r.parentIndex = dir;
    r.ownIndex = static_cast<std::int32_t>(records_.size());
    r.setOffset = setOffset;
    if (r.isDirectory() && r.firstCluster != 0) {
        auto [it, fresh] = dirsByCluster.emplace(r.firstCluster, r.ownIndex);
        if (!fresh) {
            // Two entries of one folder naming one cluster are one folder: a
            // live entry keeps its name, otherwise the one met last names it.
            ExFatEntryRecord& earlier = records_[static_cast<std::size_t>(it->second)];
            if (earlier.deleted() || !r.deleted()) {
                std::string name = r.name;
                std::int32_t own = earlier.ownIndex, parent = earlier.parentIndex;
                std::int64_t offset = earlier.setOffset;
                earlier = r;
                earlier.name = std::move(name);
                earlier.ownIndex = own;
                earlier.parentIndex = parent;
                earlier.setOffset = offset;
            }
            return;
        }
    }
    records_.push_back(r);
    if (r.isDirectory()) found.push_back({r.ownIndex, r.deleted()});
    if ((records_.size() & 1023) == 0) observer_->progressPosition(static_cast<std::int64_t>(records_.size()));
}

void Fat64Class::startRecords(bool withOrphan) {
    records_.clear();
    damage_.clear();
    dirClustersRead_.clear();
    deferred_.clear();
    bitmapCluster_ = 0;
    bitmapBytes_ = 0;
    bitmapLoaded_ = false;
    bitmap_.clear();
    ExFatEntryRecord root;
    root.entryType = 0x85;
    root.fileAttributes = 0x10;
    root.name = "DUMMY ENTRY";
    records_.push_back(root);
    if (withOrphan) {
        ExFatEntryRecord orphan = root;
        orphan.name = "ORPHAN ENTRY";
        orphan.ownIndex = 1;
        records_.push_back(orphan);
    }
}

void Fat64Class::walkRootDirectory(std::uint32_t rootCluster) {
    std::unordered_map<std::uint32_t, std::int32_t> dirsByCluster;
    std::vector<Pending> found;
    readFolder(0, rootCluster, Chain::Fat, kMaxFolderBytes,
               [&](ExFatEntryRecord& r, std::int64_t at) { addRecord(0, r, at, dirsByCluster, found); });
    std::vector<Pending> live;
    for (auto it = found.rbegin(); it != found.rend(); ++it) (it->deleted ? deferred_ : live).push_back(*it);
    walkEntrySets(live);
}

void Fat64Class::walkEntrySets(std::vector<Pending>& live) {
    // Live folders first: a deleted folder's clusters may since belong to a
    // live one, whose entries must not be taken for the deleted folder's.
    // Folders wait on stacks, so deep trees cannot exhaust the call stack.
    for (int phase = 0; phase < 2; ++phase) {
        std::vector<Pending>& stack = phase == 0 ? live : deferred_;
        if (phase == 1) std::reverse(stack.begin(), stack.end());
        while (!stack.empty()) {
            if (control_->poll()) return;
            Pending p = stack.back();
            stack.pop_back();
            const ExFatEntryRecord dir = records_[static_cast<std::size_t>(p.dir)];
            std::uint64_t cb = geometry_.clusterBytes();
            std::uint64_t maxBytes = std::min(kMaxFolderBytes, std::max(dir.dataLength, cb));
            std::unordered_map<std::uint32_t, std::int32_t> dirsByCluster;
            std::vector<Pending> found;
            readFolder(p.dir, dir.firstCluster, chainFor(dir), maxBytes,
                       [&](ExFatEntryRecord& r, std::int64_t at) { addRecord(p.dir, r, at, dirsByCluster, found); });
            for (auto it = found.rbegin(); it != found.rend(); ++it) {
                bool deleted = it->deleted || p.deleted;
                if (phase == 0 && deleted) deferred_.insert(deferred_.begin(), {it->dir, true});
                else stack.push_back({it->dir, deleted});
            }
        }
    }
}

void Fat64Class::linkTree(std::int32_t orphan) {
    // Every record names the folder it was read from; the orphan folder's
    // moved folders may form loops, which the tree cuts.
    std::vector<EntryTree::Index> parentOf(records_.size(), EntryTree::kOutside);
    for (std::size_t i = 1; i < records_.size(); ++i) {
        if (static_cast<std::int32_t>(i) == orphan) continue;
        std::int32_t p = records_[i].parentIndex;
        parentOf[i] = p >= 0 && static_cast<std::size_t>(p) < records_.size() && static_cast<std::size_t>(p) != i
                          ? p
                          : EntryTree::kLost;
    }
    tree_.build(parentOf, 0, orphan >= 0 ? orphan : EntryTree::kNone);
    char text[64];
    for (EntryTree::Index c : tree_.children(0)) {
        std::snprintf(text, sizeof text, "filling entry =%d in tree ", static_cast<int>(c));
        observer_->status(text);
    }
}

bool Fat64Class::scanStandard(std::string& failure) {
    std::string reason;
    if (!checkBootSector(reason)) {
        failure = "Selected Drive is not in exFat Format";
        return false;
    }
    trackSets_ = false;
    observer_->status("processing file and directory entries...");
    observer_->status("Finding Fat64 File And Directory entries recursively....");
    startRecords(false);
    walkRootDirectory(geometry_.rootCluster);
    if (records_.size() == 1 && !damage_.empty()) {
        failure = "The root folder of this exFAT volume cannot be read: the image ends before it (or cannot be read there).";
        return false;
    }
    if (records_.size() == 1 && !geometry_.validCluster(geometry_.rootCluster)) {
        failure = "The boot sector names no root folder inside the volume (cluster " +
                  std::to_string(geometry_.rootCluster) + ").";
        return false;
    }
    // Every root folder holds the allocation bitmap's entry: a cluster without
    // it is no root folder, whatever the boot sector says.
    if (bitmapCluster_ == 0) {
        const std::string named = "The root folder the boot sector names (cluster " + std::to_string(geometry_.rootCluster) +
                                  ") holds no allocation bitmap entry: it is damaged, or not the root folder.";
        if (records_.size() > 1) {
            damage_.push_back(named);
        } else {
            // Nothing listed: sweep the volume for its folders' entries with the
            // boot sector's geometry, the root taken from where one starts.
            return sweepForRoot(named, failure);
        }
    }
    observer_->status("creating tree Structure...");
    linkTree(-1);
    observer_->status("done...");
    return true;
}

bool Fat64Class::sweepForRoot(const std::string& why, std::string& failure) {
    const ExFatGeometry boot = geometry_;
    foundFats_ = {boot.fatOffset};
    foundHeaps_ = {boot.heapOffset};
    const bool bootValid = bootValid_;
    bootValid_ = false;  // its root cluster is the one that failed
    observer_->status("The root folder is damaged: searching the volume for folder entries....");
    bool ok = scanAdvanced(0, 0, boot.sectorShift - 9 + boot.clusterShift, failure);
    bootValid_ = bootValid;
    damage_.insert(damage_.begin(), why + " The volume was searched for folder entries; what no folder leads to is "
                                          "listed under \"ORPHAN ENTRY\".");
    return ok;
}

WriteResult Fat64Class::extract(const ExFatEntryRecord& r, DataSink& sink) {
    const std::uint64_t size = r.dataLength;
    const std::uint64_t valid = std::min(r.validDataLength, size);
    const std::uint64_t cb = geometry_.clusterBytes();
    const std::uint64_t chunk = std::max(cb, kReadChunk);
    const Chain chain = chainFor(r);
    // One buffer for every file, grown to what the largest needed so far.
    IoBuffer& buf = readBuffer_;
    auto want = static_cast<std::size_t>(std::min(chunk, std::max<std::uint64_t>(valid, 1) + cb));
    if (buf.size() < want) buf.resize(want);
    std::unordered_set<std::uint32_t> seen;
    bool complete = true;
    std::uint64_t done = 0;
    std::uint32_t c = r.firstCluster;
    while (done < valid) {
        if (!geometry_.validCluster(c) || (chain == Chain::Fat && !seen.insert(c).second)) {
            complete = false;  // the chain ends early or loops
            break;
        }
        // A run of consecutive clusters is read at once, up to the chunk size.
        const std::uint64_t need = valid - done;
        const std::uint32_t runStart = c;
        std::uint64_t runClusters = 1;
        std::uint32_t next = 0;
        while (runClusters * cb < need) {
            next = following(c, chain);
            if (runClusters * cb >= buf.size() || next != c + 1 || !geometry_.validCluster(next)) break;
            if (chain == Chain::Fat && !seen.insert(next).second) break;
            c = next;
            next = 0;
            ++runClusters;
        }
        const std::uint64_t bytes = std::min(runClusters * cb, need);
        if (!reader_.readAt(geometry_.clusterOffset(runStart), buf.data(), static_cast<std::uint32_t>(bytes))) complete = false;
        if (!sink.write(buf.data(), static_cast<std::size_t>(bytes))) return WriteResult::WriteFailed;
        done += bytes;
        c = next;
    }
    if (complete) {
        // Past the valid data length a file reads as zeros.
        static const std::vector<std::uint8_t> zeros(64 * 1024, 0);
        for (std::uint64_t left = size - valid; left > 0;) {
            std::uint64_t n = std::min<std::uint64_t>(left, zeros.size());
            if (!sink.write(zeros.data(), static_cast<std::size_t>(n))) return WriteResult::WriteFailed;
            left -= n;
        }
    }
    return complete ? WriteResult::Written : WriteResult::ReadFailed;
}

}  // namespace ondrel
