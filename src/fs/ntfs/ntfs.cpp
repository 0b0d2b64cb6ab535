#include "fs/ntfs/ntfs.h"
#include "common/IoBuffer.h"
#include "volumes/SectorSweep.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <unordered_map>

namespace ondrel {

namespace {
constexpr std::int64_t kSweepChunk = 10485760;  // 10 MiB
constexpr std::int64_t kWalkChunk = 4 << 20;

std::string formatInt(const char* fmt, long long v) {
    char buf[96];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}
bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }
}  // namespace

ntfs::ntfs(const ByteSource& r, VolumeRecord v) : reader_(r), volume_(std::move(v)) {}

void ntfs::rename(std::int64_t index, const std::string& name) {
    if (index >= 0 && index < static_cast<std::int64_t>(entries_.size())) entries_[static_cast<std::size_t>(index)].name = name;
}

void ntfs::prepare() {
    failure_.clear();
    unreadableMftBytes_ = 0;
}

bool ntfs::readBootSector() {
    bootSector_.fill(0);
    reader_.readAt(0, bootSector_.data(), 512);
    Bytes b(bootSector_);
    std::uint32_t bps = le16(b, 11);
    std::uint32_t spcRaw = le8(b, 13);
    // Above 0x80 the byte is a negative power of two; clusters stay below 2 MiB.
    std::uint64_t spc = spcRaw > 0x80 ? (256 - spcRaw <= 12 ? (1ull << (256 - spcRaw)) : 0) : spcRaw;
    bootSectorValid_ = hasText(b, 3, "NTFS") && bps >= 256 && bps <= 4096 && (bps & (bps - 1)) == 0 && spc != 0 &&
                       bps * spc <= (2u << 20) &&
                      (spc & (spc - 1)) == 0;
    if (bootSectorValid_) {
        // A truncated image holds less of the volume than its boot sector says.
        volumeSize_ = std::min<std::int64_t>(static_cast<std::int64_t>(std::min<std::uint64_t>(le64(b, 40), std::uint64_t(1) << 53)) * 512,
                                             reader_.size());
        clusterSize_ = static_cast<std::int64_t>(bps * spc);
        auto perRecord = static_cast<std::int8_t>(le8(b, 0x40));
        std::int64_t size = perRecord > 0 ? perRecord * clusterSize_
                            : (perRecord < 0 && perRecord >= -16 ? (std::int64_t(1) << -perRecord) : 1024);
        recordSize_ = (size >= 256 && size <= 65536) ? static_cast<std::uint32_t>(size) : 1024;
    } else {
        volumeSize_ = reader_.size();
    }
    return volumeSize_ != 0;
}

bool ntfs::readRecord(std::int64_t diskOffset, std::vector<std::uint8_t>& out) {
    out.assign(recordSize_, 0);
    return reader_.readAt(diskOffset, out.data(), recordSize_);
}

std::vector<NtfsRun> ntfs::dataRuns(Bytes raw) const {
    NtfsRecord rec(raw);
    if (!rec.isFile()) return {};
    for (const auto& a : rec.attributes())
        if (a.type == kData && a.nonResident && a.nameLength == 0)
            return decodeRunList(rec.runList(a), static_cast<std::uint64_t>(a.lastVcn) - static_cast<std::uint64_t>(a.startVcn) + 1);
    return {};
}

void ntfs::decode(NtfsEntry& e, Bytes raw) {
    std::memcpy(e.magic, raw.data(), std::min<std::size_t>(4, raw.size()));
    NtfsRecord rec(raw);
    if (!rec.isFile()) return;
    e.recordFlags = rec.flags();
    e.recordNumber = rec.recordNumber();
    e.baseRecord = rec.baseReference();
    if (rec.isDirectory()) e.kind = 'D';
    int nameSpace = -1;
    bool nonResidentData = false;
    for (const auto& a : rec.attributes()) {
        if (a.type == kStandardInformation && !a.nonResident) {
            Bytes c = rec.content(a);
            if (c.size() >= 32) {
                e.created = le64(c, 0);
                e.modified = le64(c, 8);
                e.accessed = le64(c, 24);
                e.hasTimes = true;
            }
        } else if (a.type == kAttributeList) {
            e.hasAttributeList = true;
        } else if (a.type == kFileName && !a.nonResident) {
            Bytes c = rec.content(a);
            if (c.size() < 66) continue;
            std::uint32_t flags = le32(c, 56);
            if (flags & 0x10000000) e.kind = 'D';
            int ns = le8(c, 65);
            std::string name = utf16leToUtf8(c, 66, le8(c, 64));
            if (auto nul = name.find('\0'); nul != std::string::npos) name.resize(nul);  // a NUL ends the name
            auto parent = static_cast<std::int64_t>(le64(c, 0) & 0xFFFFFFFFFFFFull);
            if (e.baseRecord != 0) {
                // A name kept in an extension record belongs to its base record.
                extraLinks_.push_back({-1, e.baseRecord, name, parent, flags, ns});
                continue;
            }
            if (e.hasName && !(nameSpace == 2 && ns != 2)) {
                // Another long name is a hard link: the file shows in that folder too.
                if (ns != 2 && nameSpace != 2 && (name != e.name || parent != e.parent))
                    extraLinks_.push_back({e.ownIndex, 0, name, parent, flags, ns});
                continue;
            }
            // A long (Win32 or POSIX) name wins over a DOS 8.3 name, whatever the order.
            e.name = std::move(name);
            e.hasName = true;
            nameSpace = ns;
            e.parent = parent;
            e.size = static_cast<std::int64_t>(le64(c, 40));
            e.fileAttributes = flags;
        } else if (a.type == kData && a.nameLength == 0) {
            if (!a.nonResident) {
                if (!nonResidentData) {
                    e.dataSize = a.contentLength;
                    e.hasData = true;
                }
            } else if (!nonResidentData && a.startVcn == 0) {
                e.dataSize = static_cast<std::uint64_t>(std::max<std::int64_t>(a.realSize, 0));
                e.hasData = true;
                nonResidentData = true;
            }
        }
    }
}

NtfsEntry& ntfs::addEntry(Bytes raw, std::int64_t diskOffset) {
    NtfsEntry e;
    e.diskOffset = diskOffset;
    e.ownIndex = static_cast<std::int64_t>(entries_.size());
    decode(e, raw);
    entries_.push_back(std::move(e));
    return entries_.back();
}

template <typename OnRecord>
void ntfs::sweep(std::int64_t limit, OnRecord onRecord) {
    // Every sector that starts like an MFT record; a record that crosses a
    // chunk's end is seen whole through the sweep's margin.
    SweepOptions o;
    o.end = limit;
    o.window = recordSize_;
    o.chunkBytes = kSweepChunk;
    o.progress = SweepOptions::Progress::Chunks;
    sweepRange(reader_, o, *observer_, *control_, [&](const std::uint8_t* at, std::int64_t offset) -> std::int64_t {
        if (!NtfsRecord::plausibleHeader(Bytes(at, 512))) return 0;
        return onRecord(Bytes(at, recordSize_), offset) ? kEndSweep : recordSize_;
    });
}

bool ntfs::locateMft() {
    if (clusterSize_ == 0) clusterSize_ = 4096;
    if (bootSectorValid_) {
        mftRunsKnown_ = true;
        // A cluster number no volume has points nowhere (and would overflow the offset).
        std::uint64_t mftCluster = le64(bootSector_, 48);
        mftOffset_ = mftCluster > static_cast<std::uint64_t>(kMaxNtfsClusters)
                         ? -1
                         : static_cast<std::int64_t>(mftCluster) * clusterSize_;
        std::vector<std::uint8_t> record;
        if (mftOffset_ < 0 || !readRecord(mftOffset_, record)) return true;
        observer_->status("boot sector is fine.Getting run of mft entry...");
        mftRuns_ = dataRuns(record);
        observer_->status("Got run...");
        takeRunsFromFirstEntry_ = false;
        if (!mftRuns_.empty()) return true;
        // The boot sector points at no MFT: look for it as if the sector were damaged.
        mftRunsKnown_ = false;
    }
    clusterSize_ = bootSectorValid_ ? clusterSize_ : 4096;
    observer_->status("boot sector corrupt.Scanning for first mft entry...");
    mftRunsKnown_ = false;
    mftOffset_ = 0;
    sweep(volumeSize_, [&](Bytes raw, std::int64_t offset) {
        NtfsEntry probe;
        decode(probe, raw);
        if (!lookForMft_ || !startsWith(probe.name, "$MF")) return false;
        observer_->status("found mft entry.getting its run ...");
        mftRuns_ = dataRuns(raw);
        observer_->status("got run ...");
        if (mftRuns_.empty()) return false;
        mftOffset_ = offset;
        mftRunsKnown_ = true;
        takeRunsFromFirstEntry_ = false;
        return true;
    });
    entries_.clear();
    extraLinks_.clear();
    return mftRunsKnown_;
}

void ntfs::walkMft() {
    if (!mftRunsKnown_ || control_->stopRequested()) return;
    if (clusterSize_ == 0) clusterSize_ = 4096;
    entries_.clear();
    extraLinks_.clear();
    unreadableMftBytes_ = 0;
    std::uint64_t totalBytes = 0;
    for (const auto& r : mftRuns_) totalBytes += r.length * static_cast<std::uint64_t>(clusterSize_);
    std::uint64_t totalRecords = totalBytes / recordSize_;
    // A damaged run list must not make us reserve the impossible.
    std::uint64_t bound = static_cast<std::uint64_t>(std::max<std::int64_t>(volumeSize_, 0)) / recordSize_ + 16;
    if (totalRecords > bound) totalRecords = bound;
    entries_.reserve(totalRecords + 1);
    observer_->progressRange(0, static_cast<std::int64_t>(totalRecords));

    IoBuffer chunk;
    std::vector<std::uint8_t> carry;  // a record split over two runs
    for (const auto& run : mftRuns_) {
        if (control_->poll() || entries_.size() >= totalRecords) break;
        observer_->status(formatInt("parsing %d cluster of MFT run.", static_cast<long long>(run.startCluster)));
        std::int64_t runBytes = static_cast<std::int64_t>(run.length) * clusterSize_;
        std::int64_t start = run.startCluster * clusterSize_;
        for (std::int64_t done = 0; done < runBytes && entries_.size() < totalRecords;) {
            if (control_->poll()) break;
            std::int64_t n = std::min(kWalkChunk, runBytes - done);
            chunk.assign(static_cast<std::size_t>(n), 0);
            if (!run.sparse && !reader_.readAt(start + done, chunk.data(), static_cast<std::uint32_t>(n)))
                unreadableMftBytes_ += n;
            std::int64_t diskBase = start + done;
            std::size_t p = 0;
            if (!carry.empty()) {
                std::size_t need = recordSize_ - carry.size();
                std::size_t take = std::min<std::size_t>(need, chunk.size());
                std::int64_t recordStart = diskBase - static_cast<std::int64_t>(carry.size());
                carry.insert(carry.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(take));
                p = take;
                if (carry.size() == recordSize_) {
                    addEntry(Bytes(carry), recordStart);
                    carry.clear();
                }
            }
            for (; p + recordSize_ <= chunk.size() && entries_.size() < totalRecords; p += recordSize_) {
                addEntry(Bytes(chunk.data() + p, recordSize_), diskBase + static_cast<std::int64_t>(p));
                if ((entries_.size() & 1023) == 0) {
                    observer_->status(formatInt("parsing MFT entry %d...", static_cast<long long>(entries_.size())));
                    observer_->progressPosition(static_cast<std::int64_t>(entries_.size()));
                    if (control_->poll()) break;
                }
            }
            if (p < chunk.size()) carry.assign(chunk.begin() + static_cast<std::ptrdiff_t>(p), chunk.end());
            done += n;
        }
    }
    observer_->progressPosition(static_cast<std::int64_t>(entries_.size()));
}

std::int64_t ntfs::recordOffset(std::uint64_t recordNumber) const {
    if (!recordByNumber_.empty()) {
        auto it = recordByNumber_.find(recordNumber);
        return it == recordByNumber_.end() ? -1 : it->second;
    }
    if (clusterSize_ <= 0) return -1;
    std::uint64_t byte = recordNumber * recordSize_;
    for (const auto& r : mftRuns_) {
        std::uint64_t runBytes = r.length * static_cast<std::uint64_t>(clusterSize_);
        if (byte < runBytes) return r.sparse ? -1 : r.startCluster * clusterSize_ + static_cast<std::int64_t>(byte);
        byte -= runBytes;
    }
    return -1;
}

void ntfs::link() {
    // Records name their parent by record number, which is the entry's index
    // here; a parent that is no folder record makes the entry an orphan.
    auto count = static_cast<std::int64_t>(entries_.size());
    std::vector<EntryTree::Index> parentOf(entries_.size(), EntryTree::kOutside);
    for (std::int64_t a = 1; a < count; ++a) {
        const NtfsEntry& e = entries_[static_cast<std::size_t>(a)];
        if (!e.isFile() || !e.hasName) continue;
        std::int64_t parent = e.parent;
        bool linkable = parent >= 0 && parent < count && parent != a &&
                        entries_[static_cast<std::size_t>(parent)].isFile() &&
                        entries_[static_cast<std::size_t>(parent)].kind == 'D';
        parentOf[static_cast<std::size_t>(a)] = linkable ? parent : EntryTree::kLost;
    }
    tree_.build(parentOf, rootIndex_, orphanIndex_);
}

void ntfs::linkDeep() {
    // Every folder under the orphan folder (the first 100 001 of them), every
    // file under the folder found last before it.
    tree_.reset(entries_.size());
    std::int64_t lastFolder = orphanIndex_;
    std::int64_t folders = 0;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        auto idx = static_cast<std::int64_t>(i);
        const NtfsEntry& e = entries_[i];
        if (idx == orphanIndex_ || idx == rootIndex_ || !e.isFile() || !e.hasName) continue;
        if (e.kind == 'D' && folders++ <= 100000) {
            tree_.prepend(orphanIndex_, idx);
            lastFolder = idx;
        } else {
            tree_.prepend(lastFolder, idx);
        }
    }
}

void ntfs::fillSizesFromExtensions() {
    // A file whose $DATA moved to extension records (through an attribute
    // list) takes its size from the extent that starts the data.
    std::unordered_map<std::uint64_t, std::int64_t> bases;
    for (const auto& e : entries_)
        if (e.isFile() && e.baseRecord == 0 && e.hasAttributeList) bases.emplace(e.recordNumber, e.ownIndex);
    for (const auto& e : entries_) {
        if (!e.isFile() || e.baseRecord == 0 || !e.hasData) continue;
        auto it = bases.find(e.baseRecord);
        if (it == bases.end()) continue;
        NtfsEntry& base = entries_[static_cast<std::size_t>(it->second)];
        if (!base.hasData) {
            base.dataSize = e.dataSize;
            base.hasData = true;
        }
    }
}

void ntfs::addHardLinks(bool copies) {
    std::unordered_map<std::uint64_t, std::int64_t> bases;
    for (const auto& e : entries_)
        if (e.isFile() && e.baseRecord == 0) bases.emplace(e.recordNumber, e.ownIndex);
    std::vector<int> nameSpaces(entries_.size(), -1);  // of names taken from extension records
    // Long names first, so that a DOS name only names a file that has no other.
    std::stable_sort(extraLinks_.begin(), extraLinks_.end(),
                     [](const HardLink& a, const HardLink& b) { return (a.nameSpace == 2) < (b.nameSpace == 2); });
    std::size_t decoded = entries_.size();
    for (const auto& link : extraLinks_) {
        std::int64_t index = link.index;
        if (index < 0) {
            auto it = bases.find(link.baseRecord);
            if (it == bases.end()) continue;
            index = it->second;
        }
        if (index < 0 || static_cast<std::size_t>(index) >= decoded) continue;
        NtfsEntry& owner = entries_[static_cast<std::size_t>(index)];
        if (!owner.hasName) {
            owner.name = link.name;
            owner.parent = link.parent;
            owner.fileAttributes = link.attributes;
            owner.hasName = true;
            if (link.attributes & 0x10000000) owner.kind = 'D';
            nameSpaces[static_cast<std::size_t>(index)] = link.nameSpace;
            continue;
        }
        if (!copies || link.nameSpace == 2 || (link.name == owner.name && link.parent == owner.parent)) continue;
        NtfsEntry copy = owner;
        copy.name = link.name;
        copy.parent = link.parent;
        copy.fileAttributes = link.attributes;
        copy.ownIndex = static_cast<std::int64_t>(entries_.size());
        entries_.push_back(std::move(copy));
    }
    extraLinks_.clear();
}

void ntfs::finishTree() {
    // Deep mode shows each record once: extension records only name their base.
    addHardLinks(mode_ != 3);
    if (mode_ == 3) {
        std::erase_if(entries_, [](const NtfsEntry& e) { return !e.hasName; });
        for (std::size_t i = 0; i < entries_.size(); ++i) entries_[i].ownIndex = static_cast<std::int64_t>(i);
    }
    NtfsEntry orphan;
    std::memcpy(orphan.magic, "FILE", 4);
    orphan.name = "ORPHAN_ENTRY";
    orphan.hasName = true;
    orphan.kind = 'D';
    orphan.recordFlags = 1;
    orphan.ownIndex = static_cast<std::int64_t>(entries_.size());
    orphanIndex_ = orphan.ownIndex;
    entries_.push_back(orphan);
    rootIndex_ = static_cast<std::int64_t>(entries_.size());
    for (const auto& e : entries_)
        if (e.isFile() && e.hasName && e.name == "." && e.ownIndex != orphanIndex_) {
            rootIndex_ = e.ownIndex;
            break;
        }
    if (mode_ == 3) linkDeep();
    else link();
    fillSizesFromExtensions();
}

bool ntfs::scanStandard() {
    prepare();
    if (!readBootSector()) return false;
    observer_->status(" ParsingBasedOnMFT is going on....");
    locateMft();
    walkMft();
    finishTree();
    return foundRecords();
}

bool ntfs::foundRecords() {
    damage_.clear();
    if (unreadableMftBytes_ > 0)
        damage_.push_back("Part of the MFT could not be read (" + std::to_string(unreadableMftBytes_ / recordSize_) +
                          " records): the image ends before it or cannot be read there.");
    for (const NtfsEntry& e : entries_)
        if (e.isFile() && e.ownIndex != orphanIndex_) return true;
    if (control_->stopRequested()) return true;  // stopped before any record: nothing is wrong
    failure_ = mftRunsKnown_ || mode_ == 3
                   ? "No MFT record could be read from this volume: the image ends before its MFT, or the MFT is damaged."
                   : "No MFT was found on this volume: its boot sector is damaged and no copy of the MFT's own record is left.";
    return false;
}

bool ntfs::scanDeep() {
    prepare();
    if (!readBootSector()) return false;
    if (clusterSize_ == 0) clusterSize_ = 4096;
    observer_->status(" scanning for mft entries in deep mode ....");
    entries_.clear();
    mftRunsKnown_ = false;
    sweep(volumeSize_, [&](Bytes raw, std::int64_t offset) {
        NtfsEntry& e = addEntry(raw, offset);
        // Extension records are found through this map, named or not.
        if (e.isFile()) recordByNumber_.emplace(e.recordNumber, offset);
        // A record without a name is dropped, unless its names were moved to
        // extension records (it then has an attribute list).
        if (!e.hasName && !(e.hasAttributeList && e.baseRecord == 0)) {
            entries_.pop_back();
            return false;
        }
        observer_->status(formatInt("MFT ENTRY %d Found.Parsing it ..", static_cast<long long>(entries_.size())));
        return false;
    });
    finishTree();
    return foundRecords();
}

int ntfs::findMftRecords(int maxCount) {
    if (maxCount < 1) maxCount = 3;
    prepare();
    readBootSector();
    if (clusterSize_ == 0) clusterSize_ = 4096;
    foundMft_.clear();
    std::int64_t size = reader_.size();
    if (size <= 1024) {
        lookForMft_ = false;
        return 0;
    }
    std::deque<NtfsEntry> recent;  // the last eight records, enough to look back seven
    std::int64_t seen = 0;
    bool found = false;
    std::int64_t chunkEnd = 0;
    sweep(size - 1024, [&](Bytes raw, std::int64_t offset) {
        // The stop test of the finder runs at chunk boundaries.
        if (offset >= chunkEnd) {
            chunkEnd = (offset / kSweepChunk + 1) * kSweepChunk;
            if (found && static_cast<int>(foundMft_.size()) >= maxCount) return true;
        }
        NtfsEntry e;
        e.diskOffset = offset;
        e.ownIndex = seen++;
        decode(e, raw);
        recent.push_back(e);
        if (recent.size() > 8) recent.pop_front();
        if (recent.size() == 8 && startsWith(e.name, "$Boot")) {
            const NtfsEntry& candidate = recent.front();
            if (startsWith(candidate.name, "$MFT") && (candidate.name.size() < 5 || candidate.name[4] != 'M')) {
                foundMft_.push_back(candidate);
                observer_->status(formatInt("MFT ENTRY %d Found.Parsing it ...", static_cast<long long>(seen)));
                found = true;
            }
        }
        return false;
    });
    if (control_->stopRequested()) control_->reset();
    lookForMft_ = false;
    return static_cast<int>(foundMft_.size());
}

bool ntfs::takeRunsFromFound(int choice) {
    if (choice < 0 || choice >= static_cast<int>(foundMft_.size())) return false;
    std::vector<std::uint8_t> raw;
    if (!readRecord(foundMft_[static_cast<std::size_t>(choice)].diskOffset, raw)) return false;
    mftRuns_ = dataRuns(raw);
    if (mftRuns_.empty()) return false;
    mftRunsKnown_ = true;
    takeRunsFromFirstEntry_ = false;
    return true;
}

bool ntfs::scanAdvanced(int choice, int sectorsPerCluster) {
    entries_.clear();
    prepare();
    if (!takeRunsFromFound(choice)) return false;
    if (sectorsPerCluster > 0) clusterSize_ = static_cast<std::int64_t>(sectorsPerCluster) * 512;
    walkMft();
    finishTree();
    return foundRecords();
}

}  // namespace ondrel
