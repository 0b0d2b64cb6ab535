#include "fs/hfsplus/HFSP.h"

#include "fs/hfsplus/HfsCompressed.h"
#include "volumes/SectorSweep.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>

namespace ondrel {

namespace {
constexpr std::uint64_t kReadChunk = 4ull << 20;
constexpr std::uint32_t kExtentsFileId = 3, kCatalogFileId = 4, kAttributesFileId = 8;
constexpr std::uint32_t kRootId = 2;
constexpr std::size_t kMaxDecmpfsFork = 16u << 20;
// The metadata folders HFS+ keeps hard-link targets in, hidden from the list.
const std::string kPrivateData("\0\0\0\0HFS+ Private Data", 21);
const std::string kPrivateDirData(".HFS+ Private Directory Data\r");
}  // namespace

HFSP::HFSP(const ByteSource& r, VolumeRecord v)
    : observer_(&silentObserver()), control_(&ownControl_), reader_(r), volume_(std::move(v)) {}

void HFSP::rename(std::int64_t index, const std::string& name) {
    if (index > 0 && index < static_cast<std::int64_t>(records_.size())) records_[static_cast<std::size_t>(index)].name = name;
}

bool HFSP::hidden(std::int64_t index) const {
    return index >= 0 && (index == privateFolder_ || index == privateDirFolder_);
}

bool HFSP::readHeader(bool allowAlternate, std::string& failure) {
    volumeBytes_ = reader_.size();
    damage_.clear();
    std::uint8_t raw[512] = {};
    if (!reader_.readAt(1024, raw, 512)) {
        failure = "The volume header of this HFS+ volume cannot be read.";
        if (!allowAlternate || !findAlternateHeader()) return false;
    } else {
        header_ = decodeVolumeHeader(Bytes(raw, 512));
    }
    if (!header_.valid()) {
        HfsVolumeHeader primary = header_;
        if (!allowAlternate || !findAlternateHeader()) {
            failure = primary.blockSize == 0 || (primary.blockSize & (primary.blockSize - 1)) != 0
                          ? "BlockSize not valid .Aborting.."
                          : "The volume header is not an HFS+ (\"H+\" version 4) or HFSX (\"HX\" version 5) header.";
            if (!allowAlternate) failure += " The Deep mode can use the alternate header near the volume's end.";
            return false;
        }
        damage_.push_back("The volume header is damaged: the alternate header near the volume's end was used.");
    }
    const std::uint64_t claimed = static_cast<std::uint64_t>(header_.totalBlocks) * header_.blockSize;
    if (claimed > static_cast<std::uint64_t>(volumeBytes_))
        damage_.push_back("The volume claims " + std::to_string(claimed) + " bytes; the disk holds " +
                          std::to_string(volumeBytes_) + " of them.");
    else
        volumeBytes_ = static_cast<std::int64_t>(claimed);
    return true;
}

bool HFSP::findAlternateHeader() {
    // The alternate header lies 1024 bytes before the volume's end (or where the
    // primary header's sizes say, if they survive).
    const std::int64_t stated = reader_.size();
    const std::int64_t from = std::max<std::int64_t>(1536, stated - (2 << 20)) & ~std::int64_t(511);
    const std::int64_t to = std::min<std::int64_t>(volumeBytes_, stated + (2 << 20));
    if (to - from < 512) return false;
    std::vector<std::uint8_t> area(static_cast<std::size_t>(to - from));
    if (!reader_.readAt(from, area.data(), static_cast<std::uint32_t>(area.size()))) return false;
    for (std::int64_t p = static_cast<std::int64_t>(area.size()) - 512; p >= 0; p -= 512) {
        HfsVolumeHeader h = decodeVolumeHeader(Bytes(area).subspan(static_cast<std::size_t>(p), 512));
        if (h.valid() && static_cast<std::uint64_t>(h.totalBlocks) * h.blockSize == static_cast<std::uint64_t>(from + p + 1024)) {
            header_ = h;
            return true;
        }
    }
    return false;
}

bool HFSP::readFork(const std::vector<HfsExtent>& extents, std::uint64_t offset, std::uint8_t* out, std::size_t count) {
    const std::uint64_t bs = header_.blockSize;
    bool ok = true;
    std::uint64_t forkPos = 0;
    std::size_t done = 0;
    for (const HfsExtent& e : extents) {
        if (done == count) break;
        const std::uint64_t len = static_cast<std::uint64_t>(e.count) * bs;
        const std::uint64_t want = offset + done;
        if (want >= forkPos + len) {
            forkPos += len;
            continue;
        }
        const std::uint64_t within = want - forkPos;
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(len - within, count - done));
        if (!reader_.readAt(static_cast<std::int64_t>(e.start * bs + within), out + done, static_cast<std::uint32_t>(n))) {
            std::memset(out + done, 0, n);
            ok = false;
        }
        done += n;
        forkPos += len;
    }
    if (done < count) {
        std::memset(out + done, 0, count - done);
        ok = false;
    }
    return ok;
}

bool HFSP::forkExtents(std::uint32_t fileId, std::uint8_t forkType, const HfsFork& fork, std::vector<HfsExtent>& out,
                       const char* what) {
    std::string problem;
    if (overflow_.extents(fileId, forkType, fork, header_.totalBlocks, out, problem)) return true;
    if (what) damage_.push_back(std::string("The ") + what + ": " + problem + ".");
    return false;
}

bool HFSP::treeHeader(const std::vector<HfsExtent>& extents, HfsNodeDescriptor& d, HfsHeaderRecord& h) {
    std::uint8_t first[512];
    readFork(extents, 0, first, sizeof first);
    d = decodeNodeDescriptor(Bytes(first, sizeof first));
    h = decodeHeaderRecord(Bytes(first, sizeof first));
    return d.kind == static_cast<std::int8_t>(HfsNodeKind::Header) && validNodeSize(h.nodeSize);
}

bool HFSP::walkTree(const std::vector<HfsExtent>& extents, std::uint64_t forkBytes, const char* what,
                    const std::function<void(std::uint32_t, Bytes, bool)>& onNode, std::uint32_t* nodeSizeOut) {
    HfsNodeDescriptor d;
    HfsHeaderRecord h;
    if (!treeHeader(extents, d, h)) {
        damage_.push_back(std::string("The header node of the ") + what + " is damaged.");
        return false;
    }
    if (nodeSizeOut) *nodeSizeOut = h.nodeSize;
    const std::uint32_t nodeSize = h.nodeSize;
    // A damaged count never walks past the file.
    const std::uint64_t totalNodes = std::min<std::uint64_t>(h.totalNodes, forkBytes / nodeSize);
    std::vector<std::uint8_t> node(nodeSize);
    readFork(extents, 0, node.data(), nodeSize);
    // The in-use bitmap: the header node's map record, then map nodes by their forward links.
    std::vector<std::uint8_t> bitmap;
    {
        auto offsets = recordOffsets(Bytes(node), decodeNodeDescriptor(Bytes(node)).records);
        if (offsets.size() >= 3) {
            std::size_t end = nodeSize - 2 * (offsets.size() + 1);
            if (offsets[2] < end) bitmap.assign(node.begin() + offsets[2], node.begin() + static_cast<std::ptrdiff_t>(end));
        }
        std::uint32_t next = d.forward;
        std::vector<std::uint8_t> mapNode(nodeSize);
        for (std::uint64_t hops = 0; next != 0 && next < totalNodes && hops < totalNodes && bitmap.size() * 8 < totalNodes; ++hops) {
            readFork(extents, static_cast<std::uint64_t>(next) * nodeSize, mapNode.data(), nodeSize);
            HfsNodeDescriptor md = decodeNodeDescriptor(Bytes(mapNode));
            auto mo = recordOffsets(Bytes(mapNode), md.records);
            if (md.kind != static_cast<std::int8_t>(HfsNodeKind::Map) || mo.empty()) break;
            std::size_t end = nodeSize - 2 * (mo.size() + 1);
            if (mo[0] < end) bitmap.insert(bitmap.end(), mapNode.begin() + mo[0], mapNode.begin() + static_cast<std::ptrdiff_t>(end));
            next = md.forward;
        }
    }
    auto inUse = [&](std::uint64_t n) {
        // Nodes the bitmap does not reach are taken as used.
        return n / 8 >= bitmap.size() || (bitmap[static_cast<std::size_t>(n / 8)] & (0x80 >> (n % 8))) != 0;
    };
    const std::uint64_t perRead = std::max<std::uint64_t>(1, kReadChunk / nodeSize);
    if (readBuffer_.size() < perRead * nodeSize) readBuffer_.resize(static_cast<std::size_t>(perRead * nodeSize));
    observer_->progressRange(0, static_cast<std::int64_t>(totalNodes));
    for (std::uint64_t n = 1; n < totalNodes; n += perRead) {
        if (control_->poll()) break;
        const std::uint64_t count = std::min(perRead, totalNodes - n);
        if (!readFork(extents, n * nodeSize, readBuffer_.data(), static_cast<std::size_t>(count * nodeSize)))
            damage_.push_back(std::string("Nodes ") + std::to_string(n) + " to " + std::to_string(n + count - 1) + " of the " +
                              what + " cannot all be read.");
        for (std::uint64_t k = 0; k < count; ++k)
            onNode(static_cast<std::uint32_t>(n + k),
                   Bytes(readBuffer_.data() + k * nodeSize, nodeSize), inUse(n + k));
        observer_->progressPosition(static_cast<std::int64_t>(n + count));
    }
    return true;
}

void HFSP::loadExtentsOverflow() {
    overflow_.clear();
    const HfsFork& f = header_.extentsFile;
    if (f.totalBlocks == 0 || f.logicalSize == 0) return;
    std::vector<HfsExtent> extents;
    // The overflow file's own extents are all in the volume header.
    forkExtents(kExtentsFileId, kHfsDataFork, f, extents, "extents overflow file");
    walkTree(extents, f.logicalSize, "extents overflow file", [&](std::uint32_t, Bytes node, bool used) {
        if (used) overflow_.addLeafNode(node);
    });
}

void HFSP::keep(HfsCatalogRecord&& r, bool live) {
    r.deleted = !live;
    (live ? found_ : stale_).push_back(std::move(r));
}

void HFSP::decodeLeaf(Bytes node, std::int64_t nodeByte, bool live) {
    HfsNodeDescriptor d = decodeNodeDescriptor(node);
    if (d.kind != static_cast<std::int8_t>(HfsNodeKind::Leaf) || d.records == 0) return;
    const std::vector<std::uint16_t> offsets = recordOffsets(node, d.records);
    const std::size_t cap = (node.size() - 14) / 2;
    auto where = [&] { return "The catalog node at byte " + std::to_string(nodeByte); };
    // Damage in nodes the tree still uses is reported; unused nodes hold leftovers.
    if (live && (d.records > cap || offsets.size() < d.records))
        damage_.push_back(where() + " claims " + std::to_string(d.records) + " records; " +
                          std::to_string(offsets.size()) + " of them could be read.");
    for (std::uint16_t off : offsets) {
        HfsCatalogRecord r;
        if (decodeCatalogRecord(node, off, r)) {
            keep(std::move(r), live);
        } else if (live && off + 2u + be16(node, off) > node.size()) {
            damage_.push_back(where() + " has a record whose key runs past the node's end.");
        }
    }
}

bool HFSP::scanStandard(std::string& failure) {
    found_.clear();
    stale_.clear();
    if (!readHeader(false, failure)) {
        observer_->status("Running process Aborted....");
        return false;
    }
    loadExtentsOverflow();
    std::vector<HfsExtent> catalog;
    forkExtents(kCatalogFileId, kHfsDataFork, header_.catalogFile, catalog, "catalog file");
    const std::uint64_t bs = header_.blockSize;
    auto nodeByte = [&](std::uint64_t forkOffset) -> std::int64_t {
        for (const HfsExtent& e : catalog) {
            std::uint64_t len = static_cast<std::uint64_t>(e.count) * bs;
            if (forkOffset < len) return static_cast<std::int64_t>(e.start * bs + forkOffset);
            forkOffset -= len;
        }
        return -1;
    };
    std::uint32_t nodeSize = 0;
    {
        // About half the leaf records are folders and files (the rest threads):
        // room for them up front, so the list is not copied as it grows.
        HfsNodeDescriptor d;
        HfsHeaderRecord h;
        treeHeader(catalog, d, h);
        const std::uint64_t leafRecords = h.leafRecords;
        const std::uint64_t room = header_.catalogFile.logicalSize / 64;  // never more than the catalog could hold
        found_.reserve(static_cast<std::size_t>(std::min(leafRecords / 2 + 16, room)));
    }
    bool ok = walkTree(catalog, header_.catalogFile.logicalSize, "catalog file",
                       [&](std::uint32_t n, Bytes node, bool used) {
                           decodeLeaf(node, nodeByte(static_cast<std::uint64_t>(n) * nodeSize), used);
                       },
                       &nodeSize);
    if (!ok) {
        failure = "The catalog of this HFS+ volume cannot be read: its header node is damaged. The Deep mode sweeps the "
                  "volume for catalog nodes.";
        observer_->status("Running process Aborted....");
        return false;
    }
    finishRecords(false);
    return true;
}

bool HFSP::scanDeep(std::string& failure) {
    found_.clear();
    stale_.clear();
    if (!readHeader(true, failure)) {
        observer_->status("BlockSize not valid .Aborting..");
        observer_->status("Running process Aborted....");
        return false;
    }
    loadExtentsOverflow();
    // The catalog's node size from its header node when that survives.
    std::uint32_t nodeSize = 0;
    {
        std::vector<HfsExtent> catalog;
        forkExtents(kCatalogFileId, kHfsDataFork, header_.catalogFile, catalog, nullptr);
        HfsNodeDescriptor d;
        HfsHeaderRecord h;
        if (treeHeader(catalog, d, h)) nodeSize = h.nodeSize;
    }
    if (nodeSize == 0) {
        // The usual catalog node size, never less than a block.
        nodeSize = std::max<std::uint32_t>(4096, header_.blockSize);
        damage_.push_back("The catalog's header node is damaged: nodes of " + std::to_string(nodeSize) +
                          " bytes were looked for.");
    }
    const std::uint32_t bs = header_.blockSize;
    const std::int64_t blocks = volumeBytes_ / bs;
    if (blocks < 1 || nodeSize < bs) {
        failure = "BlockSize not valid .Aborting..";
        observer_->status(failure);
        observer_->status("Running process Aborted....");
        return false;
    }
    observer_->status("searching the volume for catalog nodes....");
    SweepOptions o;
    o.begin = 0;
    o.end = blocks * bs;
    o.stride = bs;
    o.window = std::max(nodeSize, bs);
    // Chunks that stay in the cache while they are tested.
    o.chunkBytes = std::max<std::uint32_t>(1u << 20, bs);
    const std::uint16_t maxRecords = static_cast<std::uint16_t>(std::min<std::uint32_t>(999, (nodeSize - 14) / 2));
    sweepChunks(
        reader_, o, *observer_, *control_,
        [&](const std::uint8_t* bytes, std::int64_t position, std::int64_t length) -> std::int64_t {
            for (std::int64_t p = 0; p + bs <= length; p += bs) {
                const std::uint8_t* n = bytes + p;
                // A leaf node (kind -1, a height) whose first record starts right after its descriptor.
                if (n[8] != 0xFF || n[9] == 0 || n[nodeSize - 2] != 0 || n[nodeSize - 1] != 14) continue;
                std::uint16_t records = static_cast<std::uint16_t>(n[10] << 8 | n[11]);
                if (records < 1 || records > maxRecords) continue;
                // Where the node was found: catalog nodes need not start at a multiple of their size.
                decodeLeaf(Bytes(n, nodeSize), position + p, true);
            }
            return length;
        },
        [](std::int64_t) {});
    finishRecords(true);
    return true;
}

void HFSP::finishRecords(bool swept) {
    observer_->status("Maintaining Parent Child....");
    records_.clear();
    decmpfs_.clear();
    privateFolder_ = privateDirFolder_ = -1;
    // The first record seen for an ID wins; records only in unused nodes come
    // after the live ones, as deleted. Sorted and thinned in place: a volume of
    // many files is held once.
    found_.reserve(found_.size() + stale_.size() + 2);
    for (HfsCatalogRecord& r : stale_) found_.push_back(std::move(r));
    stale_.clear();
    stale_.shrink_to_fit();
    // Sorted through a list of indices, then put in place along the
    // permutation's cycles: each record moves once.
    std::vector<std::uint32_t> order(found_.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return found_[a].ownId > found_[b].ownId; });
    order.erase(std::unique(order.begin(), order.end(),
                            [&](std::uint32_t a, std::uint32_t b) { return found_[a].ownId == found_[b].ownId; }),
                order.end());
    const std::size_t kept = order.size();
    {
        // The dropped duplicates fill the places after the kept records, so the
        // moves follow a whole permutation.
        std::vector<bool> used(found_.size(), false);
        for (std::uint32_t i : order) used[i] = true;
        for (std::uint32_t i = 0; i < found_.size(); ++i)
            if (!used[i]) order.push_back(i);
    }
    std::vector<bool> placed(found_.size(), false);
    const std::vector<std::uint32_t>& from = order;  // the record position i takes
    for (std::uint32_t i = 0; i < from.size(); ++i) {
        if (placed[i] || from[i] == i) {
            placed[i] = true;
            continue;
        }
        HfsCatalogRecord held = std::move(found_[i]);
        std::uint32_t at = i;
        while (from[at] != i) {
            found_[at] = std::move(found_[from[at]]);
            placed[at] = true;
            at = from[at];
        }
        found_[at] = std::move(held);
        placed[at] = true;
    }
    found_.resize(kept);
    records_ = std::move(found_);
    found_.clear();
    // The root folder (ID 2, the lowest of all but the reserved ones) goes first.
    auto root = std::find_if(records_.begin(), records_.end(), [](const HfsCatalogRecord& r) { return r.ownId == kRootId; });
    if (root != records_.end() && root->isFolder()) {
        std::rotate(records_.begin(), root, root + 1);
    } else {
        if (root != records_.end()) records_.erase(root);
        HfsCatalogRecord made;
        made.type = 1;
        made.ownId = kRootId;
        records_.insert(records_.begin(), std::move(made));
    }
    // The root shows the label every file system's root shows, not the volume's name.
    records_[0].name.clear();
    const std::int64_t orphan = static_cast<std::int64_t>(records_.size());
    std::vector<EntryTree::Index> parentOf(records_.size() + 1, EntryTree::kOutside);
    // After a sweep a file whose folder was not found goes under the folder
    // with the next lower ID, as files usually follow their folder's creation.
    std::vector<std::pair<std::uint32_t, std::int64_t>> folders;  // ascending ID
    if (swept)
        for (std::size_t i = records_.size(); i-- > 1;)
            if (records_[i].isFolder()) folders.push_back({records_[i].ownId, static_cast<std::int64_t>(i)});
    bool orphans = false;
    char text[96];
    for (std::size_t i = 1; i < records_.size(); ++i) {
        if ((i & 4095) == 0) {
            std::snprintf(text, sizeof text, "Maintaining Parent Child for record %d of %d....", static_cast<int>(i),
                          static_cast<int>(records_.size()));
            observer_->status(text);
        }
        const HfsCatalogRecord& r = records_[i];
        const std::int64_t p = indexOf(r.parentId);
        if (p >= 0 && records_[static_cast<std::size_t>(p)].isFolder() && p != static_cast<std::int64_t>(i)) {
            parentOf[i] = p;
            continue;
        }
        orphans = true;
        parentOf[i] = EntryTree::kLost;
        if (swept && !r.isFolder()) {
            auto f = std::lower_bound(folders.begin(), folders.end(), std::make_pair(r.ownId, std::int64_t(0)));
            if (f != folders.begin()) parentOf[i] = std::prev(f)->second;
        }
    }
    if (orphans) {
        HfsCatalogRecord o;
        o.type = 1;
        o.ownId = 0;
        o.parentId = kRootId;
        o.name = "ORPHAN_ENTRY";
        records_.push_back(std::move(o));
        tree_.reset(records_.size());
        tree_.build(parentOf, 0, orphan);
    } else {
        parentOf.pop_back();
        tree_.reset(records_.size());
        tree_.build(parentOf, 0, EntryTree::kNone);
    }
    // The hard links' metadata folder, hidden as its own volume hides it.
    for (EntryTree::Index c : tree_.children(0)) {
        const std::string& n = records_[static_cast<std::size_t>(c)].name;
        if (n == kPrivateData) privateFolder_ = c;
        if (n == kPrivateDirData) privateDirFolder_ = c;
    }
    inodeFiles_.clear();
    if (privateFolder_ >= 0)
        for (EntryTree::Index c : tree_.children(privateFolder_)) {
            const std::string& n = records_[static_cast<std::size_t>(c)].name;
            if (n.size() > 5 && n.size() <= 15 && n.compare(0, 5, "iNode") == 0 &&
                n.find_first_not_of("0123456789", 5) == std::string::npos)
                inodeFiles_.emplace(static_cast<std::uint32_t>(std::stoull(n.substr(5))), c);
        }
    std::int64_t n = 0;
    for (EntryTree::Index c : tree_.children(0)) {
        const HfsCatalogRecord& r = records_[static_cast<std::size_t>(c)];
        if (hidden(c)) continue;
        std::snprintf(text, sizeof text, r.isFolder() ? "found folder at Node %lld" : "found file at Node %lld",
                      static_cast<long long>(n++));
        observer_->status(text);
    }
    loadCompressionAttributes();
}

void HFSP::loadCompressionAttributes() {
    std::unordered_map<std::uint32_t, bool> wanted;
    for (const HfsCatalogRecord& r : records_)
        if (!r.isFolder() && r.isCompressed()) wanted[r.ownId] = true;
    const HfsFork& f = header_.attributesFile;
    if (wanted.empty() || f.totalBlocks == 0) return;
    std::vector<HfsExtent> extents;
    forkExtents(kAttributesFileId, kHfsDataFork, f, extents, "attributes file");
    static const char16_t kName[] = u"com.apple.decmpfs";
    constexpr std::size_t kNameUnits = 17;
    std::vector<std::pair<std::uint32_t, HfsFork>> inForks;
    walkTree(extents, f.logicalSize, "attributes file", [&](std::uint32_t, Bytes node, bool used) {
        HfsNodeDescriptor d = decodeNodeDescriptor(node);
        if (!used || d.kind != static_cast<std::int8_t>(HfsNodeKind::Leaf)) return;
        for (std::uint16_t off : recordOffsets(node, d.records)) {
            // Key: length, pad, file ID, start block, name length, name.
            const std::size_t keyLength = be16(node, off);
            const std::uint32_t id = be32(node, off + 4);
            if (be16(node, off + 12) != kNameUnits || keyLength < 12 + 2 * kNameUnits || !wanted.count(id)) continue;
            bool same = true;
            for (std::size_t k = 0; k < kNameUnits && same; ++k) same = be16(node, off + 14 + 2 * k) == kName[k];
            if (!same) continue;
            const std::size_t rec = off + 2 + keyLength;
            const std::uint32_t type = be32(node, rec);
            if (type == 0x10) {  // inline data
                const std::size_t size = be32(node, rec + 12);
                if (rec + 16 + size <= node.size())
                    decmpfs_.emplace(id, std::vector<std::uint8_t>(node.begin() + static_cast<std::ptrdiff_t>(rec + 16),
                                                                   node.begin() + static_cast<std::ptrdiff_t>(rec + 16 + size)));
            } else if (type == 0x20) {  // in a fork of its own
                inForks.push_back({id, decodeFork(node, rec + 8)});
            }
        }
    });
    for (const auto& [id, fork] : inForks) {
        std::vector<HfsExtent> e;
        if (decmpfs_.count(id) || !forkExtents(id, kHfsDataFork, fork, e, nullptr)) continue;
        std::vector<std::uint8_t> data(static_cast<std::size_t>(std::min<std::uint64_t>(fork.logicalSize, kMaxDecmpfsFork)));
        if (readFork(e, 0, data.data(), data.size())) decmpfs_.emplace(id, std::move(data));
    }
}

std::int64_t HFSP::indexOf(std::uint32_t id) const {
    if (id == kRootId) return records_.empty() ? -1 : 0;
    // Records after the root are in descending ID order (the orphan folder, ID 0, last).
    auto it = std::lower_bound(records_.begin() + (records_.empty() ? 0 : 1), records_.end(), id,
                               [](const HfsCatalogRecord& r, std::uint32_t v) { return r.ownId > v; });
    return it != records_.end() && it->ownId == id && id != 0 ? it - records_.begin() : -1;
}

const HfsCatalogRecord* HFSP::dataRecord(std::int64_t index) const {
    if (index < 0 || index >= static_cast<std::int64_t>(records_.size())) return nullptr;
    const HfsCatalogRecord* r = &records_[static_cast<std::size_t>(index)];
    if (r->isFolder()) return nullptr;
    if (r->isHardLink()) {
        // The data is in "iNode<N>" of the metadata folder.
        auto target = inodeFiles_.find(r->special);
        if (target != inodeFiles_.end()) return &records_[static_cast<std::size_t>(target->second)];
    }
    return r;
}

std::uint64_t HFSP::logicalSize(std::int64_t index) const {
    const HfsCatalogRecord* r = dataRecord(index);
    if (!r) return 0;
    if (r->isCompressed() && r->dataFork.logicalSize == 0) {
        auto a = decmpfs_.find(r->ownId);
        if (a != decmpfs_.end()) return decodeDecmpfs(Bytes(a->second)).size;
    }
    return r->dataFork.logicalSize;
}

std::string HFSP::noDataReason(std::int64_t index) const {
    const HfsCatalogRecord* r = dataRecord(index);
    if (!r) return {};
    if (r->isHardLink()) return "a hard link whose file (iNode" + std::to_string(r->special) + ") is not in the catalog";
    if (r->isCompressed() && r->dataFork.logicalSize == 0) {
        auto a = decmpfs_.find(r->ownId);
        return undecompressable(a == decmpfs_.end() ? Bytes() : Bytes(a->second));
    }
    return {};
}

WriteResult HFSP::writeFork(std::uint32_t fileId, std::uint8_t forkType, const HfsFork& fork, DataSink& sink) {
    std::vector<HfsExtent> extents;
    std::string problem;
    bool complete = overflow_.extents(fileId, forkType, fork, header_.totalBlocks, extents, problem);
    // Never more than the volume holds, whatever a damaged size says.
    const std::uint64_t size = std::min<std::uint64_t>(fork.logicalSize, static_cast<std::uint64_t>(volumeBytes_));
    if (size < fork.logicalSize) complete = false;
    if (readBuffer_.size() < kReadChunk) readBuffer_.resize(kReadChunk);
    const std::uint64_t bs = header_.blockSize;
    std::uint64_t pos = 0;
    for (const HfsExtent& e : extents) {
        const std::uint64_t end = std::min(size, pos + static_cast<std::uint64_t>(e.count) * bs);
        const std::uint64_t base = pos;
        while (pos < end) {
            const std::uint64_t n = std::min(end - pos, kReadChunk);
            // An unreadable block is zeros in its place, and the file counts as failed.
            if (!reader_.readAt(static_cast<std::int64_t>(e.start * bs + (pos - base)), readBuffer_.data(),
                                static_cast<std::uint32_t>(n))) {
                std::fill(readBuffer_.begin(), readBuffer_.begin() + static_cast<std::ptrdiff_t>(n), 0);
                complete = false;
            }
            if (!sink.write(readBuffer_.data(), static_cast<std::size_t>(n))) return WriteResult::WriteFailed;
            pos += n;
        }
        if (pos >= size) break;
    }
    if (pos < size) {
        // Blocks no extent maps: zeros keep the length, the file counts as failed.
        complete = false;
        std::fill(readBuffer_.begin(), readBuffer_.end(), 0);
        while (pos < size) {
            const std::uint64_t n = std::min(size - pos, kReadChunk);
            if (!sink.write(readBuffer_.data(), static_cast<std::size_t>(n))) return WriteResult::WriteFailed;
            pos += n;
        }
    }
    return complete ? WriteResult::Written : WriteResult::ReadFailed;
}

WriteResult HFSP::extract(std::int64_t index, DataSink& sink) {
    const HfsCatalogRecord* r = dataRecord(index);
    if (!r) return WriteResult::NotAFile;
    if (!noDataReason(index).empty()) return WriteResult::NoData;
    if (r->isCompressed() && r->dataFork.logicalSize == 0) {
        auto a = decmpfs_.find(r->ownId);
        Bytes attribute = a == decmpfs_.end() ? Bytes() : Bytes(a->second);
        std::vector<HfsExtent> resource;
        const HfsFork fork = r->resourceFork ? *r->resourceFork : HfsFork{};
        forkExtents(r->ownId, kHfsResourceFork, fork, resource, nullptr);
        const std::uint64_t resourceSize = std::min<std::uint64_t>(fork.logicalSize, static_cast<std::uint64_t>(volumeBytes_));
        std::string reason;
        return writeDecompressed(
            attribute, resourceSize,
            [&](std::uint64_t off, std::uint8_t* out, std::size_t n) { return readFork(resource, off, out, n); }, sink,
            reason);
    }
    return writeFork(r->ownId, kHfsDataFork, r->dataFork, sink);
}

}  // namespace ondrel
