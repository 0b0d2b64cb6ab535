// The advanced mode: candidates for a lost boot sector's FAT and heap start,
// and the sweep for entry sets that reads the volume with the user's choices.
#include "fs/exfat/Fat64Class.h"

#include "fs/exfat/ExFatEntrySet.h"
#include "volumes/SectorSweep.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

namespace {
// The volume's exact extent: the sweeps end with its last byte.
std::int64_t sweepEnd(const ByteSource& volume) { return volume.size(); }
}  // namespace

void Fat64Class::findStarts(int maxCount) {
    if (maxCount < 1) maxCount = 3;
    std::string reason;
    checkBootSector(reason);
    foundFats_.clear();
    foundHeaps_.clear();
    derivedClusterShift_ = -1;
    const auto fatsWanted = static_cast<std::size_t>(maxCount);
    const auto heapsWanted = fatsWanted + 1;
    if (bootValid_) foundHeaps_.push_back(bootGeometry_.heapOffset);
    static const std::uint8_t fatStart[8] = {0xF8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    static const std::uint8_t full[8] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    // The up-case table starts by mapping the first 32 characters to themselves.
    std::uint8_t upcase[64] = {};
    for (int i = 0; i < 32; ++i) upcase[2 * i] = static_cast<std::uint8_t>(i);
    struct Root {
        std::int64_t at;
        std::uint32_t bitmap, upcase;
    };
    std::vector<Root> roots;
    std::vector<std::int64_t> upcaseTables, fullSectors;
    SweepOptions o;
    o.end = sweepEnd(reader_);
    o.chunkBytes = 10485760;
    // A full bitmap sector is the old test for a heap start; it is rare (64
    // clusters in use from the first) and the OEM parameter sectors pass it
    // too, so heap starts are also worked out from the root folder's entries.
    // A real volume has one root start and one up-case table (a re-formatted
    // one a few more); the pairs tried stay few whatever the volume holds.
    constexpr std::size_t kMaxKept = 16;
    constexpr std::size_t kMaxRootStarts = 1024;
    // The same pass keeps every slot that may start an entry set (its names
    // checked to the sector's end, as no cluster size is chosen yet), so the
    // advanced scan that follows need not read the volume again.
    sweptSets_.clear();
    sweptRoots_.clear();
    sweptEnd_ = -1;
    o.stride = 32;
    o.window = 32 * 20;
    SweepOutcome outcome = sweepChunks(reader_, o, *observer_, *control_, [&](const std::uint8_t* chunk, std::int64_t p, std::int64_t n) -> std::int64_t {
        for (std::int64_t at = 0; at + 32 <= n; at += 32) {
            const std::uint8_t* slot = chunk + at;
            std::uint8_t first = slot[0];
            if (first == 0x85 || first == 0x05) {
                if (looksLikeEntrySet(slot, 20, static_cast<std::size_t>(512 - (p + at) % 512) / 32)) sweptSets_.push_back(p + at);
                continue;
            }
            if ((p + at) % 512 != 0) continue;
            if (first == 0xF8 && foundFats_.size() < fatsWanted && std::memcmp(slot, fatStart, 8) == 0) {
                foundFats_.push_back(p + at);
                observer_->status("found fat entry  " + std::to_string(foundFats_.size()) + " ");
            } else if (first == 0xFF && fullSectors.size() < heapsWanted && std::memcmp(slot, full, 8) == 0) {
                fullSectors.push_back(p + at);
            } else if (first == 0 && slot[2] == 1 && upcaseTables.size() < kMaxKept && std::memcmp(slot, upcase, 64) == 0) {
                upcaseTables.push_back(p + at);
            } else if ((first == 0x83 || first == 0x03 || first == 0x81) && sweptRoots_.size() < kMaxRootStarts &&
                       looksLikeRootStart(slot, 3)) {
                sweptRoots_.push_back(p + at);
                if (roots.size() < kMaxKept) {
                    std::size_t i = first == 0x81 ? 0 : 32;
                    roots.push_back({p + at, le32(Bytes(slot + i, 32), 20), le32(Bytes(slot + i + 32, 32), 20)});
                }
            }
        }
        return n;
    }, [](std::int64_t) {});
    if (!outcome.stopped && outcome.reached + 32 > o.end) sweptEnd_ = o.end;
    observer_->progressPosition(1000);

    // A root folder at R names its bitmap's cluster b and its up-case table's
    // cluster u; an up-case table found at X then puts cluster 2 at
    // X - (u - 2) * cb for the right cluster size cb, where the bitmap marks
    // b, u and the root's own cluster in use.
    std::vector<std::uint8_t> bitmap(512);
    for (const Root& root : roots) {
        for (std::int64_t x : upcaseTables) {
            if (x >= root.at || root.upcase < 2 || root.bitmap < 2) continue;
            for (unsigned shift = 0; shift <= 11; ++shift) {
                auto cb = static_cast<std::int64_t>(512) << shift;
                std::int64_t heap = x - static_cast<std::int64_t>(root.upcase - 2) * cb;
                if (heap <= 0 || (root.at - heap) % cb != 0) continue;
                if (!foundFats_.empty() && heap <= foundFats_.front()) continue;
                std::int64_t rootCluster = (root.at - heap) / cb + 2;
                std::int64_t bitmapAt = heap + static_cast<std::int64_t>(root.bitmap - 2) * cb;
                if (!reader_.readAt(bitmapAt, bitmap.data(), 512)) continue;
                auto used = [&](std::int64_t c) {
                    std::int64_t bit = c - 2;
                    return bit / 8 < 512 && ((bitmap[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1);
                };
                if (!used(root.bitmap) || !used(root.upcase) || !used(rootCluster)) continue;
                if (std::find(foundHeaps_.begin(), foundHeaps_.end(), heap) == foundHeaps_.end()) foundHeaps_.push_back(heap);
                if (derivedClusterShift_ < 0) derivedClusterShift_ = static_cast<int>(shift);
            }
        }
    }
    for (std::int64_t p : fullSectors)
        if (foundHeaps_.size() < heapsWanted && std::find(foundHeaps_.begin(), foundHeaps_.end(), p) == foundHeaps_.end())
            foundHeaps_.push_back(p);
}

bool Fat64Class::scanAdvanced(int fatChoice, int heapChoice, unsigned clusterShift, std::string& failure) {
    if (clusterShift > 16) {
        failure = "The sectors per cluster must be a power of two from 1 to 65536.";
        return false;
    }
    std::int64_t end = sweepEnd(reader_);
    auto pick = [](const std::vector<std::int64_t>& list, int i) {
        return i >= 0 && static_cast<std::size_t>(i) < list.size() ? list[static_cast<std::size_t>(i)] : 0;
    };
    std::int64_t fatAt = pick(foundFats_, fatChoice), heapAt = pick(foundHeaps_, heapChoice);
    geometry_ = ExFatGeometry{};
    geometry_.sectorShift = 9;
    geometry_.clusterShift = clusterShift;
    geometry_.fatOffset = fatAt;
    geometry_.heapOffset = heapAt;
    const std::uint64_t cb = geometry_.clusterBytes();
    geometry_.clusterCount =
        heapAt > 0 && heapAt < end ? static_cast<std::uint32_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(end - heapAt) / cb, 0xFFFFFFF5)) : 0;
    fat_.setLayout(fatAt, 4);
    startRecords(true);
    trackSets_ = true;
    visitedSets_.clear();
    orphanTops_.clear();

    // One pass over the volume: every slot that starts a plausible entry set,
    // and where a root folder starts (allocation bitmap and up-case table).
    // The search for FAT and heap starts made that pass already when it read
    // the whole volume.
    std::vector<std::int64_t> candidates, roots;
    if (sweptEnd_ == end) {
        candidates = sweptSets_;
        roots = sweptRoots_;
    }
    SweepOptions o;
    o.end = end;
    o.stride = 32;
    o.window = 32 * 20;  // a file entry, its stream and 17 names, whole across a chunk's end
    if (sweptEnd_ != end) sweepChunks(reader_, o, *observer_, *control_, [&](const std::uint8_t* chunk, std::int64_t p, std::int64_t n) -> std::int64_t {
        for (std::int64_t at = 0; at + 32 <= n; at += 32) {
            std::uint8_t type = chunk[at];
            if (type == 0x85 || type == 0x05) {
                // Slots up to the end of the slot's cluster, once the heap is known.
                std::size_t toEnd = 20;
                if (p + at >= heapAt && heapAt > 0)
                    toEnd = std::min<std::size_t>(20, (cb - static_cast<std::uint64_t>(p + at - heapAt) % cb) / 32);
                if (looksLikeEntrySet(chunk + at, 20, toEnd)) {
                    candidates.push_back(p + at);
                    if ((candidates.size() & 1023) == 1)
                        observer_->status("found Entry " + std::to_string(candidates.size()) + " ");
                }
            } else if ((type == 0x81 || type == 0x83 || type == 0x03) && looksLikeRootStart(chunk + at, 3)) {
                roots.push_back(p + at);
            }
        }
        return n;
    }, [](std::int64_t) {});
    observer_->status("Maintaining TreeStructure for Tree Control");
    if (fatAt <= 0 || heapAt <= 0 || geometry_.clusterCount == 0) {
        damage_.push_back(fatAt <= 0 && heapAt <= 0 ? "No FAT and no cluster heap start were found on this volume: no folder or file can be read from it."
                          : fatAt <= 0             ? "No FAT start was found on this volume: no folder or file can be read from it."
                                                   : "No cluster heap start was found on this volume: no folder or file can be read from it.");
        linkTree(1);
        return true;
    }

    // The root folder: the boot sector's when it is readable and agrees with
    // the choices, else the first root start at a cluster's beginning.
    std::uint32_t root = 0;
    if (bootValid_ && bootGeometry_.heapOffset == heapAt && bootGeometry_.clusterShift + bootGeometry_.sectorShift == 9 + clusterShift)
        root = bootGeometry_.rootCluster;
    for (std::int64_t r : roots) {
        if (root != 0) break;
        if (r >= heapAt && (r - heapAt) % static_cast<std::int64_t>(cb) == 0)
            root = static_cast<std::uint32_t>(static_cast<std::uint64_t>(r - heapAt) / cb + 2);
    }
    if (geometry_.validCluster(root)) walkRootDirectory(root);

    // Sets no walk reached: folders first (their walks claim their files), then files.
    std::vector<std::uint8_t> slots(32 * 20);
    for (int pass = 0; pass < 2; ++pass) {
        for (std::int64_t x : candidates) {
            if (control_->poll()) break;
            if (visitedSets_.count(x)) continue;
            if (!reader_.readAt(x, slots.data(), static_cast<std::uint32_t>(slots.size()))) continue;
            // A set is read to its cluster's end: what follows belongs to no chain known.
            std::size_t toEnd = x >= heapAt ? std::min<std::size_t>(20, (cb - static_cast<std::uint64_t>(x - heapAt) % cb) / 32) : 20;
            ExFatEntryRecord r;
            if (!looksLikeEntrySet(slots.data(), 20, toEnd)) continue;
            if (decodeEntrySet(slots.data(), toEnd, false, r).status != SetStatus::Decoded) continue;
            if (r.isDirectory() != (pass == 0)) continue;
            std::unordered_map<std::uint32_t, std::int32_t> none;
            std::vector<Pending> found;
            auto index = static_cast<std::int32_t>(records_.size());
            addRecord(1, r, x, none, found);
            if (r.isDirectory() && static_cast<std::int32_t>(records_.size()) > index) {
                orphanTops_[x] = index;
                std::vector<Pending> live;
                if (r.deleted()) deferred_.push_back({index, true});
                else live.push_back({index, false});
                walkEntrySets(live);
            }
        }
    }
    linkTree(1);
    return true;
}

}  // namespace ondrel
