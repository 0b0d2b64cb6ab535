#include "diskimage/FileReadSeekVhdx.h"

#include "common/Utf16.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace ondrel {

namespace {
constexpr std::uint64_t kHeaderOffsets[2] = {64 * 1024, 128 * 1024};
constexpr std::uint64_t kRegionOffsets[2] = {192 * 1024, 256 * 1024};
constexpr std::uint32_t kMaxTableEntries = 2047;
constexpr std::uint64_t kMaxLogBytes = std::uint64_t(1) << 30;
constexpr std::uint64_t kMaxLocatorBytes = 64 * 1024;
constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// Block states (the low three bits of a table entry).
constexpr std::uint64_t kNotPresent = 0, kUndefined = 1, kZeroBlock = 2, kUnmappedBlock = 3, kFullyPresent = 6,
                        kPartiallyPresent = 7;

std::uint64_t entryState(std::uint64_t e) { return e & 7; }
std::uint64_t entryOffset(std::uint64_t e) { return (e >> 20) * kVhdxMiB; }

using LogPages = std::map<std::uint64_t, std::vector<std::uint8_t>>;
using LogZeros = std::map<std::uint64_t, std::uint64_t>;

// Zeroing drops the pages it covers and joins the ranges it touches, so the
// two maps never overlap.
void logZero(LogPages& pages, LogZeros& zeros, std::uint64_t a, std::uint64_t length) {
    if (length == 0) return;
    std::uint64_t b = a + length;
    pages.erase(pages.lower_bound(a / kVhdxLogSector), pages.lower_bound(b / kVhdxLogSector));
    auto it = zeros.upper_bound(a);
    if (it != zeros.begin() && std::prev(it)->second >= a) --it;
    while (it != zeros.end() && it->first <= b) {
        a = std::min(a, it->first);
        b = std::max(b, it->second);
        it = zeros.erase(it);
    }
    zeros[a] = b;
}

void logPage(LogPages& pages, LogZeros& zeros, std::uint64_t page, std::vector<std::uint8_t> bytes) {
    std::uint64_t x = page * kVhdxLogSector;
    auto it = zeros.upper_bound(x);
    if (it != zeros.begin() && std::prev(it)->second > x) {
        auto z = std::prev(it);
        std::uint64_t s = z->first, e = z->second;
        zeros.erase(z);
        if (s < x) zeros[s] = x;
        if (x + kVhdxLogSector < e) zeros[x + kVhdxLogSector] = e;
    }
    pages[page] = std::move(bytes);
}
}  // namespace

bool FileReadSeekVhdx::open(const std::string& path, const OpenOptions& options) {
    bat_.clear();
    logPages_.clear();
    logZeros_.clear();
    bitmaps_.clear();
    parentLocator_.clear();
    parent_.reset();
    logEntriesReplayed = 0;
    hasParent = false;
    if (!openFile(path, options)) return false;

    std::uint8_t id[8] = {};
    if (file_.readAt(0, id, sizeof id) < static_cast<std::int64_t>(sizeof id) || !hasText(Bytes(id), 0, "vhdxfile"))
        return fail("Not a VHDX file: the \"vhdxfile\" identifier is missing.");
    VhdxHeader header;
    if (!readHeaders(header)) return false;
    if (!isNullGuid(header.logGuid)) {
        replayLog(header);
        // The log may have rewritten a header as well.
        if (logEntriesReplayed > 0 && !readHeaders(header)) return false;
    }
    VhdxRegion batRegion, metadataRegion;
    if (!readRegions(batRegion, metadataRegion) || !readMetadata(metadataRegion)) return false;
    readBlockTable(batRegion);
    if (hasParent && !openParentDisk()) return false;

    setSectorCount(virtualSize / kSectorSize);
    if (options.diskSizeOverride != 0) setSectorCount(options.diskSizeOverride >> 9);
    return true;
}

bool FileReadSeekVhdx::readHeaders(VhdxHeader& current) {
    std::vector<std::uint8_t> raw(kVhdxHeaderBytes);
    int valid = 0;
    for (std::uint64_t at : kHeaderOffsets) {
        readThrough(at, raw.data(), raw.size());
        VhdxHeader h = parseVhdxHeader(raw);
        if (!h.valid) continue;
        if (valid++ == 0 || h.sequenceNumber > current.sequenceNumber) current = h;
    }
    if (valid == 0)
        return fail(fileLength < static_cast<std::int64_t>(kRegionOffsets[0])
                        ? "The VHDX file is truncated: its headers are incomplete."
                        : "Neither VHDX header (at 64 KiB and 128 KiB) is valid; the file is damaged.");
    if (valid == 1 && warnings().empty()) warn("One of the two VHDX headers is damaged; the other one is used.");
    headerSequence = current.sequenceNumber;
    dataWriteGuidBytes = current.dataWriteGuid;
    dataWriteGuid = guidText(current.dataWriteGuid);
    return true;
}

bool FileReadSeekVhdx::readRegions(VhdxRegion& bat, VhdxRegion& metadata) {
    std::vector<std::uint8_t> raw(kVhdxTableBytes);
    bool found = false;
    for (std::uint64_t at : kRegionOffsets) {
        readThrough(at, raw.data(), raw.size());
        if (hasText(raw, 0, "regi") && le32(raw, 8) <= kMaxTableEntries && vhdxChecksumMatches(raw)) {
            found = true;
            break;
        }
    }
    if (!found) return fail("Neither VHDX region table (at 192 KiB and 256 KiB) is valid; the file is damaged.");
    bool haveBat = false, haveMetadata = false;
    for (std::uint32_t k = 0; k < le32(raw, 8); ++k) {
        VhdxRegion r = parseVhdxRegion(raw, 16 + 32 * static_cast<std::size_t>(k));
        if (r.guid == kVhdxBatRegion) {
            bat = r;
            haveBat = true;
        } else if (r.guid == kVhdxMetadataRegion) {
            metadata = r;
            haveMetadata = true;
        } else if (r.required) {
            return fail("The VHDX file needs a region this reader does not know (" + guidText(r.guid) +
                        "); it cannot be read safely.");
        }
    }
    if (!haveBat || !haveMetadata) return fail("The VHDX region table names no block table or no metadata region.");
    for (const VhdxRegion* r : {&bat, &metadata})
        if (r->fileOffset < kVhdxMiB || r->fileOffset > static_cast<std::uint64_t>(kMaxDiskBytes))
            return fail("The VHDX region table places a region at an impossible offset (" +
                        std::to_string(r->fileOffset) + ").");
    return true;
}

bool FileReadSeekVhdx::readMetadata(const VhdxRegion& region) {
    std::vector<std::uint8_t> table(kVhdxTableBytes);
    readThrough(region.fileOffset, table.data(), table.size());
    if (!hasText(table, 0, "metadata")) return fail("The VHDX metadata table is missing or damaged.");
    bool haveParameters = false, haveSize = false, haveLogical = false;
    physicalSectorSize = 0;
    std::uint32_t count = std::min<std::uint32_t>(le16(table, 10), kMaxTableEntries);
    for (std::uint32_t k = 0; k < count; ++k) {
        VhdxMetadataEntry e = parseVhdxMetadataEntry(table, 32 + 32 * static_cast<std::size_t>(k));
        std::uint64_t want = 0;
        if (e.itemId == kVhdxFileParameters || e.itemId == kVhdxVirtualDiskSize) want = 8;
        else if (e.itemId == kVhdxLogicalSectorSize || e.itemId == kVhdxPhysicalSectorSize) want = 4;
        else if (e.itemId == kVhdxVirtualDiskId) want = 16;
        else if (e.itemId == kVhdxParentLocator) want = e.length;
        else {
            if (e.required) warn("The VHDX metadata holds an item this reader does not know (" + guidText(e.itemId) + ").");
            continue;
        }
        if (want == 0 || e.length < want || want > kMaxLocatorBytes || e.offset < kVhdxTableBytes ||
            std::uint64_t(e.offset) + e.length > region.length) {
            warn("The VHDX metadata item " + guidText(e.itemId) + " is damaged; it is ignored.");
            continue;
        }
        std::vector<std::uint8_t> v(want);
        readThrough(region.fileOffset + e.offset, v.data(), v.size());
        if (e.itemId == kVhdxFileParameters) {
            blockSize = le32(v, 0);
            leaveBlocksAllocated = (le32(v, 4) & 1) != 0;
            hasParent = (le32(v, 4) & 2) != 0;
            haveParameters = true;
        } else if (e.itemId == kVhdxVirtualDiskSize) {
            virtualSize = le64(v, 0);
            haveSize = true;
        } else if (e.itemId == kVhdxLogicalSectorSize) {
            logicalSectorSize = le32(v, 0);
            haveLogical = true;
        } else if (e.itemId == kVhdxPhysicalSectorSize) {
            physicalSectorSize = le32(v, 0);
        } else if (e.itemId == kVhdxVirtualDiskId) {
            virtualDiskId = guidText(guidAt(v, 0));
        } else {
            parentLocator_ = std::move(v);
        }
    }
    if (!haveParameters || !haveSize || !haveLogical)
        return fail("The VHDX metadata lacks the block size, the disk size or the sector size.");
    if (blockSize < kVhdxMiB || blockSize > 256 * kVhdxMiB || (blockSize & (blockSize - 1)) != 0)
        return fail("The VHDX metadata names an invalid block size (" + std::to_string(blockSize) + " bytes).");
    if (logicalSectorSize != 512 && logicalSectorSize != 4096)
        return fail("The VHDX metadata names an invalid sector size (" + std::to_string(logicalSectorSize) + " bytes).");
    if (virtualSize == 0 || virtualSize > static_cast<std::uint64_t>(kMaxDiskBytes))
        return fail("The VHDX metadata names an invalid disk size (" + std::to_string(virtualSize) + " bytes).");
    if (physicalSectorSize == 0) physicalSectorSize = logicalSectorSize;
    // Each sector bitmap block (1 MiB, a bit per sector) covers this many payload blocks.
    chunkRatio_ = (std::uint64_t(1) << 23) * logicalSectorSize / blockSize;
    return true;
}

void FileReadSeekVhdx::readBlockTable(const VhdxRegion& region) {
    std::uint64_t blocks = (virtualSize + blockSize - 1) / blockSize;
    std::uint64_t chunks = (blocks + chunkRatio_ - 1) / chunkRatio_;
    std::uint64_t needed = hasParent ? chunks * (chunkRatio_ + 1) : blocks + (blocks - 1) / chunkRatio_;
    std::uint64_t entries = std::min<std::uint64_t>(needed, region.length / 8);
    if (entries < needed) warn("The VHDX block table is smaller than the disk needs; the blocks it leaves out cannot be read.");
    std::uint64_t available = region.fileOffset < static_cast<std::uint64_t>(fileLength)
                                  ? (static_cast<std::uint64_t>(fileLength) - region.fileOffset) / 8
                                  : 0;
    if (entries > available) {
        warn("The VHDX file is truncated: its block table is incomplete.");
        entries = available;
    }
    std::vector<std::uint8_t> raw(entries * 8);
    if (!raw.empty()) readThrough(region.fileOffset, raw.data(), raw.size());
    bat_.resize(entries);
    std::int64_t dataEnd = 0;
    bool damaged = false;
    for (std::uint64_t k = 0; k < entries; ++k) {
        std::uint64_t e = bat_[k] = le64(raw, k * 8);
        std::uint64_t state = entryState(e), at = entryOffset(e), bytes = 0;
        if (k % (chunkRatio_ + 1) == chunkRatio_) {
            if (state == kFullyPresent) bytes = kVhdxMiB;
            else if (state != kNotPresent) damaged = true;
        } else if (state == kFullyPresent || state == kPartiallyPresent) {
            bytes = blockSize;
        } else if (state > kUnmappedBlock) {
            damaged = true;
        }
        if (bytes == 0) continue;
        if (at < kVhdxMiB) damaged = true;
        dataEnd = std::max<std::int64_t>(dataEnd, at > static_cast<std::uint64_t>(kMaxDiskBytes) - bytes
                                                      ? kMaxDiskBytes
                                                      : static_cast<std::int64_t>(at + bytes));
    }
    tableEntriesRead = entries;
    if (damaged) warn("The VHDX block table has damaged entries; the blocks they name cannot be read.");
    checkTruncation(dataEnd, "VHDX");
}

bool FileReadSeekVhdx::openParentDisk() {
    Bytes loc(parentLocator_);
    if (loc.empty()) return fail("The differencing VHDX file " + path_ + " has no parent locator; its parent cannot be found.");
    if (guidAt(loc, 0) != kVhdxParentLocatorType)
        return fail("The differencing VHDX file " + path_ + " names its parent in an unknown way (" +
                    guidText(guidAt(loc, 0)) + ").");
    for (std::size_t k = 0, n = le16(loc, 18); k < n; ++k) {
        std::size_t at = 20 + 12 * k;
        std::uint64_t keyAt = le32(loc, at), valueAt = le32(loc, at + 4);
        std::uint64_t keyBytes = le16(loc, at + 8), valueBytes = le16(loc, at + 10);
        if (keyAt + keyBytes > loc.size() || valueAt + valueBytes > loc.size()) continue;
        std::string key = utf16leToUtf8(loc, keyAt, keyBytes / 2), value = utf16leToUtf8(loc, valueAt, valueBytes / 2);
        if (key == "parent_linkage") parentLinkage = value;
        else if (key == "parent_linkage2") parentLinkage2 = value;
        else if (key == "relative_path") parentRelativePath = value;
        else if (key == "absolute_win32_path") parentAbsolutePath = value;
    }
    std::vector<std::string> names;
    for (const std::string* n : {&parentRelativePath, &parentAbsolutePath})
        if (!n->empty()) names.push_back(*n);
    if (names.empty())
        return fail("The differencing VHDX file " + path_ + " does not name its parent file.");
    if (!openParent(names, std::nullopt)) return false;
    std::vector<ImageLayer> chain = parent_->layers();
    std::string parentFile = chain.empty() ? parentName_ : chain.front().path;

    // A parent written to after the child was made would show the child's sectors over other data.
    const auto* vhdx = dynamic_cast<const FileReadSeekVhdx*>(parent_.get());
    if (!vhdx)
        return fail("The parent image " + parentFile + " named by " + path_ +
                    " is not a VHDX: a differencing VHDX is read only over the VHDX it was made from.");
    auto linkage = guidFromText(parentLinkage), linkage2 = guidFromText(parentLinkage2);
    if (!(linkage && *linkage == vhdx->dataWriteGuidBytes) && !(linkage2 && *linkage2 == vhdx->dataWriteGuidBytes))
        return fail("The parent image " + parentFile + " does not match " + path_ + " (identifier): the child expects " +
                    (parentLinkage.empty() ? std::string("none") : parentLinkage) + ", the parent is " +
                    vhdx->dataWriteGuid + "; it was changed or replaced after the child was made.");
    std::uint64_t parentBytes = parent_->sectorCount() * kSectorSize;
    if (parentBytes != virtualSize)
        return fail("The parent image " + parentFile + " does not match " + path_ + " (size): its disk is " +
                    std::to_string(parentBytes) + " bytes, the child's " + std::to_string(virtualSize) + ".");
    return true;
}

void FileReadSeekVhdx::replayLog(const VhdxHeader& h) {
    const std::uint64_t size = h.logLength, base = h.logOffset;
    auto unusable = [&](const std::string& why) {
        warn("The VHDX log was not replayed (" + why + "); the image is read as last written, which may be inconsistent.");
    };
    if (size < kVhdxLogSector || size % kVhdxLogSector != 0 || size > kMaxLogBytes || base < kVhdxMiB ||
        base > static_cast<std::uint64_t>(fileLength) || size > static_cast<std::uint64_t>(fileLength) - base)
        return unusable("it lies outside the file");
    // Entries may wrap around the end of the log.
    auto readLog = [&](std::uint64_t pos, std::uint8_t* out, std::uint64_t length) {
        std::uint64_t first = std::min(length, size - pos);
        bool ok = readThrough(base + pos, out, first);
        return (first == length || readThrough(base, out + first, length - first)) && ok;
    };

    struct Entry {
        std::uint64_t pos;
        VhdxLogEntryHeader head;
    };
    std::map<std::uint64_t, Entry> entries;  // every valid entry of this log, by position
    std::vector<std::uint8_t> buf;
    std::array<std::uint8_t, 64> top{};
    for (std::uint64_t pos = 0; pos < size; pos += kVhdxLogSector) {
        readThrough(base + pos, top.data(), top.size());
        VhdxLogEntryHeader e = parseVhdxLogEntryHeader(top);
        if (!hasText(top, 0, "loge") || e.logGuid != h.logGuid || e.entryLength < kVhdxLogSector ||
            e.entryLength % kVhdxLogSector != 0 || e.entryLength > size || e.tail % kVhdxLogSector != 0 ||
            e.tail >= size || e.descriptorCount > (e.entryLength - 64) / 32)
            continue;
        buf.resize(e.entryLength);
        if (!readLog(pos, buf.data(), buf.size()) || !vhdxChecksumMatches(buf)) continue;
        entries[pos] = {pos, e};
        pos += e.entryLength - kVhdxLogSector;  // no entry starts inside a valid one
    }

    // The active sequence ends at the newest entry that leads back, entry by entry, to its tail.
    std::vector<const Entry*> newest;
    for (const auto& [pos, e] : entries) newest.push_back(&e);
    std::sort(newest.begin(), newest.end(),
              [](const Entry* a, const Entry* b) { return a->head.sequenceNumber > b->head.sequenceNumber; });
    std::vector<const Entry*> chain;
    for (std::size_t i = 0; i < newest.size() && i < 64 && chain.empty(); ++i) {
        std::vector<const Entry*> walk;
        std::uint64_t pos = newest[i]->head.tail;
        while (walk.size() < entries.size()) {
            auto it = entries.find(pos);
            if (it == entries.end()) break;
            const Entry& e = it->second;
            if (!walk.empty() && e.head.sequenceNumber != walk.back()->head.sequenceNumber + 1) break;
            walk.push_back(&e);
            if (&e == newest[i]) {
                chain = walk;
                break;
            }
            pos = (pos + e.head.entryLength) % size;
        }
    }
    if (chain.empty()) return unusable(entries.empty() ? "it holds no valid entry" : "no complete sequence of entries");

    LogPages pages;
    LogZeros zeros;
    for (const Entry* e : chain) {
        buf.resize(e->head.entryLength);
        readLog(e->pos, buf.data(), buf.size());
        const std::uint64_t seq = e->head.sequenceNumber;
        std::uint64_t dataAt = (64 + 32 * std::uint64_t(e->head.descriptorCount) + kVhdxLogSector - 1) / kVhdxLogSector *
                               kVhdxLogSector;
        for (std::uint32_t d = 0; d < e->head.descriptorCount; ++d) {
            Bytes desc = Bytes(buf).subspan(64 + 32 * std::size_t(d), 32);
            std::uint64_t at = le64(desc, 16);
            if (le64(desc, 24) != seq || at % kVhdxLogSector != 0 || at > static_cast<std::uint64_t>(kMaxDiskBytes))
                return unusable("a descriptor is damaged");
            if (hasText(desc, 0, "zero")) {
                std::uint64_t length = le64(desc, 8);
                if (length % kVhdxLogSector != 0 || length > static_cast<std::uint64_t>(kMaxDiskBytes) - at)
                    return unusable("a descriptor is damaged");
                logZero(pages, zeros, at, length);
            } else if (hasText(desc, 0, "desc")) {
                if (dataAt + kVhdxLogSector > buf.size()) return unusable("an entry is shorter than its descriptors");
                Bytes sector = Bytes(buf).subspan(dataAt, kVhdxLogSector);
                if (!hasText(sector, 0, "data") || (std::uint64_t(le32(sector, 4)) << 32 | le32(sector, 4092)) != seq)
                    return unusable("a data sector is damaged");
                // The sector's signature and sequence words stand where the descriptor keeps the page's first 8 and last 4 bytes.
                std::vector<std::uint8_t> page(sector.begin(), sector.end());
                std::memcpy(page.data(), desc.data() + 8, 8);
                std::memcpy(page.data() + kVhdxLogSector - 4, desc.data() + 4, 4);
                logPage(pages, zeros, at / kVhdxLogSector, std::move(page));
                dataAt += kVhdxLogSector;
            } else {
                return unusable("a descriptor is damaged");
            }
        }
    }
    if (chain.back()->head.flushedFileOffset > static_cast<std::uint64_t>(fileLength))
        warn("The VHDX file is truncated: it is shorter than its log says it was; data may be missing.");
    logPages_ = std::move(pages);
    logZeros_ = std::move(zeros);
    logEntriesReplayed = chain.size();
}

bool FileReadSeekVhdx::overlaid(std::uint64_t at, std::uint64_t& until) const {
    until = kNoLimit;
    if (logPages_.empty() && logZeros_.empty()) return false;
    std::uint64_t page = at / kVhdxLogSector;
    auto p = logPages_.lower_bound(page);
    if (p != logPages_.end()) {
        if (p->first == page) {
            until = (page + 1) * kVhdxLogSector;
            return true;
        }
        until = p->first * kVhdxLogSector;
    }
    auto z = logZeros_.upper_bound(at);
    if (z != logZeros_.begin() && std::prev(z)->second > at) {
        until = std::prev(z)->second;
        return true;
    }
    if (z != logZeros_.end()) until = std::min(until, z->first);
    return false;
}

bool FileReadSeekVhdx::readThrough(std::uint64_t offset, std::uint8_t* out, std::uint64_t length) const {
    std::int64_t got = 0;
    if (offset < static_cast<std::uint64_t>(fileLength)) got = std::max<std::int64_t>(file_.readAt(static_cast<std::int64_t>(offset), out, length), 0);
    std::uint64_t have = static_cast<std::uint64_t>(got);
    std::memset(out + have, 0, length - have);
    if (logPages_.empty() && logZeros_.empty()) return have == length;
    bool complete = true;
    for (std::uint64_t x = offset, end = offset + length; x < end;) {
        std::uint64_t until = 0;
        bool over = overlaid(x, until);
        std::uint64_t stop = std::min(end, until);
        if (over) {
            auto p = logPages_.find(x / kVhdxLogSector);
            if (p != logPages_.end()) std::memcpy(out + (x - offset), p->second.data() + x % kVhdxLogSector, stop - x);
            else std::memset(out + (x - offset), 0, stop - x);
        } else if (stop > offset + have) {
            complete = false;
        }
        x = stop;
    }
    return complete;
}

BlockMappedReader::Mapping FileReadSeekVhdx::present(std::uint64_t fileOffset, std::uint64_t length) const {
    Mapping m;
    m.length = length;
    std::uint64_t until = 0;
    if (overlaid(fileOffset, until)) {
        m.kind = Kind::Decoded;
        m.fileOffset = static_cast<std::int64_t>(fileOffset);
        m.length = std::min(length, until - fileOffset);
        return m;
    }
    m.length = std::min(length, until - fileOffset);
    // Past the end of a truncated file nothing can be read.
    if (fileOffset >= static_cast<std::uint64_t>(fileLength)) {
        m.reason = "the image file ends before it";
        return m;
    }
    m.kind = Kind::Data;
    m.fileOffset = static_cast<std::int64_t>(fileOffset);
    m.length = std::min(m.length, static_cast<std::uint64_t>(fileLength) - fileOffset);
    return m;
}

std::shared_ptr<const std::vector<std::uint8_t>> FileReadSeekVhdx::sectorBitmap(std::uint64_t chunk) const {
    return bitmaps_.get(chunk, [&] {
        std::vector<std::uint8_t> bits;
        std::uint64_t index = chunk * (chunkRatio_ + 1) + chunkRatio_;
        if (index >= bat_.size() || entryState(bat_[index]) != kFullyPresent) return bits;
        std::uint64_t at = entryOffset(bat_[index]);
        std::uint64_t until = 0;
        if (at < kVhdxMiB || (at >= static_cast<std::uint64_t>(fileLength) && !overlaid(at, until))) return bits;
        bits.resize(kVhdxMiB);
        // Bits past the end of a truncated file read as clear: those sectors come from the parent.
        readThrough(at, bits.data(), bits.size());
        return bits;
    });
}

ReaderDetails FileReadSeekVhdx::details() const {
    ReaderDetails d;
    d.add("Block size:", std::to_string(blockSize) + " bytes");
    d.add("Logical sector size:", std::to_string(logicalSectorSize) + " bytes");
    d.add("Physical sector size:", std::to_string(physicalSectorSize) + " bytes");
    if (logEntriesReplayed) d.add("Log replayed:", std::to_string(logEntriesReplayed) + " entries (in memory)");
    return d;
}

BlockMappedReader::Mapping FileReadSeekVhdx::mapAt(std::uint64_t a) const {
    Mapping m;
    if (blockSize == 0 || a >= virtualSize) {
        m.length = static_cast<std::uint64_t>(kMaxDiskBytes);
        return m;
    }
    std::uint64_t block = a / blockSize, inBlock = a % blockSize;
    m.length = std::min<std::uint64_t>(blockSize - inBlock, virtualSize - a);
    std::uint64_t index = block + block / chunkRatio_;
    if (index >= bat_.size()) {
        m.reason = "its block lies beyond the block table";
        return m;
    }
    std::uint64_t e = bat_[index], at = entryOffset(e);
    std::uint64_t state = entryState(e);
    if (state == kNotPresent) {
        m.kind = hasParent ? Kind::Parent : Kind::Zero;
        return m;
    }
    if (state == kUndefined || state == kZeroBlock || state == kUnmappedBlock) {
        m.kind = Kind::Zero;
        return m;
    }
    // A block placed over the headers or beyond any disk is damage.
    if ((state != kFullyPresent && state != kPartiallyPresent) || at < kVhdxMiB ||
        at > static_cast<std::uint64_t>(kMaxDiskBytes)) {
        m.reason = "its block table entry is damaged";
        return m;
    }
    if (state == kFullyPresent || !hasParent) return present(at + inBlock, m.length);

    // Partly in this file: the chunk's sector bitmap says which sectors.
    std::uint64_t chunk = block / chunkRatio_;
    std::shared_ptr<const std::vector<std::uint8_t>> bitmap = sectorBitmap(chunk);
    if (bitmap->empty()) {
        m.reason = "its sector bitmap cannot be read";
        return m;
    }
    const std::uint8_t* bits = bitmap->data();
    std::uint64_t rel = a - chunk * chunkRatio_ * blockSize;
    std::uint64_t s = rel / logicalSectorSize, last = (rel + m.length - 1) / logicalSectorSize;
    bool here = (bits[s >> 3] >> (s & 7)) & 1;
    std::uint8_t same = here ? 0xFF : 0x00;
    for (++s; s <= last;) {
        if ((s & 7) == 0 && s + 7 <= last && bits[s >> 3] == same) {
            s += 8;
            continue;
        }
        if ((((bits[s >> 3] >> (s & 7)) & 1) != 0) != here) break;
        ++s;
    }
    m.length = std::min(m.length, s * logicalSectorSize - rel);
    if (!here) {
        m.kind = Kind::Parent;
        return m;
    }
    return present(at + inBlock, m.length);
}

bool FileReadSeekVhdx::readDecoded(std::uint64_t virtualOffset, std::uint8_t* out, std::uint64_t length) const {
    Mapping m = mapAt(virtualOffset);
    if (m.kind != Kind::Decoded || m.length < length) {
        std::memset(out, 0, length);
        return false;
    }
    return readThrough(static_cast<std::uint64_t>(m.fileOffset), out, length);
}

}  // namespace ondrel
