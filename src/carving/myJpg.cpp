#include "carving/myJpg.h"

#include "carving/UnreadableLog.h"
#include "common/Utf16.h"
#include "volumes/SectorSweep.h"

#include <algorithm>
#include <cstring>

namespace ondrel {

namespace {
constexpr std::int64_t kSector = 512;
constexpr std::uint8_t kWildcard = 0x2A;  // "*" matches any byte

std::string utf8(const std::u16string& s) {
    std::vector<std::uint8_t> b;
    for (char16_t c : s) b.push_back(static_cast<std::uint8_t>(c)), b.push_back(static_cast<std::uint8_t>(c >> 8));
    return utf16leToUtf8(Bytes(b), 0, s.size());
}

bool matches(const std::uint8_t* at, const std::vector<std::uint8_t>& signature) {
    for (std::size_t i = 0; i < signature.size(); ++i)
        if (signature[i] != kWildcard && signature[i] != at[i]) return false;
    return true;
}

// Whatever a definition states, no file or skip is longer than any disk.
std::int64_t bounded(std::int64_t v) { return std::clamp<std::int64_t>(v, 0, kMaxDiskBytes); }
std::int64_t roundUp(std::int64_t v) { return (bounded(v) + kSector - 1) / kSector * kSector; }
}  // namespace

const char* carveEndText(CarveEnd how) {
    switch (how) {
    case CarveEnd::EndSignature: return "end signature";
    case CarveEnd::SizeField: return "size field";
    case CarveEnd::Cap: return "cap";
    case CarveEnd::NoEnd: return "no end";
    case CarveEnd::Structure: return "structure";
    case CarveEnd::Truncated: return "truncated";
    }
    return "";
}

SignatureEntry SignatureEntry::from(const SignatureRecord& r) {
    SignatureEntry e;
    e.extension = utf8(r.extension);
    e.category = r.category.empty() ? "Others" : utf8(r.category);
    e.start = r.start;
    e.end = r.end;
    e.startOffset = r.startOffset;
    // An offset to size below 1 is no size field (the dialog's 0 leaves none).
    e.sizeOffset = r.sizeOffset < 1 ? -1 : r.sizeOffset;
    e.sizeBytes = r.sizeBytes;
    e.headerSize = r.headerSize;
    e.sizeIncludesHeader = r.sizeIncludesHeader;
    e.approximateSize = bounded(r.approximateSize);
    e.sizeToSkip = bounded(r.sizeToSkip);
    e.check = structureCheckFor(e.extension);
    return e;
}

void myJpg::addSignatures(const std::vector<SignatureRecord>& records) {
    for (const SignatureRecord& r : records) {
        entries_.push_back(SignatureEntry::from(r));
        const std::string& c = entries_.back().category;
        if (counts_.emplace(c, 0).second) categoryOrder_.push_back(c);
    }
}

bool myJpg::loadSettings(const std::string& path, std::string& message) {
    std::vector<SignatureRecord> records;
    if (!loadSignatureRecords(path, records, message)) return false;
    addSignatures(records);
    return true;
}

std::int64_t myJpg::count(const std::string& category) const {
    auto it = counts_.find(category);
    return it == counts_.end() ? 0 : it->second;
}

std::string myJpg::fileName(const CarvedFile& f) const {
    return std::to_string(onDisk(f.offset)) + " ." + extension(f);
}

bool myJpg::buildMatchTable() {
    byFirstByte_.assign(256, {});
    general_.clear();
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        const SignatureEntry& e = entries_[i];
        // A signature of one byte would match everywhere; it never does.
        if (e.start.size() < 2 || e.startOffset + e.start.size() > kSector) continue;
        if (e.startOffset == 0 && e.start[0] != kWildcard) {
            byFirstByte_[e.start[0]].push_back(i);
            continue;
        }
        // The first byte it names decides most sectors at once (ISO media's "ftyp" after four any bytes).
        std::size_t k = 0;
        while (k < e.start.size() && e.start[k] == kWildcard) ++k;
        if (k == e.start.size()) continue;  // nothing but "*": it would match everywhere
        general_.push_back({i, e.startOffset + k, e.start[k]});
    }
    return !entries_.empty();
}

int myJpg::matchStart(const std::uint8_t* sector) const {
    // The definition loaded first wins.
    std::size_t best = SIZE_MAX;
    for (std::size_t i : byFirstByte_[sector[0]]) {
        if (matches(sector, entries_[i].start)) {
            best = i;
            break;
        }
    }
    for (const General& g : general_) {
        if (g.entry >= best) break;
        if (sector[g.at] != g.byte) continue;
        if (matches(sector + entries_[g.entry].startOffset, entries_[g.entry].start)) {
            best = g.entry;
            break;
        }
    }
    return best == SIZE_MAX ? -1 : static_cast<int>(best);
}

void myJpg::record(std::size_t entry, std::int64_t offset, std::int64_t size, CarveEnd how, const char* extension) {
    // No find reaches past the scanned range: a size field that says more is a file cut short.
    if (scanEnd_ > offset && size > scanEnd_ - offset) {
        size = scanEnd_ - offset;
        if (how == CarveEnd::SizeField) how = CarveEnd::Truncated;
    }
    // A truncated find is only as long as the next file lets it be.
    if (truncatedOpen_ < files_.size()) {
        CarvedFile& open = files_[truncatedOpen_];
        if (offset > open.offset && offset < open.offset + open.size) open.size = offset - open.offset;
        if (offset >= open.offset) truncatedOpen_ = SIZE_MAX;
    }
    files_.push_back({offset, size, entry, how, extension, false});
    if (how == CarveEnd::Truncated) truncatedOpen_ = files_.size() - 1;
    ++counts_[entries_[entry].category];
    if (listener_) listener_(files_.back());
}

std::size_t myJpg::refined(std::size_t entry, const char* extension) const {
    if (!extension) return entry;
    const SignatureEntry& e = entries_[entry];
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].check == e.check && entries_[i].extension == extension) return i;
    return entry;
}

std::int64_t myJpg::checkStructure(std::size_t entry, const ByteSource& reader, std::int64_t at, std::int64_t end,
                                   WorkControl& control) {
    const SignatureEntry& e = entries_[entry];
    cursor_.reset(reader, at, std::min(cap(e), end - at), &control);
    const StructureResult r = e.check(cursor_);
    switch (r.verdict) {
    case StructureVerdict::NotMine: return -1;
    case StructureVerdict::NotAFile: return 0;
    case StructureVerdict::Whole:
    case StructureVerdict::Truncated:
        if (r.size <= 0) return 0;  // no valid byte: nothing to record
        break;
    }
    const std::size_t owner = refined(entry, r.extension);
    const char* extension = r.extension && entries_[owner].extension != r.extension ? r.extension : nullptr;
    const bool whole = r.verdict == StructureVerdict::Whole && !cursor_.stopped();
    const std::int64_t size = std::max<std::int64_t>(std::min(r.size, cursor_.limit()), 1);
    record(owner, at, size, whole ? CarveEnd::Structure : CarveEnd::Truncated, extension);
    if (cursor_.unreadable()) files_.back().unreadable = true;
    // What a verified end closes holds no other file's start; the rest is looked through.
    const std::int64_t skip = whole && r.endVerified ? size : 0;
    return roundUp(std::max(skip, e.sizeToSkip));
}

void myJpg::close(std::size_t entry, std::int64_t size, CarveEnd how) {
    Pending& p = pending_[entry];
    record(entry, p.start, std::min(size, cap(entries_[entry])), how);
    p.open = false;
    --openCount_;
}

bool myJpg::scan(const ByteSource& source, std::int64_t begin, std::int64_t size, ScanObserver& observer,
                 WorkControl& control) {
    if (entries_.empty() || byFirstByte_.size() != 256) return false;
    // Every read of the scan, the structure checks' too, notes what fails.
    UnreadableLog reader(source);
    cursor_.setStartProbe([this](const std::uint8_t* sector) { return matchStart(sector) >= 0; });
    // A scan starts afresh; the definitions stay for the next one.
    files_.clear();
    unreadable_.clear();
    truncatedOpen_ = SIZE_MAX;
    for (auto& [category, n] : counts_) n = 0;
    pending_.assign(entries_.size(), {});
    openCount_ = 0;
    std::size_t maxEnd = 0;
    for (const SignatureEntry& e : entries_) maxEnd = std::max(maxEnd, e.end.size());
    const std::int64_t end = begin + size;
    scanEnd_ = std::min(end, reader.size());
    std::int64_t skipUntil = 0;  // no start is looked for before this
    std::int64_t reached = begin;
    SweepOptions o;
    o.begin = begin;
    o.end = end;
    o.stride = kSector;
    o.window = static_cast<std::uint32_t>(kSector + maxEnd + 8);
    o.chunkBytes = 256 << 10;  // stays in the cache between the copy from the kernel and the scan
    observer.status("Processing.....");
    SweepOutcome outcome = sweepChunks(
        reader, o, observer, control,
        [&](const std::uint8_t* bytes, std::int64_t position, std::int64_t length) -> std::int64_t {
            // The structure checks read what this chunk (and its margin) holds from it.
            cursor_.offer(bytes, position, length + static_cast<std::int64_t>(o.window - o.stride));
            std::int64_t p = 0;
            while (p < length) {
                const std::int64_t at = position + p;
                const std::uint8_t* sector = bytes + p;
                std::int64_t next = p + kSector;
                // Starts at this sector.
                if (at >= skipUntil) {
                    int hit = matchStart(sector);
                    if (hit >= 0) {
                        const std::size_t i = static_cast<std::size_t>(hit);
                        const SignatureEntry& e = entries_[i];
                        const std::int64_t moved = e.check ? checkStructure(i, reader, at, end, control) : -1;
                        if (moved >= 0) {
                            if (moved > kSector) next = p + moved;
                        } else if (!e.end.empty()) {
                            // A new header of the same kind ends the one still open.
                            if (pending_[i].open) close(i, at - pending_[i].start, CarveEnd::NoEnd);
                            pending_[i] = {true, at, at + e.startOffset + static_cast<std::int64_t>(e.start.size())};
                            ++openCount_;
                            if (e.sizeToSkip > 0) skipUntil = at + roundUp(e.sizeToSkip);
                        } else if (e.hasSizeField()) {
                            std::uint64_t value = 0;
                            for (std::int32_t k = e.sizeBytes - 1; k >= 0; --k) value = value << 8 | sector[e.sizeOffset + k];
                            const std::int64_t found =
                                static_cast<std::int64_t>(std::min<std::uint64_t>(value, static_cast<std::uint64_t>(kMaxDiskBytes))) +
                                (e.sizeIncludesHeader ? 0 : std::max<std::int32_t>(e.headerSize, 0));
                            // A size of nothing or beyond the cap is no file of this kind.
                            if (value > 0 && found <= cap(e)) {
                                record(i, at, found, CarveEnd::SizeField);
                                next = p + roundUp(std::max<std::int64_t>(found, e.sizeToSkip));
                            }
                        } else {
                            record(i, at, cap(e), CarveEnd::Cap);
                            next = p + roundUp(std::max<std::int64_t>(e.sizeToSkip, kSector));
                        }
                    }
                }
                // Ends of the open finds, at any byte of this sector (most sectors have none open).
                for (std::size_t i = 0; openCount_ > 0 && i < pending_.size(); ++i) {
                    Pending& pd = pending_[i];
                    if (!pd.open) continue;
                    const SignatureEntry& e = entries_[i];
                    const std::int64_t from = std::max(pd.searchFrom, at);
                    const std::uint8_t* q = bytes + (from - position);
                    const std::uint8_t* stop = bytes + p + kSector;
                    bool closed = false;
                    for (; q < stop; ++q) {
                        if (e.end[0] != kWildcard) {
                            q = static_cast<const std::uint8_t*>(std::memchr(q, e.end[0], static_cast<std::size_t>(stop - q)));
                            if (!q) break;
                        }
                        if (matches(q, e.end)) {
                            const std::int64_t last = position + (q - bytes) + static_cast<std::int64_t>(e.end.size());
                            close(i, last - pd.start, last - pd.start > cap(e) ? CarveEnd::NoEnd : CarveEnd::EndSignature);
                            closed = true;
                            break;
                        }
                    }
                    // Too long for its kind: closed at the cap.
                    if (!closed && at + kSector - pd.start >= cap(e)) close(i, cap(e), CarveEnd::NoEnd);
                }
                p = next;
            }
            reached = position + p;
            return p;
        },
        [](std::int64_t) {});
    cursor_.offer(nullptr, 0, 0);
    // What is still open ends where the scan ended.
    const std::int64_t last = std::min(outcome.stopped ? reached : end, end);
    for (std::size_t i = 0; i < pending_.size(); ++i)
        if (pending_[i].open) close(i, std::max<std::int64_t>(last - pending_[i].start, kSector), CarveEnd::NoEnd);
    std::sort(files_.begin(), files_.end(), [](const CarvedFile& a, const CarvedFile& b) { return a.offset < b.offset; });
    unreadable_ = reader.stretches();
    for (CarvedFile& f : files_)
        if (overlapsUnreadable(unreadable_, f.offset, f.size)) f.unreadable = true;
    return true;
}

}  // namespace ondrel
