#include "fs/fat/FatParser.h"

#include "common/IoBuffer.h"
#include "common/Utf16.h"
#include "volumes/SectorSweep.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <array>
#include <cstring>

namespace ondrel {

namespace {
constexpr std::size_t kMaxLongNameParts = 20;  // 255 characters
// A FAT folder holds at most 65 536 entries; a chain that runs on is cut there.
constexpr std::size_t kMaxDirectoryBytes = 65536 * 32;

std::uint8_t shortNameChecksum(const std::uint8_t* name) {
    std::uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + name[i]);
    return sum;
}

// Bytes of an 8.3 name as UTF-8 (the OEM code page's upper half as Latin-1).
void appendOem(std::string& out, std::uint8_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// "NAME.EXT" from the 11-byte short name, with the case flags of byte 12 and
// "_" for the first character of a deleted entry.
std::string shortName(const std::uint8_t* slot, bool deleted) {
    std::uint8_t caseFlags = slot[12];
    auto part = [&](int from, int length, bool lower) {
        std::string s;
        int end = from + length;
        while (end > from && slot[end - 1] == ' ') --end;
        for (int i = from; i < end; ++i) {
            std::uint8_t c = slot[i];
            if (i == 0 && deleted) c = '_';
            else if (i == 0 && c == 0x05) c = 0xE5;  // a leading E5 byte, escaped
            if (lower && c >= 'A' && c <= 'Z') c = static_cast<std::uint8_t>(c + 32);
            appendOem(s, c);
        }
        return s;
    };
    std::string base = part(0, 8, caseFlags & 0x08);
    std::string ext = part(8, 3, caseFlags & 0x10);
    return ext.empty() ? base : base + "." + ext;
}
}  // namespace

FatParser::FatParser(const ByteSource& r, VolumeRecord v, bool fat32)
    : observer_(&silentObserver()), control_(&ownControl_), reader_(r), volume_(std::move(v)), fat_(r) {
    geometry_.fat32 = fat32;
}

void FatParser::rename(std::int32_t index, const std::string& name) {
    if (index > 0 && index < static_cast<std::int32_t>(records_.size())) records_[static_cast<std::size_t>(index)].name = name;
}

bool FatParser::checkBootSector() {
    std::array<std::uint8_t, 512> boot{};
    reader_.readAt(0, boot.data(), boot.size());
    bool fat32 = geometry_.fat32;
    bool ok = readFatGeometry(boot, fat32, geometry_);
    fat_.setLayout(geometry_.fatOffset(), geometry_.fat32 ? 4 : 2);
    if (ok) bootSectorsPerCluster_ = static_cast<int>(geometry_.sectorsPerCluster);
    return ok;
}

std::uint32_t FatParser::fatEntry(std::uint32_t c) {
    std::uint32_t e = fat_.entry(c);
    return geometry_.fat32 ? (e & 0x0FFFFFFF) : e;
}

std::uint32_t FatParser::nextCluster(std::uint32_t c) {
    if (driveFormatted_ || c < 2 || c >= geometry_.clusterLimit()) return 0;
    std::uint32_t next = fatEntry(c);
    if (next < 2 || next >= geometry_.clusterLimit()) return 0;  // free, bad or end of chain
    return next;
}

std::vector<std::uint8_t> FatParser::readDirectory(std::int32_t dirIndex) {
    std::vector<std::uint8_t> data;
    dirPieces_.clear();
    const FatEntryRecord& dir = records_[static_cast<std::size_t>(dirIndex)];
    std::string folder = dirIndex == 0 ? std::string("the root folder") : "the folder \"" + dir.name + "\"";
    if (dirIndex == 0 && !geometry_.fat32) {
        data.resize(static_cast<std::size_t>(std::min<std::int64_t>(geometry_.rootDirBytes(), kMaxDirectoryBytes)));
        if (!data.empty() &&
            !reader_.readAt(geometry_.rootDirOffset(), data.data(), static_cast<std::uint32_t>(data.size()))) {
            damage_.push_back("The image ends before " + folder + " (or cannot be read there): its entries are lost.");
            if (dirIndex == 0) rootUnreadable_ = true;
        }
        dirPieces_.push_back(geometry_.rootDirOffset());
        dirPieceBytes_ = data.size();
        return data;
    }
    std::uint32_t c = dirIndex == 0 ? geometry_.rootCluster : dir.firstCluster(geometry_.fat32);
    std::uint64_t cb = geometry_.clusterBytes();
    std::set<std::uint32_t> chain;
    bool first = true;
    while (c >= 2 && c < geometry_.clusterLimit() && chain.insert(c).second) {
        if (control_->poll()) break;
        // A cluster read for another directory is not read again: a looping or
        // cross-linked FAT cannot make the walk go round.
        if (!dirClustersRead_.insert(c).second) break;
        std::size_t at = data.size();
        if (at + cb > kMaxDirectoryBytes) {
            damage_.push_back("The cluster chain of " + folder +
                              " runs past the 65 536 entries a FAT folder can hold; it was cut there.");
            break;
        }
        data.resize(at + cb);
        if (!reader_.readAt(geometry_.clusterOffset(c), data.data() + at, static_cast<std::uint32_t>(cb))) {
            damage_.push_back("The image ends before " + folder + " (or cannot be read there): entries may be lost.");
            if (dirIndex == 0 && at == 0) rootUnreadable_ = true;
            break;
        }
        dirPieces_.push_back(geometry_.clusterOffset(c));
        dirPieceBytes_ = cb;
        // A sub-directory's first cluster starts with its "." entry; anything
        // else means the cluster now holds other data.
        if (first && dirIndex != 0 && data[at] != 0x2E) {
            data.clear();
            break;
        }
        first = false;
        c = nextCluster(c);
    }
    return data;
}

void FatParser::parseDirectory(std::int32_t dirIndex, const std::vector<std::uint8_t>& data,
                               std::vector<std::int32_t>& pending) {
    PendingName name;
    std::unordered_map<std::uint32_t, std::int32_t> dirsByCluster;  // the duplicate rule, within one folder
    for (std::size_t off = 0; off + 32 <= data.size(); off += 32) {
        const std::uint8_t* slot = data.data() + off;
        if (trackSlots_ && dirPieceBytes_ > 0 && off / dirPieceBytes_ < dirPieces_.size())
            visitedSlots_.insert(dirPieces_[off / dirPieceBytes_] + static_cast<std::int64_t>(off % dirPieceBytes_));
        std::uint8_t b0 = slot[0], attr = slot[11];
        if (b0 == 0x00) {
            name.clear();
            continue;
        }
        if (attr == 0x0F) {
            if (b0 != 0xE5 && (b0 & 0x40)) name.clear();  // the last part starts a live name
            if (name.parts.size() >= kMaxLongNameParts) name.clear();
            std::array<std::uint8_t, 26> units{};
            std::memcpy(units.data(), slot + 1, 10);
            std::memcpy(units.data() + 10, slot + 14, 12);
            std::memcpy(units.data() + 22, slot + 28, 4);
            std::size_t n = 0;
            while (n < 13 && !((units[n * 2] == 0 && units[n * 2 + 1] == 0) || (units[n * 2] == 0xFF && units[n * 2 + 1] == 0xFF))) ++n;
            std::string text = utf16leToUtf8(Bytes(units), 0, n);
            // A NUL ends the name, whatever later slots hold.
            if (n < 13 && units[n * 2] == 0 && units[n * 2 + 1] == 0) text += '\0';
            name.parts.push_back(std::move(text));
            name.deleted = b0 == 0xE5;
            name.checksum = slot[13];
            continue;
        }
        if (b0 == 0x2E || ((attr & 0x08) && !(attr & 0x10))) {  // dot entries, the volume label
            name.clear();
            continue;
        }
        FatEntryRecord r;
        r.attributes = attr;
        r.createTimeTenths = slot[13];
        r.createTime = le16(Bytes(slot, 32), 14);
        r.createDate = le16(Bytes(slot, 32), 16);
        r.accessDate = le16(Bytes(slot, 32), 18);
        r.firstClusterHigh = le16(Bytes(slot, 32), 20);
        r.writeTime = le16(Bytes(slot, 32), 22);
        r.writeDate = le16(Bytes(slot, 32), 24);
        r.firstClusterLow = le16(Bytes(slot, 32), 26);
        r.fileSize = le32(Bytes(slot, 32), 28);
        r.deleted = b0 == 0xE5;
        // The long name belongs to this entry when its checksum says so (a
        // deleted entry has lost the byte the checksum covers).
        bool useLong = !name.parts.empty() && (r.deleted ? name.deleted : name.checksum == shortNameChecksum(slot));
        if (useLong) {
            for (auto it = name.parts.rbegin(); it != name.parts.rend(); ++it) r.name += *it;
            if (auto nul = r.name.find('\0'); nul != std::string::npos) r.name.resize(nul);
            if (r.name.empty()) r.name = shortName(slot, r.deleted);
        } else {
            r.name = shortName(slot, r.deleted);
        }
        name.clear();
        if (r.name.empty()) continue;
        r.parentIndex = dirIndex;
        r.ownIndex = static_cast<std::int32_t>(records_.size());
        if (r.isDirectory()) {
            std::uint32_t c = r.firstCluster(geometry_.fat32);
            auto [it, fresh] = dirsByCluster.emplace(c, r.ownIndex);
            if (!fresh && c != 0) {
                // A live and a deleted folder naming one cluster are one folder,
                // shown under the name met last.
                FatEntryRecord& earlier = records_[static_cast<std::size_t>(it->second)];
                earlier.name = r.name;
                if (dirIndex == 0) earlier.deleted = r.deleted;
                continue;
            }
            records_.push_back(std::move(r));
            pending.push_back(records_.back().ownIndex);
        } else {
            records_.push_back(std::move(r));
        }
    }
}

void FatParser::walkPending(std::vector<std::int32_t>& pending) {
    // Folders wait on a stack, so deep trees cannot exhaust the call stack.
    while (!pending.empty()) {
        if (control_->poll()) break;
        std::int32_t dir = pending.back();
        pending.pop_back();
        std::vector<std::uint8_t> data = readDirectory(dir);
        std::vector<std::int32_t> found;
        parseDirectory(dir, data, found);
        for (auto it = found.rbegin(); it != found.rend(); ++it) pending.push_back(*it);
        if ((records_.size() & 255) == 0) observer_->progressPosition(static_cast<std::int64_t>(records_.size()));
    }
}

void FatParser::walk() {
    records_.clear();
    damage_.clear();
    rootUnreadable_ = false;
    dirClustersRead_.clear();
    visitedSlots_.clear();
    FatEntryRecord root;
    root.name = "DUMMY ENTRY";
    root.attributes = 0x10;
    records_.push_back(root);
    std::vector<std::int32_t> pending{0};
    walkPending(pending);
}

void FatParser::link() {
    // Every record names the folder it was read from (an earlier record), so
    // the tree cannot loop; record 0 is the root.
    std::vector<EntryTree::Index> parentOf(records_.size(), EntryTree::kOutside);
    for (std::size_t i = 1; i < records_.size(); ++i) parentOf[i] = records_[i].parentIndex;
    tree_.build(parentOf, 0, EntryTree::kNone);
    // The top level is what the results tree is filled with first.
    char text[64];
    for (EntryTree::Index c : tree_.children(0)) {
        std::snprintf(text, sizeof text, "filling entry =%d in tree ", static_cast<int>(c));
        observer_->status(text);
    }
}

bool FatParser::scanStandard(std::string& failure) {
    volumeBytes_ = reader_.size();
    if (!checkBootSector()) {
        failure = std::string("Selected Drive is not in ") + kindText() + " Format";
        return false;
    }
    observer_->status(std::string("Finding ") + kindText() + " File And Directory entries recursively....");
    walk();
    if (rootUnreadable_ && records_.size() == 1) {
        failure = std::string("The root folder of this ") + kindText() +
                  " volume cannot be read: the image ends before it (or cannot be read there).";
        return false;
    }
    observer_->status("maintaining tree Structure in vector...");
    observer_->status("Creating Tree Structure....");
    link();
    observer_->status("Tree Structure Created.");
    observer_->progressRange(0, 100);
    observer_->progressPosition(100);
    return true;
}

WriteResult FatParser::extract(const FatEntryRecord& r, DataSink& sink) {
    std::uint64_t remaining = r.fileSize;
    std::uint64_t cb = geometry_.clusterBytes();
    std::uint32_t c = r.firstCluster(geometry_.fat32);
    IoBuffer buf(cb);
    std::set<std::uint32_t> seen;
    bool complete = true;
    // A deleted file's chain is gone. When it was written, the allocator took
    // the free clusters after its first one and stepped over those in use;
    // clusters in use now were most likely in use then, so they are stepped
    // over too. With "Is Drive Formated..?" every following cluster is taken.
    bool consecutive = driveFormatted_ || r.deleted;
    bool skipUsed = r.deleted && !driveFormatted_;
    while (remaining > 0) {
        if (c < 2 || c >= geometry_.clusterLimit() || !seen.insert(c).second) {
            complete = false;
            break;
        }
        if (!reader_.readAt(geometry_.clusterOffset(c), buf.data(), static_cast<std::uint32_t>(cb))) complete = false;
        std::uint64_t n = std::min<std::uint64_t>(remaining, cb);
        if (!sink.write(buf.data(), n)) return WriteResult::WriteFailed;
        remaining -= n;
        if (remaining == 0) break;
        if (!consecutive) {
            c = nextCluster(c);
        } else {
            ++c;
            while (skipUsed && c < geometry_.clusterLimit() && fatEntry(c) != 0) ++c;
        }
    }
    return complete ? WriteResult::Written : WriteResult::ReadFailed;
}

}  // namespace ondrel

namespace ondrel {

std::vector<std::int64_t> FatParser::findFatCopies(int maxCount) {
    if (maxCount < 1) maxCount = 3;
    volumeBytes_ = reader_.size();
    checkBootSector();
    foundFats_.clear();
    const std::uint8_t want[4] = {0xF8, 0xFF, 0xFF, static_cast<std::uint8_t>(geometry_.fat32 ? 0x0F : 0xFF)};
    SweepOptions o;
    o.end = volumeBytes_;
    o.chunkBytes = 10485760;
    auto onChunk = [&](std::int64_t p) {
        if (!geometry_.fat32) return;
        char text[160];
        std::snprintf(text, sizeof text, "Parsing Disk Currently at position %f of the disk of size %f",
                      static_cast<double>(p), static_cast<double>(volumeBytes_));
        observer_->status(text);
    };
    sweepRange(reader_, o, *observer_, *control_, [&](const std::uint8_t* sector, std::int64_t p) -> std::int64_t {
        if (std::memcmp(sector, want, 4) != 0) return 0;
        foundFats_.push_back(p);
        observer_->status("found fat entry  " + std::to_string(foundFats_.size()) + " ");
        return static_cast<int>(foundFats_.size()) >= maxCount ? kEndSweep : 0;
    }, onChunk);
    observer_->progressPosition(1000);
    return foundFats_;
}

bool FatParser::scanAdvanced(int fatChoice, int sectorsPerCluster, std::string& failure) {
    if (sectorsPerCluster < 1 || sectorsPerCluster > 128 || (sectorsPerCluster & (sectorsPerCluster - 1)) != 0) {
        failure = "The sectors per cluster must be a power of two from 1 to 128 (given: " +
                  std::to_string(sectorsPerCluster) + ").";
        return false;
    }
    if (volumeBytes_ == 0) volumeBytes_ = reader_.size();
    bool bootValid = checkBootSector();
    std::uint32_t bootRootCluster = geometry_.rootCluster;
    geometry_.bytesPerSector = 512;
    geometry_.sectorsPerCluster = static_cast<std::uint32_t>(sectorsPerCluster);
    geometry_.totalSectors = static_cast<std::uint64_t>(volumeBytes_) / 512;
    std::int64_t fatAt = fatChoice >= 0 && fatChoice < static_cast<int>(foundFats_.size()) ? foundFats_[static_cast<std::size_t>(fatChoice)] : 0;
    geometry_.reservedSectors = static_cast<std::uint32_t>(fatAt / 512);
    std::int64_t fatBytes = foundFats_.size() >= 2 ? foundFats_[1] - foundFats_[0] : 0;
    const std::uint64_t cb = geometry_.clusterBytes();

    // Directory clusters start with "." and ".." entries; the first cluster a
    // "." entry names tells where cluster 2 lies.
    std::map<std::int64_t, int> votes;
    std::vector<std::pair<std::int64_t, std::uint32_t>> dotClusters;  // offset, cluster
    // File-entry slots, collected in the same pass (cluster numbers checked
    // against the volume's size in clusters, as the data area is not known yet).
    std::vector<std::int64_t> candidates;
    auto roughClusterCount = static_cast<std::uint32_t>(std::min<std::int64_t>(volumeBytes_ / static_cast<std::int64_t>(cb), 0x0FFFFFF7));
    // One pass: every 32-byte slot for file entries, every sector for the "."
    // and ".." pair that starts a directory cluster; two tight loops per chunk.
    SweepOptions o;
    o.end = volumeBytes_;
    o.stride = 32;
    auto scanChunk = [&](const std::uint8_t* chunk, std::int64_t p, std::int64_t n) -> std::int64_t {
        for (std::int64_t slot = 0; slot + 32 <= n; slot += 32) {
            std::uint8_t attr = chunk[slot + 11];
            if (attr != 0x20 && attr != 0x26) continue;  // nearly every slot ends here
            if (fileSlotCandidate(chunk + slot, roughClusterCount)) candidates.push_back(p + slot);
        }
        for (std::int64_t o = 0; o + 64 <= n; o += 512) {
            const std::uint8_t* s0 = chunk + o;
            if (std::memcmp(s0, ".          ", 11) != 0 || std::memcmp(s0 + 32, "..         ", 11) != 0) continue;
            if (!(s0[11] & 0x10) || !(s0[43] & 0x10)) continue;
            std::uint32_t c = static_cast<std::uint32_t>(le16(Bytes(s0, 32), 26)) |
                              (geometry_.fat32 ? static_cast<std::uint32_t>(le16(Bytes(s0, 32), 20)) << 16 : 0);
            if (c < 2) continue;
            std::int64_t base = p + o - static_cast<std::int64_t>((c - 2) * cb);
            if (base < 0) continue;
            ++votes[base];
            dotClusters.push_back({p + o, c});
        }
        return n;
    };
    auto position = [&](std::int64_t p) {
        if (geometry_.fat32) return;
        char text[96];
        std::snprintf(text, sizeof text, "currently at sector %lld of %lld", static_cast<long long>(p / 512),
                      static_cast<long long>(volumeBytes_ / 512));
        observer_->status(text);
    };
    sweepChunks(reader_, o, *observer_, *control_, scanChunk, position);
    observer_->status("Maintaining directory Structure in AdvanceScanning");
    std::int64_t dataOffset = 0;
    int best = 0;
    for (const auto& [base, count] : votes)
        if (count > best) {
            best = count;
            dataOffset = base;
        }
    if (best == 0) {
        // No directory found: the data area follows the FATs (and the FAT16 root).
        std::int64_t fatsEnd = foundFats_.empty() ? fatAt : foundFats_.back() + std::max<std::int64_t>(fatBytes, 512);
        dataOffset = fatsEnd + (geometry_.fat32 ? 0 : 16384);
    }
    // Express the data offset through the geometry fields.
    std::int64_t fatsEnd = foundFats_.empty() ? fatAt : foundFats_.back() + std::max<std::int64_t>(fatBytes, 0);
    geometry_.fatCount = 1;
    if (geometry_.fat32) {
        geometry_.rootEntries = 0;
        geometry_.sectorsPerFat = static_cast<std::uint64_t>(std::max<std::int64_t>(dataOffset - fatAt, 512) / 512);
        geometry_.rootCluster = bootValid ? bootRootCluster : 2;
    } else {
        std::int64_t root = std::max<std::int64_t>(fatsEnd, dataOffset - 16384);
        if (root > dataOffset || root <= fatAt) root = dataOffset - 16384;
        geometry_.sectorsPerFat = static_cast<std::uint64_t>(std::max<std::int64_t>(root - fatAt, 512) / 512);
        geometry_.rootEntries = static_cast<std::uint32_t>((dataOffset - (fatAt + static_cast<std::int64_t>(geometry_.sectorsPerFat) * 512)) / 32);
    }
    fat_.setLayout(geometry_.fatOffset(), geometry_.fat32 ? 4 : 2);

    trackSlots_ = true;
    walk();
    // Directories that no walk reached: under "ORPHAN ENTRY".
    FatEntryRecord orphan;
    orphan.name = "ORPHAN ENTRY";
    orphan.attributes = 0x10;
    orphan.parentIndex = 0;
    orphan.ownIndex = static_cast<std::int32_t>(records_.size());
    std::int32_t orphanIndex = orphan.ownIndex;
    records_.push_back(orphan);
    for (const auto& [offset, c] : dotClusters) {
        if (control_->poll()) break;
        if (dirClustersRead_.count(c) || geometry_.clusterOffset(c) != offset) continue;
        FatEntryRecord dir;
        dir.name = "FOLDER_" + std::to_string(c);
        dir.attributes = 0x10;
        dir.firstClusterLow = static_cast<std::uint16_t>(c & 0xFFFF);
        dir.firstClusterHigh = static_cast<std::uint16_t>(c >> 16);
        dir.parentIndex = orphanIndex;
        dir.ownIndex = static_cast<std::int32_t>(records_.size());
        records_.push_back(dir);
        std::vector<std::int32_t> pending{dir.ownIndex};
        walkPending(pending);
    }
    listStrayEntries(candidates, dataOffset, orphanIndex);
    trackSlots_ = false;
    observer_->status(geometry_.fat32 ? "Maintaining TreeStructure for Tree Control" : "Maintaining Tree Structure for Tree Control");
    link();
    return true;
}

namespace {
bool inRange(std::uint8_t c, std::uint8_t lo, std::uint8_t hi) { return c >= lo && c <= hi; }
bool upperPlus(std::uint8_t c) { return inRange(c, 0x41, 0x5B); }
bool lower(std::uint8_t c) { return inRange(c, 0x61, 0x7A); }
bool lowerPlus(std::uint8_t c) { return inRange(c, 0x5F, 0x7A); }
bool digit(std::uint8_t c) { return inRange(c, 0x30, 0x39); }
bool oneOf(std::uint8_t c, std::initializer_list<std::uint8_t> set) {
    for (std::uint8_t s : set)
        if (c == s) return true;
    return false;
}
bool validDate(std::uint16_t d) {
    int day = d & 0x1F, month = (d >> 5) & 0x0F;
    return day != 0 && month >= 1 && month <= 12;
}
bool validTime(std::uint16_t t) { return (t >> 11) < 24 && ((t >> 5) & 0x3F) < 60 && (t & 0x1F) < 30; }
}  // namespace

bool FatParser::fileSlotCandidate(const std::uint8_t* s, std::uint32_t clusterCount) const {
    std::uint8_t a = s[11], b0 = s[0], b1 = s[1];
    // The attribute byte rules out nearly every slot; test it first.
    if (a != 0x20 && (geometry_.fat32 || a != 0x26)) return false;
    if (s[12] != 0 && s[12] != 0x18) return false;
    Bytes b(s, 32);
    std::uint32_t c = geometry_.fat32 ? (static_cast<std::uint32_t>(le16(b, 20)) << 16 | le16(b, 26)) : le16(b, 26);
    bool dates = validDate(le16(b, 24)) && validDate(le16(b, 16)) && validDate(le16(b, 18)) && validTime(le16(b, 14)) &&
                 validTime(le16(b, 22));
    if (!geometry_.fat32) {
        if (a != 0x20 && a != 0x26) return false;
        if (!(upperPlus(b0) || lower(b0) || digit(b0) || oneOf(b0, {0xE5, 0x7E}))) return false;
        if (!(upperPlus(b1) || lower(b1) || digit(b1) || oneOf(b1, {0x20, 0x7E, 0x2E, 0x29, 0xE5}))) return false;
        return c < clusterCount && dates;
    }
    if (a != 0x20) return false;
    if (!(upperPlus(b0) || lowerPlus(b0) || digit(b0) || oneOf(b0, {0xE5, 0x7E}))) return false;
    if (!(upperPlus(b1) || lowerPlus(b1) || digit(b1) || oneOf(b1, {0x20, 0x7E, 0x2E, 0xE5, 0x5F}))) return false;
    bool nonZero = le16(b, 18) && le16(b, 16) && le16(b, 14) && le16(b, 22) && s[13] && le16(b, 24);
    return c != 0 && c < clusterCount && nonZero && le32(b, 28) != 0 && dates;
}

void FatParser::listStrayEntries(const std::vector<std::int64_t>& candidates, std::int64_t dataOffset,
                                 std::int32_t orphanIndex) {
    // File entries in clusters no walk reached (a folder whose own clusters
    // are gone, leftovers of a format) are listed under "ORPHAN ENTRY".
    std::int64_t found = 0;
    std::vector<std::uint8_t> around(2048);
    for (std::int64_t x : candidates) {
        if (control_->poll()) break;
        if (x < dataOffset || visitedSlots_.count(x)) continue;
        // The slot and the long-name entries just before it, within 2 KiB.
        std::int64_t start = std::max<std::int64_t>(dataOffset, x - 2016) / 32 * 32;
        auto before = static_cast<std::size_t>(x - start);
        reader_.readAt(start, around.data(), static_cast<std::uint32_t>(before + 32));
        std::size_t lfnStart = before;
        int parts = 0;
        while (lfnStart >= 32 && around[lfnStart - 32 + 11] == 0x0F && parts < 20) {
            lfnStart -= 32;
            ++parts;
        }
        std::vector<std::uint8_t> slots(around.begin() + static_cast<std::ptrdiff_t>(lfnStart),
                                        around.begin() + static_cast<std::ptrdiff_t>(before + 32));
        if (!fileSlotCandidate(slots.data() + slots.size() - 32, geometry_.clusterLimit())) continue;
        std::vector<std::int32_t> none;
        dirPieces_.assign(1, start + static_cast<std::int64_t>(lfnStart));
        dirPieceBytes_ = slots.size();
        parseDirectory(orphanIndex, slots, none);
        ++found;
        if (geometry_.fat32) observer_->status("found file or directory =  " + std::to_string(found) + " ");
    }
}

}  // namespace ondrel
